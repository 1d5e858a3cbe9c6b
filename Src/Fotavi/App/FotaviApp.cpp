#include "App/FotaviApp.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include <cstdio>
#include <new>

#include "Common/StringTable.h"
#include "Common/TraceLog.h"
#include "App/Icons.h"
#include "App/MainFrm.h"
#include "App/ProgramParts.h"
#include "Platform/Library.h"
#include "QtGlue/QtMessagePump.h"
#include "App/Resource.h"

namespace {
CFotaviApp* g_pApp = nullptr;

std::string FormatText(const std::string& format, const std::string& arg) {
  std::string out;
  const size_t at = format.find("%s");
  if (at == std::string::npos) return format;
  out = format.substr(0, at) + arg + format.substr(at + 2);
  return out;
}
}  // namespace

CFotaviApp* CFotaviApp::Instance() { return g_pApp; }

const CJpeg& FotaviJpeg() {
  static const CJpeg builtIn;
  return g_pApp ? g_pApp->GetJpeg() : builtIn;
}

int FotaviMessageBoxText(const std::string& text, UINT type) {
  if (g_pApp && g_pApp->GetControlDialog()) return g_pApp->GetControlDialog()->AfxMessageBox(text, type);
  return GetUserInterfaceService()->MessageBox(nullptr, text, GetApplicationTitle(), type);
}

int FotaviMessageBox(UINT stringId, UINT type) { return FotaviMessageBoxText(FotaviText(stringId), type); }

CFotaviApp::CFotaviApp() { g_pApp = this; }

CFotaviApp::~CFotaviApp() {
  ExitInstance();
  if (g_pApp == this) g_pApp = nullptr;
}

CDocTemplate* CFotaviApp::FindTemplate(const std::string& name) const {
  for (const auto& t : m_Templates)
    if (t->GetDocString(2) == name) return t.get();
  return nullptr;
}

BOOL CFotaviApp::InitInstance() {
  static const char* const kLog = "CFotaviApp::InitInstance";
  LoadFotaviStrings();
  // Icons: the desktop's theme (or the installed one) and the program's own.
  SetUpIconTheme();
  if (qApp) QApplication::setWindowIcon(ProgramIcon());
  // Platform messages of the GUI thread are delivered inside Qt's loop.
  if (!m_pPump) m_pPump = std::make_unique<QtMessagePump>();

  // Single instance, shared with the movie program and the TWAIN source.
  switch (CreateAppMutex(m_strMutexName, true, &m_pAppMutex)) {
    case APPMUTEX_CREATED:
      break;
    case APPMUTEX_EXISTS:
      TraceLog(TRC_PRE, kLog, "The application is already launched.");
      FotaviMessageBox(IDS_ALREADY_LAUNCHED);
      return FALSE;
    case APPMUTEX_ACCESSDENIED:
      TraceLog(TRC_PRE, kLog, "The application is used by the other user.");
      FotaviMessageBox(IDS_OTHER_USER);
      return FALSE;
    default:
      TraceLog(TRC_PRE, kLog, "The error occurred with the [CreateAppMutex()] function.");
      FotaviMessageBox(IDS_INIT_ERROR);
      return FALSE;
  }

  try {
    m_pControlDialog = std::make_unique<CControlDialog>();
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, kLog, "CControlDialog");
    FotaviMessageBox(IDS_INIT_ERROR);
    return FALSE;
  }

  try {
    // The areas' document kinds and tools, then the two templates.
    RegisterProgramParts();
    m_Templates.clear();
    m_Templates.push_back(std::make_unique<CDocTemplate>(IDR_IMAGETYPE, DOCSTRINGS_IMAGE));
    m_Templates.push_back(std::make_unique<CDocTemplate>(IDR_ANIMETYPE, DOCSTRINGS_ANIME));
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, kLog, "CMultiDocTemplate");
    FotaviMessageBox(IDS_INIT_ERROR);
    return FALSE;
  }

  if (!LoadDll(m_strDeviceLibrary)) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [LoadDll] function.");
    return FALSE;
  }
  LoadJpegDll();
  m_Jpeg = CJpeg(m_pfnLoadJpeg, m_pfnSaveJpeg, m_pfnGetJpegInfo);
  m_strHelpPath = GetHelpFilePath();

  try {
    m_pMainFrame = new CMainFrame(this);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, kLog, "new CMainFrame");
    FotaviMessageBox(IDS_INIT_ERROR);
    return FALSE;
  }
  if (!m_pMainFrame->LoadFrame()) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [LoadFrame] function.");
    delete m_pMainFrame;
    m_pMainFrame = nullptr;
    FotaviMessageBox(IDS_INIT_ERROR);
    return FALSE;
  }
  // No document opens at start, whatever the command line says.
  m_pMainFrame->show();
  return TRUE;
}

int CFotaviApp::ExitInstance() {
  if (m_pMainFrame) {
    // Its destruction closes the device (bClose) and removes the work folder.
    CMainFrame* frame = m_pMainFrame;
    m_pMainFrame = nullptr;
    delete frame;
  }
  UnloadDll();
  UnloadJpegDll();
  m_Jpeg = CJpeg();
  m_pAppMutex.reset();
  m_pControlDialog.reset();
  m_Templates.clear();
  m_pPump.reset();
  return 0;
}

BOOL CFotaviApp::LoadDll(const std::string& name) {
  static const char* const kLog = "CFotaviApp::LoadDll";
  if (m_Binding.create) {
    m_bBound = true;
    if (!m_Binding.create(&m_pDevice) || !m_pDevice) {
      m_pDevice = nullptr;
      TraceLog(TRC_PRE, kLog, "The error occurred with the [fncCreateInstance] function.");
      FotaviMessageBox(IDS_INIT_ERROR);
      return FALSE;
    }
    return TRUE;
  }
  m_hDeviceDll = LoadLibrary(name);
  if (!m_hDeviceDll) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [LoadLibrary] function. GetLastError=[0x%08X]",
             GetLastError());
    FotaviMessageBoxText(FormatText(LoadStringText(IDS_LOADLIB_ERROR), name));
    return FALSE;
  }
  m_pfnCreateInstance = GetProcAddressAs<PFN_CREATEINSTANCE>(m_hDeviceDll, FOTAVI_CREATEINSTANCE);
  m_pfnReleaseInstance =
      m_pfnCreateInstance ? GetProcAddressAs<PFN_RELEASEINSTANCE>(m_hDeviceDll, FOTAVI_RELEASEINSTANCE) : nullptr;
  if (!m_pfnCreateInstance || !m_pfnReleaseInstance) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [GetProcAddress] function. GetLastError=[0x%08X]",
             GetLastError());
    return DropDeviceLibrary();
  }
  if (!m_pfnCreateInstance(&m_pDevice) || !m_pDevice) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [fncCreateInstance] function.");
    m_pDevice = nullptr;
    return DropDeviceLibrary();
  }
  return TRUE;
}

BOOL CFotaviApp::DropDeviceLibrary() {
  m_pfnCreateInstance = nullptr;
  m_pfnReleaseInstance = nullptr;
  FreeLibrary(m_hDeviceDll);
  m_hDeviceDll = nullptr;
  FotaviMessageBox(IDS_INIT_ERROR);
  return FALSE;
}

BOOL CFotaviApp::UnloadDll() {
  if (m_pDevice) {
    if (m_bBound) {
      if (m_Binding.release) m_Binding.release(&m_pDevice);
    } else if (m_pfnReleaseInstance) {
      m_pfnReleaseInstance(&m_pDevice);
    }
    m_pDevice = nullptr;
  }
  m_bBound = false;
  BOOL ok = TRUE;
  if (m_hDeviceDll) {
    ok = FreeModuleLogged(m_hDeviceDll, "CFotaviApp::UnloadDll");
    m_hDeviceDll = nullptr;
  }
  m_pfnCreateInstance = nullptr;
  m_pfnReleaseInstance = nullptr;
  return ok;
}

void CFotaviApp::ForgetJpegEntryPoints() {
  m_pfnLoadJpeg = nullptr;
  m_pfnSaveJpeg = nullptr;
  m_pfnGetJpegInfo = nullptr;
}

BOOL CFotaviApp::FreeModuleLogged(HMODULE module, const char* logName) {
  if (FreeLibrary(module)) return TRUE;
  TraceLog(TRC_PRE, logName, "The error occurred with the [FreeLibrary] function. GetLastError=[0x%08X]",
           GetLastError());
  return FALSE;
}

BOOL CFotaviApp::LoadJpegDll() {
  static const char* const kLog = "CFotaviApp::LoadJpegDll";
  const char* name = JpegCodecLibraryName(GetJpegLibType());
  if (!name) {
    TraceLog(TRC_PRE, kLog, "The library is not used.");
    return FALSE;
  }
  TraceLog(TRC_PRE, kLog, "%s library used.", name);
  m_hJpegDll = LoadLibrary(name);
  if (!m_hJpegDll) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [LoadLibrary] function. GetLastError=[0x%08X]",
             GetLastError());
    return FALSE;
  }
  m_pfnLoadJpeg = GetProcAddressAs<PFN_FNCLOADJPEGW>(m_hJpegDll, FNC_LOADJPEGW);
  m_pfnSaveJpeg = m_pfnLoadJpeg ? GetProcAddressAs<PFN_FNCSAVEJPEGW>(m_hJpegDll, FNC_SAVEJPEGW) : nullptr;
  m_pfnGetJpegInfo = m_pfnSaveJpeg ? GetProcAddressAs<PFN_FNCGETJPEGINFOW>(m_hJpegDll, FNC_GETJPEGINFOW) : nullptr;
  if (!m_pfnLoadJpeg || !m_pfnSaveJpeg || !m_pfnGetJpegInfo) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [GetProcAddress] function. GetLastError=[0x%08X]",
             GetLastError());
    FreeLibrary(m_hJpegDll);
    m_hJpegDll = nullptr;
    ForgetJpegEntryPoints();
    return FALSE;
  }
  return TRUE;
}

BOOL CFotaviApp::UnloadJpegDll() {
  if (!m_hJpegDll) return TRUE;
  // The codec entry points go before the module does.
  m_Jpeg = CJpeg();
  if (!FreeModuleLogged(m_hJpegDll, "CFotaviApp::UnloadJpegDll")) return FALSE;
  m_hJpegDll = nullptr;
  ForgetJpegEntryPoints();
  return TRUE;
}

void CFotaviApp::OnAppAbout() {
  if (m_pControlDialog) m_pControlDialog->BeginModal();
  QMessageBox::about(m_pMainFrame, QString::fromStdString(GetApplicationTitle()),
                     QStringLiteral("<b>Fotavi for Presentation</b><br>Version 1.0<br>"
                                    "Live monitor, still pictures and SD memory of the document camera."));
  if (m_pControlDialog) m_pControlDialog->EndModal();
}

void CFotaviApp::OnHelp() {
  // No help viewer of its own: the help file goes to the desktop's handler.
  if (!m_strHelpPath.empty() && QFileInfo::exists(QString::fromStdString(m_strHelpPath)) &&
      QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(m_strHelpPath))))
    return;
  TraceLog(TRC_PRE, "CMainFrame::HtmlHelp", "The help file is not available. [%s]", m_strHelpPath.c_str());
  FotaviMessageBoxText(m_strHelpPath.empty() ? std::string("The help file is not available.")
                                             : "The help file is not available.\n" + m_strHelpPath,
                       MB_OK | MB_ICONINFORMATION);
}

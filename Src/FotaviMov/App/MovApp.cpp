#include "MovApp.h"
#include "MovStrings.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "Common/CommonFunc.h"
#include "Common/StringTable.h"
#include "Common/TraceLog.h"
#include "MovResource.h"
#include "Platform/Library.h"
#include "QtGlue/QtMessagePump.h"

namespace {
CFotaviMovApp* g_pApp = nullptr;

// Runs one making step of the start-up: out of memory logs `what` and shows
// 133, any other exception logs "catch ..." and shows 135; FALSE then.
template <typename Fn>
bool MakeGuarded(const char* log, const char* what, Fn&& make) {
  try {
    make();
    return true;
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_MOV, log, what);
    MovMessageBox(IDS_MOV_NO_RESOURCES);
  } catch (...) {
    TraceLog(TRC_MOV, log, "catch ...");
    MovMessageBox(IDS_MOV_INIT_ERROR);
  }
  return false;
}
}  // namespace

CFotaviMovApp* CFotaviMovApp::Instance() { return g_pApp; }

const CJpeg& MovJpeg() {
  static const CJpeg builtIn;
  return g_pApp ? g_pApp->GetJpeg() : builtIn;
}

int MovMessageBoxText(const std::string& text, UINT type) {
  if (g_pApp && g_pApp->GetControlDialog()) return g_pApp->GetControlDialog()->AfxMessageBox(text, type);
  return GetUserInterfaceService()->MessageBox(nullptr, text, GetApplicationTitle(), type);
}

int MovMessageBox(UINT stringId, UINT type) { return MovMessageBoxText(LoadStringText(stringId), type); }

std::string MovFormatString(UINT stringId, const std::string& arg) {
  std::string text = LoadStringText(stringId);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, arg);
  return text;
}

CFotaviMovApp::CFotaviMovApp() : m_strMutexName(APP_MUTEX_NAME) { g_pApp = this; }

CFotaviMovApp::~CFotaviMovApp() {
  ExitInstance();
  if (g_pApp == this) g_pApp = nullptr;
}

BOOL CFotaviMovApp::InitInstance() {
  static const char* const kLog = "CFotaviMovApp::InitInstance";
  LoadFotaviMovStrings();
  // Platform messages of the GUI thread (device state, the live picture's
  // notices) are delivered inside Qt's event loop.
  if (!m_pPump) m_pPump = std::make_unique<QtMessagePump>();

  switch (CreateAppMutex(m_strMutexName, true, &m_pAppMutex)) {
    case APPMUTEX_CREATED:
      break;
    case APPMUTEX_EXISTS:
      TraceLog(TRC_MOV, kLog, "The application is already launched.");
      MovMessageBox(IDS_MOV_ALREADY_LAUNCHED);
      return FALSE;
    case APPMUTEX_ACCESSDENIED:
      TraceLog(TRC_MOV, kLog, "The application is used by the other user.");
      MovMessageBox(IDS_MOV_OTHER_USER);
      return FALSE;
    default:
      TraceLog(TRC_MOV, kLog, "The error occurred with the [CreateAppMutex()] function.");
      MovMessageBox(IDS_MOV_INIT_ERROR);
      return FALSE;
  }

  if (!LoadDll(m_strDeviceLibrary)) return FALSE;
  // Without an outside codec the live picture is decoded with libjpeg.
  LoadJpegDll();
  m_Jpeg = CJpeg(m_pfnLoadJpeg, nullptr, m_pfnGetJpegInfo);
  m_strHelpPath = GetHelpFilePath();

  if (!MakeGuarded(kLog, "CControlDialog", [this] { m_pControlDialog = std::make_unique<CControlDialog>(); }))
    return FALSE;
  if (!m_FrameFactory) {
    TraceLog(TRC_MOV, kLog, "The error occurred with the [CSingleDocTemplate] function.");
    MovMessageBox(IDS_MOV_INIT_ERROR);
    return FALSE;
  }
  if (!MakeGuarded(kLog, "CSingleDocTemplate", [this] { m_pMainFrame = m_FrameFactory(this); })) return FALSE;
  if (!m_pMainFrame) return FALSE;
  m_pMainFrame->ShowFrame();
  return TRUE;
}

int CFotaviMovApp::ExitInstance() {
  // The main window goes first: its destruction closes the device.
  m_pMainFrame.reset();
  UnloadDll();
  UnloadJpegDll();
  m_pAppMutex.reset();
  m_pControlDialog.reset();
  m_pPump.reset();
  return 0;
}

void CFotaviMovApp::DropDeviceLibrary() {
  FreeLibrary(m_hDeviceDll);
  m_hDeviceDll = nullptr;
  m_pfnReleaseInstance = nullptr;
}

BOOL CFotaviMovApp::LoadDll(const std::string& name) {
  static const char* const kLog = "CFotaviMovApp::LoadDll";
  m_hDeviceDll = LoadLibrary(name);
  if (!m_hDeviceDll) {
    TraceLog(TRC_MOV, kLog, "It failed in LoadLibrary. %s", GetLoadErrorText().c_str());
    MovMessageBoxText(MovFormatString(IDS_MOV_LOADLIB_ERROR, name));
    return FALSE;
  }
  const auto create = GetProcAddressAs<PFN_CREATEINSTANCE>(m_hDeviceDll, FOTAVI_CREATEINSTANCE);
  // ReleaseInstance is bound here too: a library whose object could never be
  // released must not be used, since freeing it under a live object would
  // pull the code from under the object's threads.
  m_pfnReleaseInstance = create ? GetProcAddressAs<PFN_RELEASEINSTANCE>(m_hDeviceDll, FOTAVI_RELEASEINSTANCE)
                                : nullptr;
  if (!create || !m_pfnReleaseInstance) {
    TraceLog(TRC_MOV, kLog, "It failed in GetProcAddress. %s", GetLoadErrorText().c_str());
    DropDeviceLibrary();
    MovMessageBox(IDS_MOV_INIT_ERROR);
    return FALSE;
  }
  if (!create(&m_pDevice) || !m_pDevice) {
    m_pDevice = nullptr;
    TraceLog(TRC_MOV, kLog, "It failed in CreateInstance. %s", std::strerror(errno));
    DropDeviceLibrary();
    MovMessageBox(IDS_MOV_INIT_ERROR);
    return FALSE;
  }
  return TRUE;
}

BOOL CFotaviMovApp::UnloadDll() {
  static const char* const kLog = "CFotaviMovApp::UnloadDll";
  if (m_pDevice) {
    if (!m_pfnReleaseInstance) {
      // Never reached: LoadDll refuses such a library. Keep it loaded.
      TraceLog(TRC_MOV, kLog, "It failed in ReleaseInstance. %s", "ReleaseInstance is missing.");
      return FALSE;
    }
    m_pfnReleaseInstance(&m_pDevice);
    m_pDevice = nullptr;
  }
  m_pfnReleaseInstance = nullptr;
  if (m_hDeviceDll) {
    const HMODULE module = m_hDeviceDll;
    m_hDeviceDll = nullptr;
    if (!FreeLibrary(module)) {
      TraceLog(TRC_MOV, kLog, "It failed in FreeLibrary. %s", GetLoadErrorText().c_str());
      return FALSE;
    }
  }
  return TRUE;
}

void CFotaviMovApp::ForgetJpegEntryPoints() {
  m_pfnLoadJpeg = nullptr;
  m_pfnGetJpegInfo = nullptr;
}

BOOL CFotaviMovApp::LoadJpegDll() {
  static const char* const kLog = "CFotaviMovApp::LoadJpegDll";
  const char* name = JpegCodecLibraryName(GetJpegLibType());
  if (!name) {
    TraceLog(TRC_MOV, kLog, "The library is not used.");
    return FALSE;
  }
  TraceLog(TRC_MOV, kLog, "%s library used.", name);
  m_hJpegDll = LoadLibrary(name);
  if (!m_hJpegDll) {
    TraceLog(TRC_MOV, kLog, "The error occurred with the [LoadLibrary] function. GetLastError=[0x%08X]",
             GetLastError());
    return FALSE;
  }
  // The movie program never writes JPEG files: no save entry is bound.
  m_pfnLoadJpeg = GetProcAddressAs<PFN_FNCLOADJPEGW>(m_hJpegDll, FNC_LOADJPEGW);
  m_pfnGetJpegInfo = m_pfnLoadJpeg ? GetProcAddressAs<PFN_FNCGETJPEGINFOW>(m_hJpegDll, FNC_GETJPEGINFOW) : nullptr;
  if (!m_pfnLoadJpeg || !m_pfnGetJpegInfo) {
    TraceLog(TRC_MOV, kLog, "The error occurred with the [GetProcAddress] function. GetLastError=[0x%08X]",
             GetLastError());
    FreeLibrary(m_hJpegDll);
    m_hJpegDll = nullptr;
    ForgetJpegEntryPoints();
    return FALSE;
  }
  return TRUE;
}

BOOL CFotaviMovApp::UnloadJpegDll() {
  if (!m_hJpegDll) return TRUE;
  // The codec's entry points go before the module does.
  m_Jpeg = CJpeg();
  if (!FreeLibrary(m_hJpegDll)) {
    TraceLog(TRC_MOV, "CFotaviMovApp::UnloadJpegDll",
             "The error occurred with the [FreeLibrary] function. GetLastError=[0x%08X]", GetLastError());
    return FALSE;
  }
  m_hJpegDll = nullptr;
  ForgetJpegEntryPoints();
  return TRUE;
}

#include "App/FotaviApp.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <new>

#include "Common/StringTable.h"
#include "Common/TraceLog.h"
#include "Common/WindowHelpers.h"
#include "App/Icons.h"
#include "App/MainFrm.h"
#include "App/ProgramParts.h"
#include "QtGlue/QtMessagePump.h"
#include "App/Resource.h"

namespace {
CFotaviApp* g_pApp = nullptr;
}  // namespace

CFotaviApp* CFotaviApp::Instance() { return g_pApp; }

const CJpeg& FotaviJpeg() { return CProgramApp::CurrentJpeg(); }

int FotaviMessageBoxText(const std::string& text, UINT type) { return CProgramApp::CurrentMessageBox(text, type); }

int FotaviMessageBox(UINT stringId, UINT type) { return FotaviMessageBoxText(FotaviText(stringId), type); }

CFotaviApp::CFotaviApp() : CProgramApp(kFotaviStartupWords, COutsideCodecLibrary::Entries::LoadSaveInfo) {
  g_pApp = this;
}

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
  const char* const kLog = m_Words.initLog;
  LoadFotaviStrings();
  // Icons: the desktop's theme (or the installed one) and the program's own.
  SetUpIconTheme();
  if (qApp) QApplication::setWindowIcon(ProgramIcon());
  // Platform messages of the GUI thread are delivered inside Qt's loop.
  if (!m_pPump) m_pPump = std::make_unique<QtMessagePump>();

  // Single instance, shared with the movie program and the TWAIN source.
  if (!TakeAppMutex()) return FALSE;

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

  if (!LoadDeviceLibrary()) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [LoadDll] function.");
    return FALSE;
  }
  // Without an outside codec the built-in one (libjpeg) is used.
  LoadJpegDll();
  ReadHelpPath();

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
  EndStartup();
  m_Templates.clear();
  m_pPump.reset();
  return 0;
}

void CFotaviApp::OnAppAbout() {
  // Opened without a loop of its own, modal to the main window; counted as
  // an open box until it has gone.
  auto* box = new QMessageBox(m_pMainFrame);
  box->setWindowTitle(QString::fromStdString(GetApplicationTitle()));
  box->setText(QStringLiteral("<b>Fotavi for Presentation</b><br>Version 1.0<br>"
                              "Live monitor, still pictures and SD memory of the document camera."));
  box->setIconPixmap(ProgramIcon().pixmap(64, 64));
  box->setStandardButtons(QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  if (CControlDialog* counter = m_pControlDialog.get()) {
    counter->BeginModal();
    QObject::connect(box, &QObject::destroyed, [counter] { counter->EndModal(); });
  }
  // Its answer ends it without a deferred delete.
  QObject::connect(box, &QDialog::finished, box, [box](int) {
    box->hide();
    QTimer::singleShot(0, box, [box] { delete box; });
  });
  FitWidthToCaption(box);
  box->open();
}

#include "MovApp.h"
#include "MovStrings.h"

#include <new>

#include "Common/CommonFunc.h"
#include "Common/StringTable.h"
#include "Common/TraceLog.h"
#include "MeasurementFiles.h"
#include "MovResource.h"
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

const CJpeg& MovJpeg() { return CProgramApp::CurrentJpeg(); }

int MovMessageBoxText(const std::string& text, UINT type) { return CProgramApp::CurrentMessageBox(text, type); }

int MovMessageBox(UINT stringId, UINT type) { return MovMessageBoxText(LoadStringText(stringId), type); }

std::string MovFormatString(UINT stringId, const std::string& arg) { return FormatStringText(stringId, arg); }

CFotaviMovApp::CFotaviMovApp() : CProgramApp(kMovStartupWords, COutsideCodecLibrary::Entries::LoadInfo) {
  g_pApp = this;
}

CFotaviMovApp::~CFotaviMovApp() {
  ExitInstance();
  if (g_pApp == this) g_pApp = nullptr;
}

BOOL CFotaviMovApp::InitInstance() {
  const char* const kLog = m_Words.initLog;
  LoadFotaviMovStrings();
  // Platform messages of the GUI thread (device state, the live picture's
  // notices) are delivered inside Qt's event loop.
  if (!m_pPump) m_pPump = std::make_unique<QtMessagePump>();

  if (!TakeAppMutex()) return FALSE;
  // The measurement files of a run of this program that was killed, or
  // that ended with a recording thread that never let go of them.
  CMeasurementFiles::RemoveEndedFolders();

  if (!LoadDeviceLibrary()) return FALSE;
  // Without an outside codec the live picture is decoded with libjpeg.
  LoadJpegDll();
  ReadHelpPath();

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
  EndStartup();
  m_pPump.reset();
  return 0;
}

#include "Common/ProgramApp.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include "Common/LateThreads.h"
#include "Common/TraceLog.h"

namespace {
CProgramApp* g_pCurrent = nullptr;
}  // namespace

CProgramApp::CProgramApp(const StartupWords& words, COutsideCodecLibrary::Entries codecEntries)
    : m_Words(words), m_DeviceLibrary(words), m_Codec(words, codecEntries) {
  g_pCurrent = this;
}

CProgramApp::~CProgramApp() {
  EndStartup();
  if (g_pCurrent == this) g_pCurrent = nullptr;
}

void CProgramApp::EndStartup() {
  if (EndLateThreads() == 0) {
    UnloadDll();
  } else {
    TraceLogText(m_Words.traceSelector, m_Words.unloadDllLog,
                 "A worker thread did not end by the exit; the device library stays loaded.");
  }
  UnloadJpegDll();
  m_pAppMutex.reset();
  m_pControlDialog.reset();
}

const CJpeg& CProgramApp::CurrentJpeg() {
  static const CJpeg builtIn;
  return g_pCurrent ? g_pCurrent->GetJpeg() : builtIn;
}

int CProgramApp::CurrentMessageBox(const std::string& text, UINT type) {
  return ProgramMessageBox(g_pCurrent ? g_pCurrent->GetControlDialog() : nullptr, text, type);
}

void CProgramApp::OnHelp() {
  const std::string& help = GetHelpPath();
  if (!help.empty() && QFileInfo::exists(QString::fromStdString(help)) &&
      QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(help))))
    return;
  TraceLog(m_Words.traceSelector, "CMainFrame::HtmlHelp", "The help file is not available. [%s]", help.c_str());
  ProgramMessageBox(m_pControlDialog.get(),
                    help.empty() ? std::string("The help file is not available.")
                                 : "The help file is not available.\n" + help,
                    MB_OK | MB_ICONINFORMATION);
}

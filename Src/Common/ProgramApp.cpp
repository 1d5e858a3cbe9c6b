#include "Common/ProgramApp.h"

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

const CJpeg& CProgramApp::CurrentJpeg() {
  static const CJpeg builtIn;
  return g_pCurrent ? g_pCurrent->GetJpeg() : builtIn;
}

int CProgramApp::CurrentMessageBox(const std::string& text, UINT type) {
  return ProgramMessageBox(g_pCurrent ? g_pCurrent->GetControlDialog() : nullptr, text, type);
}

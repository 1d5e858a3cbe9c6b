// The application object of the presentation program: guards against a
// second instance, fills the string table, registers the document
// templates, binds the device library and the optional outside JPEG codec,
// and makes the main frame. Every part of the program reaches the device
// interface, the modal-box counter and the codec through it.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Common/ProgramApp.h"
#include "App/Document.h"

class CMainFrame;
class QtMessagePump;

// The device library, the codec, the mutex, the counter and the help path
// are the shared part (CProgramApp); this program writes JPEG files, so it
// binds the codec's save entry too.
class CFotaviApp : public CProgramApp {
 public:
  // In place of the library's exports, for tests: a scripted device.
  using DeviceBinding = CDeviceLibrary::Binding;

  CFotaviApp();
  ~CFotaviApp();

  // The start-up road; FALSE ends the program (after exactly one message box).
  BOOL InitInstance();
  // The shut-down road; copes with any member still unset.
  int ExitInstance();

  void OnAppAbout();

  CMainFrame* GetMainFrame() const { return m_pMainFrame; }
  CDocTemplate* FindTemplate(const std::string& name) const;

  static CFotaviApp* Instance();

 private:
  std::vector<std::unique_ptr<CDocTemplate>> m_Templates;
  CMainFrame* m_pMainFrame = nullptr;
  std::unique_ptr<QtMessagePump> m_pPump;
};

// How this program words its start-up failures.
extern const StartupWords kFotaviStartupWords;

// The codec of the running application (the built-in one without an application).
const CJpeg& FotaviJpeg();
// Counted message box with the stop icon (or `type`) and the program's title.
int FotaviMessageBox(UINT stringId, UINT type = MB_OK | MB_ICONSTOP);
int FotaviMessageBoxText(const std::string& text, UINT type = MB_OK | MB_ICONSTOP);

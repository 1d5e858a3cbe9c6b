// The application object of the movie program: guards against a second
// instance (shared with the presentation program and the TWAIN source),
// binds the device library and the optional outside JPEG codec, sets the
// help-file path, makes the modal-box counter and then the main window.
// Every part of the program reaches the device interface, the codec and the
// counter through it. No widgets here: the main window is made by a factory
// that the program installs.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Common/ProgramApp.h"

class QtMessagePump;

// The main window as the application sees it: made after the counter, shown
// at the end of the start-up, destroyed first at exit (its destruction
// closes the device).
class IMovMainFrame {
 public:
  virtual ~IMovMainFrame() = default;
  virtual void ShowFrame() = 0;
};

// The device library, the codec, the mutex, the counter and the help path
// are the shared part (CProgramApp); this program never writes JPEG files,
// so no save entry of the codec is bound.
class CFotaviMovApp : public CProgramApp {
 public:
  // Makes the document, the main window and the view. NULL ends the start-up
  // without a message (the factory has said what went wrong); std::bad_alloc
  // and other exceptions end it with 133 and 135.
  using FrameFactory = std::function<std::unique_ptr<IMovMainFrame>(CFotaviMovApp*)>;

  CFotaviMovApp();
  ~CFotaviMovApp();

  // The start-up road; FALSE ends the program after at most one message box.
  BOOL InitInstance();
  // The shut-down road; copes with every member still unset. Safe twice.
  int ExitInstance();

  void SetFrameFactory(FrameFactory factory) { m_FrameFactory = std::move(factory); }
  IMovMainFrame* GetMainFrame() const { return m_pMainFrame.get(); }

  static CFotaviMovApp* Instance();

 private:
  std::unique_ptr<IMovMainFrame> m_pMainFrame;
  std::unique_ptr<QtMessagePump> m_pPump;
  FrameFactory m_FrameFactory;
};

// How this program words its start-up failures.
extern const StartupWords kMovStartupWords;

// The codec of the running application (the built-in one without an application).
const CJpeg& MovJpeg();
// Counted message box (through the application's counter when there is one)
// with the program's title as caption; the stop icon unless `type` says otherwise.
int MovMessageBox(UINT stringId, UINT type = MB_OK | MB_ICONSTOP);
int MovMessageBoxText(const std::string& text, UINT type = MB_OK | MB_ICONSTOP);
// The string-table text `stringId` with `arg` in place of its first "%s".
std::string MovFormatString(UINT stringId, const std::string& arg);

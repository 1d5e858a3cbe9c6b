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

#include "Common/ControlDialog.h"
#include "Common/Jpeg.h"
#include "Common/ProgramStartup.h"
#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Sync.h"
#include "Platform/Types.h"

class QtMessagePump;

// The main window as the application sees it: made after the counter, shown
// at the end of the start-up, destroyed first at exit (its destruction
// closes the device).
class IMovMainFrame {
 public:
  virtual ~IMovMainFrame() = default;
  virtual void ShowFrame() = 0;
};

class CFotaviMovApp {
 public:
  // Makes the document, the main window and the view. NULL ends the start-up
  // without a message (the factory has said what went wrong); std::bad_alloc
  // and other exceptions end it with 133 and 135.
  using FrameFactory = std::function<std::unique_ptr<IMovMainFrame>(CFotaviMovApp*)>;

  CFotaviMovApp();
  ~CFotaviMovApp();
  CFotaviMovApp(const CFotaviMovApp&) = delete;
  CFotaviMovApp& operator=(const CFotaviMovApp&) = delete;

  // The start-up road; FALSE ends the program after at most one message box.
  BOOL InitInstance();
  // The shut-down road; copes with every member still unset. Safe twice.
  int ExitInstance();

  BOOL LoadDll(const std::string& name);
  BOOL UnloadDll();
  BOOL LoadJpegDll();
  BOOL UnloadJpegDll();

  void SetFrameFactory(FrameFactory factory) { m_FrameFactory = std::move(factory); }
  // Test hooks: another device library and another single-instance mutex.
  void SetDeviceLibraryName(const std::string& name) { m_strDeviceLibrary = name; }
  void SetMutexName(const std::string& name) { m_strMutexName = name; }

  CDeviceInterface* GetDevice() const { return m_DeviceLibrary.Device(); }
  CControlDialog* GetControlDialog() const { return m_pControlDialog.get(); }
  IMovMainFrame* GetMainFrame() const { return m_pMainFrame.get(); }
  const CJpeg& GetJpeg() const { return m_Codec.Jpeg(); }
  const std::string& GetHelpPath() const { return m_strHelpPath; }
  HMODULE GetDeviceModule() const { return m_DeviceLibrary.Module(); }
  HMODULE GetCodecModule() const { return m_Codec.Module(); }
  PFN_FNCLOADJPEGW GetLoadJpegEntry() const { return m_Codec.LoadEntry(); }
  PFN_FNCGETJPEGINFOW GetJpegInfoEntry() const { return m_Codec.InfoEntry(); }
  bool HoldsAppMutex() const { return m_pAppMutex != nullptr; }

  static CFotaviMovApp* Instance();

 private:
  // The device library and the outside codec, this program's way: it never
  // writes JPEG files, so no save entry of the codec is bound.
  CDeviceLibrary m_DeviceLibrary;
  std::unique_ptr<CControlDialog> m_pControlDialog;
  COutsideCodecLibrary m_Codec;

  std::unique_ptr<CNamedMutex> m_pAppMutex;
  std::unique_ptr<IMovMainFrame> m_pMainFrame;
  std::unique_ptr<QtMessagePump> m_pPump;
  std::string m_strHelpPath;
  std::string m_strDeviceLibrary = FOTAVI_DEVICE_LIBRARY;
  std::string m_strMutexName;
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

// The part of an application object that the presentation and the movie
// programs share: the single-instance mutex, the device library and its
// device interface, the optional outside JPEG codec, the modal-box counter
// and the help-file path, with the entry points LoadDll, UnloadDll,
// LoadJpegDll and UnloadJpegDll. Each program derives from it, keeps its own
// start-up order in InitInstance and its own ExitInstance, and hands in how
// it words its refusals and which codec entries it binds. No widgets.
#pragma once

#include <memory>
#include <string>

#include "Common/CommonFunc.h"
#include "Common/ControlDialog.h"
#include "Common/Jpeg.h"
#include "Common/ProgramStartup.h"
#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Sync.h"
#include "Platform/Types.h"

class CProgramApp {
 public:
  CProgramApp(const CProgramApp&) = delete;
  CProgramApp& operator=(const CProgramApp&) = delete;

  // Binds the device library and makes the device interface; on failure one
  // stop box (through the counter when it exists already), FALSE.
  BOOL LoadDll(const std::string& name) { return m_DeviceLibrary.Load(name, m_pControlDialog.get()); }
  // Releases the device interface and frees the device library.
  BOOL UnloadDll() { return m_DeviceLibrary.Unload(); }
  // Binds the outside codec that `JpegLib` names; TRUE when one is bound.
  BOOL LoadJpegDll() { return m_Codec.Load(); }
  BOOL UnloadJpegDll() { return m_Codec.Unload(); }

  // Test hooks: a scripted device instead of the library, another library
  // name, another single-instance mutex name.
  void SetDeviceBinding(CDeviceLibrary::Binding binding) { m_DeviceLibrary.SetBinding(std::move(binding)); }
  void SetDeviceLibraryName(const std::string& name) { m_strDeviceLibrary = name; }
  void SetMutexName(const std::string& name) { m_strMutexName = name; }

  CDeviceInterface* GetDevice() const { return m_DeviceLibrary.Device(); }
  CControlDialog* GetControlDialog() const { return m_pControlDialog.get(); }
  const CJpeg& GetJpeg() const { return m_Codec.Jpeg(); }
  const std::string& GetHelpPath() const { return m_strHelpPath; }
  HMODULE GetDeviceModule() const { return m_DeviceLibrary.Module(); }
  HMODULE GetCodecModule() const { return m_Codec.Module(); }
  PFN_FNCLOADJPEGW GetLoadJpegEntry() const { return m_Codec.LoadEntry(); }
  PFN_FNCGETJPEGINFOW GetJpegInfoEntry() const { return m_Codec.InfoEntry(); }
  bool HoldsAppMutex() const { return m_pAppMutex != nullptr; }

  // Help > Help: the help file goes to the desktop's handler for it (there
  // is no help viewer of the program's own); when the file or a handler is
  // missing, a counted box says the help file is not available.
  void OnHelp();

  // The running program's codec; the built-in one while none runs.
  static const CJpeg& CurrentJpeg();
  // A message box, counted by the running program's counter when it has one.
  static int CurrentMessageBox(const std::string& text, UINT type);

 protected:
  CProgramApp(const StartupWords& words, COutsideCodecLibrary::Entries codecEntries);
  ~CProgramApp();

  // Takes the single-instance mutex; a refusal shows the program's text, FALSE.
  BOOL TakeAppMutex() { return TakeProgramMutex(m_Words, m_strMutexName, m_pControlDialog.get(), &m_pAppMutex); }
  BOOL LoadDeviceLibrary() { return LoadDll(m_strDeviceLibrary); }
  void ReadHelpPath() { m_strHelpPath = GetHelpFilePath(); }
  // The shared end, after the main window has gone (its destruction closes
  // the device): frees the late worker threads, releases the device interface, frees both libraries,
  // closes the mutex, deletes the counter. Copes with all of them unset.
  // Late worker threads (Common/LateThreads.h) are waited for first, bounded:
  // one still running may be inside the device library, which then stays
  // loaded until the process ends.
  void EndStartup();

  const StartupWords& m_Words;
  std::unique_ptr<CControlDialog> m_pControlDialog;

 private:
  CDeviceLibrary m_DeviceLibrary;
  COutsideCodecLibrary m_Codec;
  std::unique_ptr<CNamedMutex> m_pAppMutex;
  std::string m_strHelpPath;
  std::string m_strDeviceLibrary = FOTAVI_DEVICE_LIBRARY;
  std::string m_strMutexName = APP_MUTEX_NAME;
};

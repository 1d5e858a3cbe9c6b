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

#include "Common/CommonFunc.h"
#include "Common/ControlDialog.h"
#include "Common/Jpeg.h"
#include "Common/OutsideCodec.h"
#include "App/Document.h"
#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Sync.h"
#include "Platform/Types.h"

class CMainFrame;
class QtMessagePump;

class CFotaviApp {
 public:
  // In place of the library's exports, for tests: a scripted device.
  struct DeviceBinding {
    std::function<BOOL(CDeviceInterface**)> create;
    std::function<void(CDeviceInterface**)> release;
  };

  CFotaviApp();
  ~CFotaviApp();
  CFotaviApp(const CFotaviApp&) = delete;
  CFotaviApp& operator=(const CFotaviApp&) = delete;

  // The start-up road; FALSE ends the program (after exactly one message box).
  BOOL InitInstance();
  // The shut-down road; copes with any member still unset.
  int ExitInstance();

  BOOL LoadDll(const std::string& name);
  BOOL UnloadDll();
  BOOL LoadJpegDll();
  BOOL UnloadJpegDll();

  void OnAppAbout();
  void OnHelp();

  // Test hooks: a scripted device instead of the library, another library
  // name, another single-instance mutex name.
  void SetDeviceBinding(DeviceBinding binding) { m_Binding = std::move(binding); }
  void SetDeviceLibraryName(const std::string& name) { m_strDeviceLibrary = name; }
  void SetMutexName(const std::string& name) { m_strMutexName = name; }

  CDeviceInterface* GetDevice() const { return m_pDevice; }
  CControlDialog* GetControlDialog() const { return m_pControlDialog.get(); }
  CMainFrame* GetMainFrame() const { return m_pMainFrame; }
  const CJpeg& GetJpeg() const { return m_Jpeg; }
  CDocTemplate* FindTemplate(const std::string& name) const;

  static CFotaviApp* Instance();

 private:
  void ForgetJpegEntryPoints();
  // A failed bind: frees the device library, shows the start-up failure, FALSE.
  BOOL DropDeviceLibrary();
  static BOOL FreeModuleLogged(HMODULE module, const char* logName);

  PFN_CREATEINSTANCE m_pfnCreateInstance = nullptr;
  PFN_RELEASEINSTANCE m_pfnReleaseInstance = nullptr;
  PFN_FNCLOADJPEGW m_pfnLoadJpeg = nullptr;
  PFN_FNCSAVEJPEGW m_pfnSaveJpeg = nullptr;
  PFN_FNCGETJPEGINFOW m_pfnGetJpegInfo = nullptr;
  CDeviceInterface* m_pDevice = nullptr;
  std::unique_ptr<CControlDialog> m_pControlDialog;
  HMODULE m_hDeviceDll = nullptr;
  HMODULE m_hJpegDll = nullptr;

  std::unique_ptr<CNamedMutex> m_pAppMutex;
  std::vector<std::unique_ptr<CDocTemplate>> m_Templates;
  CMainFrame* m_pMainFrame = nullptr;
  std::unique_ptr<QtMessagePump> m_pPump;
  CJpeg m_Jpeg;
  std::string m_strHelpPath;
  std::string m_strDeviceLibrary = FOTAVI_DEVICE_LIBRARY;
  std::string m_strMutexName = APP_MUTEX_NAME;
  DeviceBinding m_Binding;
  bool m_bBound = false;  // the device came through m_Binding
};

// The codec of the running application (the built-in one without an application).
const CJpeg& FotaviJpeg();
// Counted message box with the stop icon (or `type`) and the program's title.
int FotaviMessageBox(UINT stringId, UINT type = MB_OK | MB_ICONSTOP);
int FotaviMessageBoxText(const std::string& text, UINT type = MB_OK | MB_ICONSTOP);

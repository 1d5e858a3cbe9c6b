// The data source's whole contact with the camera: loads the device library
// by name, takes the single-instance mutex shared with the two programs,
// keeps the hidden window that receives the library's notices, opens and
// closes the device, and runs the two requests the source needs (a JPEG
// picture and a camera key).
//
// The library's presence window and the hidden window live on the link's own
// thread, which runs a platform message loop: the application that loaded
// the source pumps no platform messages, so device arrival and removal and
// the hand-back of stray replies are handled there.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Messages.h"
#include "Platform/Sync.h"

// Receives device arrival and removal, called on the link's thread.
class IDeviceLinkTarget {
 public:
  virtual ~IDeviceLinkTarget() = default;
  virtual void OnDeviceArrived() = 0;
  virtual void OnDeviceRemoved() = 0;
};

// Shows a message box with the data source's caption and the error icon.
using DsBoxFunction = std::function<void(const std::string& text)>;

class CDeviceLink {
 public:
  explicit CDeviceLink(DsBoxFunction box);
  ~CDeviceLink();
  CDeviceLink(const CDeviceLink&) = delete;
  CDeviceLink& operator=(const CDeviceLink&) = delete;

  // Loads "FotaviZ5.dll" (beside the data source first) and creates the
  // device interface. A missing library shows "Unable to load %s."; a
  // missing or failing CreateInstance fails silently.
  BOOL Load();
  // Takes the single-instance mutex, makes the hidden window and opens the
  // camera. FALSE when any step fails (mutex failures show their box).
  BOOL Open();
  // Destroys the hidden window, then closes the device.
  BOOL CloseDevice();
  // Releases the interface, frees the library and always releases the
  // single-instance mutex.
  BOOL Unload();
  BOOL IsConnected();
  BOOL IsOpened() const { return m_bOpened.load(); }
  bool IsLoaded() const { return m_pDevice != nullptr; }

  // Fetches one JPEG frame (with the library's header in front); the
  // library's data block is copied and freed here. FALSE when there is no
  // reply or it has no data.
  BOOL RequestPicture(std::vector<BYTE>* jpeg, bool* noData = nullptr);
  // After a device arrival: re-opens the device (see RecheckResult).
  BOOL Recheck();
  // Sends a camera key: synchronously (the reply freed here) or
  // asynchronously with the reply handed back by the hidden window.
  BOOL SendKey(DWORD value, WORD command, bool synchronous);

  // The receiver of device arrival and removal; NULL for none.
  void SetNotifyTarget(IDeviceLinkTarget* target);

  // What a recheck decides from the device's presence and bOpen's answer:
  // the result, and the opened flag afterwards (given its value before).
  static BOOL RecheckResult(BOOL connected, BOOL openOk, DWORD error, BOOL* opened);

  // The file a module name resolves to, looked for beside the data source
  // first, then where the platform looks.
  static std::string ModuleBesideSource(const std::string& name);

  HWND HiddenWindow() const { return m_hWnd; }
  // The device library's name ("FotaviZ5.dll"); tests name a missing one.
  void SetLibraryName(const std::string& name) { m_LibraryName = name; }
  // How long a call waits for the link thread (30 s; tests shorten it).
  static void SetLinkCallLimit(DWORD timeoutMs);

 private:
  // Runs `task` on the link thread and waits at most `timeoutMs`. FALSE when
  // it could not be posted or did not finish in time.
  bool RunOnLinkThread(std::function<void()> task);
  bool StartThread();
  void StopThread();
  LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void DestroyHiddenWindow();
  void ReleaseAppMutex();

  DsBoxFunction m_Box;
  std::string m_LibraryName = FOTAVI_DEVICE_LIBRARY;
  CDeviceInterface* m_pDevice = nullptr;
  HMODULE m_hLibrary = nullptr;
  HWND m_hWnd = nullptr;
  std::atomic<bool> m_bOpened{false};
  // The camera went away since the device was last opened: it must be
  // opened again before the next request (a dialog does so at the arrival;
  // without one the next request does).
  std::atomic<bool> m_bGone{false};
  std::mutex m_TargetLock;
  IDeviceLinkTarget* m_pTarget = nullptr;
  std::unique_ptr<CPlatformThread> m_Thread;
};

constexpr UINT WM_LINK_TASK = WM_APP + 0x101;  // thread message of the link thread: lParam a task

// The library's hidden top-level window: keeps the camera's presence value,
// tells the client's notification window when the camera comes or goes, and
// closes the interface by itself when the camera goes while open or the
// machine suspends.
#pragma once

#include <atomic>
#include <mutex>

#include "Platform/DeviceInterface.h"
#include "Platform/Messages.h"
#include "Platform/Types.h"

constexpr const char* FOTAVI_WINDOW_TITLE = "FotaviZ5.dll Window";

class CDeviceWnd : public IWindowProc {
 public:
  CDeviceWnd() = default;
  ~CDeviceWnd() override;

  BOOL Create();
  void Destroy();
  HWND GetSafeHwnd() const { return m_hWnd; }

  BOOL SetNotifyWindow(HWND hWnd) {
    m_hNotifyWnd.store(hWnd);
    return TRUE;
  }
  HWND NotifyWindow() const { return m_hNotifyWnd.load(); }
  // Set by the device open (with the member folder it opened) and cleared by
  // the device close, on the dispatcher thread.
  void SetOpened(BOOL bOpened, const CHeldMember& member = CHeldMember());
  DWORD Presence() const { return m_dwPresence.load(); }

  // The camera's status, 0 when there is none; `pMember` receives the
  // member folder that answered (not held when none did).
  static DWORD bQueryDevice(CHeldMember* pMember = nullptr);

  LRESULT WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

 private:
  int OnCreate();
  LRESULT OnDeviceChange(WPARAM wParam);
  LRESULT OnPowerBroadcast(WPARAM wParam);
  void PostState(WPARAM wState);
  // Asks the camera with a handle of its own and tells what changed since
  // the stored presence: gone, present, or both when another member folder
  // stands where the stored one stood.
  DWORD QueryAndTell();

  HWND m_hWnd = nullptr;
  std::atomic<HWND> m_hNotifyWnd{nullptr};
  std::atomic<BOOL> m_bOpened{FALSE};
  std::atomic<DWORD> m_dwPresence{0};
  // The member folder the presence is of (window thread only).
  CHeldMember m_Member;
  std::mutex m_OpenedLock;
  CHeldMember m_OpenedMember;  // the member the open interface uses
};

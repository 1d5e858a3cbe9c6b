// The library's hidden top-level window: keeps the camera's presence value,
// tells the client's notification window when the camera comes or goes, and
// closes the interface by itself when the camera goes while open or the
// machine suspends.
#pragma once

#include <atomic>

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
  void SetOpened(BOOL bOpened) { m_bOpened.store(bOpened); }
  DWORD Presence() const { return m_dwPresence.load(); }

  static DWORD bQueryDevice();

  LRESULT WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

 private:
  int OnCreate();
  LRESULT OnDeviceChange(WPARAM wParam);
  LRESULT OnPowerBroadcast(WPARAM wParam);
  void PostState(WPARAM wState);

  HWND m_hWnd = nullptr;
  std::atomic<HWND> m_hNotifyWnd{nullptr};
  std::atomic<BOOL> m_bOpened{FALSE};
  std::atomic<DWORD> m_dwPresence{0};
};

#include "DeviceWnd.h"

#include "Class/Device.h"
#include "Class/Interface.h"
#include "FotaviZ5App.h"
#include "TimeLimits.h"

CDeviceWnd::~CDeviceWnd() { Destroy(); }

BOOL CDeviceWnd::Create() {
  m_hWnd = CreateWindowTarget(this, FOTAVI_WINDOW_TITLE, WTF_TOPLEVEL);
  return m_hWnd != nullptr;
}

void CDeviceWnd::Destroy() {
  if (m_hWnd) DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
}

DWORD CDeviceWnd::bQueryDevice() {
  DWORD dwError = 0;
  std::unique_ptr<CDeviceHandle> handle = CDevice::bOpenDevice(0, &dwError);
  if (!handle) return 0;
  DWORD dwStatus = 0;
  DWORD dwReturned = 0;
  if (handle->IoControl(IOCTL_FOTAVI_GET_STATUS, &dwStatus, sizeof dwStatus, &dwReturned,
                        TimeLimits().dwTransferMs) != DeviceIoResult::Ok) {
    return 0;
  }
  return dwStatus;
}

void CDeviceWnd::PostState(WPARAM wState) {
  HWND hNotify = m_hNotifyWnd.load();
  if (hNotify == nullptr) return;
  theApp.bPostMessage(hNotify, WM_FOTAVI_DEVICESTATE, wState, 0);
}

int CDeviceWnd::OnCreate() {
  m_dwPresence.store(bQueryDevice());
  return 0;
}

LRESULT CDeviceWnd::OnDeviceChange(WPARAM) {
  if (m_hNotifyWnd.load() == nullptr) return 0;
  DWORD dwStatus = 0;
  if (m_bOpened.load() && g_pInterface) {
    theApp.m_Log.WriteTrace("IOCTL_USB_GET_STATUS-->");
    DWORD dwReturned = 0;
    WORD wSequence = 0;
    DWORD dwError = 0;
    if (!g_pInterface->bIoctl(IOCTL_FOTAVI_GET_STATUS, &dwStatus, sizeof dwStatus, &dwReturned, &wSequence,
                              &dwError)) {
      dwStatus = 0;
    }
    theApp.m_Log.WriteTrace("IOCTL_USB_GET_STATUS<--");
    if (dwStatus == 0) {
      g_pInterface->bReadStop();
      g_pInterface->bCloseSelf(&dwError);
      if (m_dwPresence.load() != 0) PostState(FOTAVI_DEVICE_GONE);
    }
  } else {
    dwStatus = bQueryDevice();
    if (dwStatus != m_dwPresence.load()) PostState(dwStatus != 0 ? FOTAVI_DEVICE_PRESENT : FOTAVI_DEVICE_GONE);
  }
  m_dwPresence.store(dwStatus);
  return 0;
}

LRESULT CDeviceWnd::OnPowerBroadcast(WPARAM wEvent) {
  if (wEvent == PBT_APMSUSPEND || wEvent == PBT_APMSTANDBY) {
    PostState(FOTAVI_DEVICE_GONE);
    m_dwPresence.store(0);
    if (g_pInterface) {
      DWORD dwError = 0;
      g_pInterface->bReadStop();
      g_pInterface->bCloseSelf(&dwError);
    }
  } else if (wEvent == PBT_APMRESUMESUSPEND || wEvent == PBT_APMRESUMESTANDBY) {
    DWORD dwStatus = bQueryDevice();
    if (dwStatus != m_dwPresence.load()) PostState(dwStatus != 0 ? FOTAVI_DEVICE_PRESENT : FOTAVI_DEVICE_GONE);
    m_dwPresence.store(dwStatus);
  }
  return TRUE;
}

LRESULT CDeviceWnd::WindowProc(HWND, UINT uMsg, WPARAM wParam, LPARAM) {
  switch (uMsg) {
    case WM_CREATE: return OnCreate();
    case WM_DEVICECHANGE: return OnDeviceChange(wParam);
    case WM_POWERBROADCAST: return OnPowerBroadcast(wParam);
    default: return 0;
  }
}

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

DWORD CDeviceWnd::bQueryDevice(CHeldMember* pMember) {
  if (pMember) *pMember = CHeldMember();
  DWORD dwError = 0;
  std::unique_ptr<CDeviceHandle> handle = CDevice::bOpenDevice(0, &dwError);
  if (!handle) return 0;
  DWORD dwStatus = 0;
  DWORD dwReturned = 0;
  if (handle->IoControl(IOCTL_FOTAVI_GET_STATUS, &dwStatus, sizeof dwStatus, &dwReturned,
                        TimeLimits().dwTransferMs) != DeviceIoResult::Ok) {
    return 0;
  }
  if (pMember && dwStatus != 0) *pMember = handle->HoldMember();
  return dwStatus;
}

void CDeviceWnd::SetOpened(BOOL bOpened, const CHeldMember& member) {
  {
    std::lock_guard<std::mutex> lock(m_OpenedLock);
    m_OpenedMember = bOpened ? member : CHeldMember();
  }
  m_bOpened.store(bOpened);
}

void CDeviceWnd::PostState(WPARAM wState) {
  HWND hNotify = m_hNotifyWnd.load();
  if (hNotify == nullptr) return;
  theApp.bPostMessage(hNotify, WM_FOTAVI_DEVICESTATE, wState, 0);
}

int CDeviceWnd::OnCreate() {
  m_dwPresence.store(bQueryDevice(&m_Member));
  return 0;
}

DWORD CDeviceWnd::QueryAndTell() {
  CHeldMember member;
  const DWORD dwStatus = bQueryDevice(&member);
  const DWORD dwPresence = m_dwPresence.load();
  // Changes read at once come as one event, so the camera may have gone and
  // come back (under the same name) since the last look: its member folder
  // is then another one, and both changes are told.
  const bool bGone = dwPresence != 0 && (dwStatus == 0 || !member.SameAs(m_Member));
  if (bGone) PostState(FOTAVI_DEVICE_GONE);
  if (dwStatus != 0 && (bGone || dwStatus != dwPresence)) PostState(FOTAVI_DEVICE_PRESENT);
  m_Member = member;
  return dwStatus;
}

LRESULT CDeviceWnd::OnDeviceChange(WPARAM) {
  if (m_hNotifyWnd.load() == nullptr) return 0;
  if (m_bOpened.load() && g_pInterface) {
    DWORD dwStatus = 0;
    theApp.m_Log.WriteTrace("IOCTL_USB_GET_STATUS-->");
    DWORD dwReturned = 0;
    WORD wSequence = 0;
    DWORD dwError = 0;
    if (!g_pInterface->bIoctl(IOCTL_FOTAVI_GET_STATUS, &dwStatus, sizeof dwStatus, &dwReturned, &wSequence,
                              &dwError)) {
      dwStatus = 0;
    }
    theApp.m_Log.WriteTrace("IOCTL_USB_GET_STATUS<--");
    if (dwStatus != 0) {
      std::lock_guard<std::mutex> lock(m_OpenedLock);
      m_Member = m_OpenedMember;
      m_dwPresence.store(dwStatus);
      return 0;
    }
    g_pInterface->bReadStop();
    g_pInterface->bCloseSelf(&dwError);
    if (m_dwPresence.load() != 0) PostState(FOTAVI_DEVICE_GONE);
    m_dwPresence.store(0);
    m_Member = CHeldMember();
    // The same event may stand for the camera's return as well (a removal
    // and an arrival read at once): look again, as with the interface
    // closed, so the presence ends in what is there now.
  }
  m_dwPresence.store(QueryAndTell());
  return 0;
}

LRESULT CDeviceWnd::OnPowerBroadcast(WPARAM wEvent) {
  if (wEvent == PBT_APMSUSPEND || wEvent == PBT_APMSTANDBY) {
    PostState(FOTAVI_DEVICE_GONE);
    m_dwPresence.store(0);
    m_Member = CHeldMember();
    if (g_pInterface) {
      DWORD dwError = 0;
      g_pInterface->bReadStop();
      g_pInterface->bCloseSelf(&dwError);
    }
  } else if (wEvent == PBT_APMRESUMESUSPEND || wEvent == PBT_APMRESUMESTANDBY) {
    m_dwPresence.store(QueryAndTell());
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

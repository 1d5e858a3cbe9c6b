// The module's exports: CreateInstance and ReleaseInstance, and the hook
// through which tests shorten the time limits.
#include <new>

#include "Class/Interface.h"
#include "DeviceWnd.h"
#include "FotaviZ5.h"
#include "TimeLimits.h"

#define FOTAVI_EXPORT extern "C" __attribute__((visibility("default")))

CTimeLimits& TimeLimits() {
  static CTimeLimits limits;
  return limits;
}

FOTAVI_EXPORT BOOL CreateInstance(CDeviceInterface** ppInterface) {
  if (ppInterface == nullptr) return FALSE;
  *ppInterface = nullptr;
  if (g_pInterface != nullptr) return FALSE;  // one interface object at a time
  CInterface* pInterface = new (std::nothrow) CInterface;
  if (pInterface == nullptr) return FALSE;
  g_pInterface = pInterface;
  CDeviceWnd* pWnd = new (std::nothrow) CDeviceWnd;
  if (pWnd == nullptr || !pWnd->Create()) {
    delete pWnd;
    delete pInterface;
    g_pInterface = nullptr;
    return FALSE;
  }
  g_pDeviceWnd = pWnd;
  *ppInterface = pInterface;
  return TRUE;
}

FOTAVI_EXPORT void ReleaseInstance(CDeviceInterface** ppInterface) {
  if (g_pDeviceWnd) {
    CDeviceWnd* pWnd = g_pDeviceWnd;
    pWnd->Destroy();
    g_pDeviceWnd = nullptr;
    delete pWnd;
  }
  if (ppInterface && *ppInterface) {
    delete *ppInterface;
    *ppInterface = nullptr;
  }
  g_pInterface = nullptr;
}

// Test support: shortens the transfer, thread-end, reset-pause and
// "Wait for Response" limits (milliseconds). 0 restores a limit's real value.
FOTAVI_EXPORT void FotaviZ5SetTimeLimitsForTest(DWORD dwTransferMs, DWORD dwThreadEndMs, DWORD dwResetPauseMs,
                                                DWORD dwMutexWaitMs) {
  CTimeLimits& t = TimeLimits();
  t.dwTransferMs = dwTransferMs ? dwTransferMs : CTimeLimits::kTransferMs;
  t.dwThreadEndMs = dwThreadEndMs ? dwThreadEndMs : CTimeLimits::kThreadEndMs;
  t.dwResetPauseMs = dwResetPauseMs ? dwResetPauseMs : CTimeLimits::kResetPauseMs;
  t.dwMutexWaitMs = dwMutexWaitMs ? dwMutexWaitMs : CTimeLimits::kMutexWaitMs;
}

#include "FakeDevice.h"

#include <chrono>
#include <thread>

namespace fotavi::test {

BOOL FakeDevice::bSetNotifyWindow(HWND hWnd) {
  notify_.store(hWnd);
  return TRUE;
}

BOOL FakeDevice::bOpen(HWND hNotifyWnd, DWORD* pdwError) {
  ++openCalls;
  if (pdwError) *pdwError = 0;
  if (hNotifyWnd) notify_.store(hNotifyWnd);
  if (!openResult.load()) {
    if (pdwError) *pdwError = openError.load();
    return FALSE;
  }
  open_.store(true);
  return TRUE;
}

BOOL FakeDevice::bClose(DWORD* pdwError) {
  ++closeCalls;
  if (pdwError) *pdwError = 0;
  open_.store(false);
  return TRUE;
}

BOOL FakeDevice::bRequestAsync(HWND hTarget, const DEVICE_CMD* pCommand, WORD*, DWORD* pdwError) {
  ++asyncCalls;
  if (holdAsync.load()) {
    ++asyncHeld;
    while (holdAsync.load() && !quitting_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    --asyncHeld;
  }
  return Answer(hTarget, pCommand->wCommand, pdwError);
}

BOOL FakeDevice::bRequest(const DEVICE_CMD*, HGLOBAL* phData, DWORD* pdwSize, DWORD* pdwError) {
  ++syncCalls;
  if (pdwError) *pdwError = 0;
  BOOL result = TRUE;
  {
    std::lock_guard<std::mutex> g(syncLock_);
    if (!syncResults_.empty()) {
      result = syncResults_.front();
      syncResults_.pop_front();
    }
  }
  if (!result) {
    if (pdwError) *pdwError = ERR_FOTAVI_READTIMEOUT;
    return FALSE;
  }
  if (syncEmpty.load()) {
    *phData = nullptr;
    *pdwSize = 0;
    return TRUE;
  }
  *phData = CopyToGlobal(frame);
  *pdwSize = static_cast<DWORD>(frame.size());
  return TRUE;
}

}  // namespace fotavi::test

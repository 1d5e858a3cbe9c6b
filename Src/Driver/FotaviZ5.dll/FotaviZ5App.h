// The library's application object: made when the module is loaded, it
// carries the device log and the two retrying posting operations through
// which every message of the library is sent.
#pragma once

#include "DeviceLog.h"
#include "Platform/Messages.h"
#include "Platform/Types.h"

constexpr int FOTAVI_POST_ATTEMPTS = 10;

class CFotaviZ5App {
 public:
  using PostMessageFn = BOOL (*)(HWND, UINT, WPARAM, LPARAM);
  using PostThreadMessageFn = BOOL (*)(DWORD, UINT, WPARAM, LPARAM);

  CFotaviZ5App();

  // PostMessage with up to 10 attempts; POST line for each successful post
  // to a window; LOG line after the last failure.
  BOOL bPostMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
  // PostThreadMessage to the thread with up to 10 attempts; FALSE at once
  // for no thread (id 0). bLogFailure FALSE keeps the log's own posts from
  // logging their failure again.
  BOOL bPostThreadMessage(DWORD dwThreadId, UINT uMsg, WPARAM wParam, LPARAM lParam, bool bLogFailure = true);
  BOOL bPostThreadMessage(const CPlatformThread* pThread, UINT uMsg, WPARAM wParam, LPARAM lParam);

  CDeviceLog m_Log;

  // The system's posting calls; replaced only by the library's unit tests.
  PostMessageFn m_pfnPostMessage;
  PostThreadMessageFn m_pfnPostThreadMessage;
};

extern CFotaviZ5App theApp;

#include "FotaviZ5App.h"

#include "Platform/Time.h"

CFotaviZ5App theApp;

CFotaviZ5App::CFotaviZ5App() : m_pfnPostMessage(&::PostMessage), m_pfnPostThreadMessage(&::PostThreadMessage) {}

BOOL CFotaviZ5App::bPostMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  BOOL bResult = FALSE;
  for (int nAttempt = 0; nAttempt < FOTAVI_POST_ATTEMPTS; ++nAttempt) {
    if (nAttempt > 0) Sleep(0);
    bResult = m_pfnPostMessage(hWnd, uMsg, wParam, lParam);
    if (bResult) {
      if (hWnd != nullptr) {
        m_Log.WriteLineF("POST\t\t:Message = %d, %d", static_cast<int>(uMsg - WM_USER), static_cast<int>(wParam));
      }
      return bResult;
    }
  }
  m_Log.WriteTrace("PostMessage() Error (%d)", static_cast<int>(GetLastError()));
  return bResult;
}

BOOL CFotaviZ5App::bPostThreadMessage(DWORD dwThreadId, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                      bool bLogFailure) {
  if (dwThreadId == 0) return FALSE;
  BOOL bResult = FALSE;
  for (int nAttempt = 0; nAttempt < FOTAVI_POST_ATTEMPTS; ++nAttempt) {
    if (nAttempt > 0) Sleep(0);
    bResult = m_pfnPostThreadMessage(dwThreadId, uMsg, wParam, lParam);
    if (bResult) return bResult;
  }
  if (bLogFailure) m_Log.WriteTrace("PostThreadMessage() Error (%d)", static_cast<int>(GetLastError()));
  return bResult;
}

BOOL CFotaviZ5App::bPostThreadMessage(const CPlatformThread* pThread, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (pThread == nullptr) return FALSE;
  return bPostThreadMessage(pThread->id(), uMsg, wParam, lParam);
}

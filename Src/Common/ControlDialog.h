// Counts the message boxes and modal dialogs open in the program. While any
// is open the main window defers its reaction to the camera's arrival or
// removal; when the count falls back to 0, WM_CONTROLDIALOG_END is posted to
// the main window, which then checks the camera again.
#pragma once

#include <atomic>
#include <string>

#include "Platform/Messages.h"
#include "Platform/Types.h"
#include "Platform/UiService.h"

constexpr UINT WM_CONTROLDIALOG_END = WM_USER + 10000;  // 0x2B10, wParam 0, lParam 0

class CControlDialog {
 public:
  CControlDialog() = default;

  // Stores a window or NULL; returns whether `hwnd` is a window (NULL: 0).
  // A handle that is not a window is not stored.
  BOOL SetNotifyWnd(HWND hwnd);
  HWND GetNotifyWnd() const { return m_hNotifyWnd.load(); }

  LONG BeginModal();
  // Posts WM_CONTROLDIALOG_END to the notify window when the count reaches 0.
  LONG EndModal();
  LONG GetModalCount() const { return m_nCount.load(); }

  // Message boxes between BeginModal and EndModal, shown through the
  // platform's user-interface service; they return the button pressed. The
  // caption is the program's title.
  int AfxMessageBox(const std::string& text, UINT type = MB_OK, UINT helpId = 0);
  int AfxMessageBox(UINT stringId, UINT type = MB_OK, UINT helpId = UINT(-1));
  int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type = MB_OK);

 private:
  std::atomic<LONG> m_nCount{0};
  std::atomic<HWND> m_hNotifyWnd{nullptr};
};

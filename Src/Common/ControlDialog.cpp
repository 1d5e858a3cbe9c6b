#include "ControlDialog.h"

#include "StringTable.h"

BOOL CControlDialog::SetNotifyWnd(HWND hwnd) {
  const BOOL isWindow = hwnd ? IsWindow(hwnd) : FALSE;
  if (!hwnd || isWindow) m_hNotifyWnd.store(hwnd);
  return isWindow;
}

LONG CControlDialog::BeginModal() { return m_nCount.fetch_add(1) + 1; }

LONG CControlDialog::EndModal() {
  const LONG count = m_nCount.fetch_sub(1) - 1;
  if (count == 0) {
    const HWND target = m_hNotifyWnd.load();
    if (target) PostMessage(target, WM_CONTROLDIALOG_END, 0, 0);
  }
  return count;
}

int CControlDialog::AfxMessageBox(const std::string& text, UINT type, UINT) {
  return MessageBox(GetNotifyWnd(), text, GetApplicationTitle(), type);
}

int CControlDialog::AfxMessageBox(UINT stringId, UINT type, UINT helpId) {
  return AfxMessageBox(LoadStringText(stringId), type, helpId);
}

int CControlDialog::MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  BeginModal();
  const int result = GetUserInterfaceService()->MessageBox(owner, text, caption, type);
  EndModal();
  return result;
}

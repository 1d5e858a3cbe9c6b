#include "App/ChildFrm.h"

#include <QApplication>

#include <QCloseEvent>
#include <QMdiArea>
#include <QStyle>

#include "App/MainFrm.h"

CChildFrame::CChildFrame(CMainFrame* mainFrame, std::unique_ptr<CFotaviDoc> document, std::string logClass)
    : QMdiSubWindow(nullptr), m_pMainFrame(mainFrame), m_pDocument(std::move(document)),
      m_strLogClass(std::move(logClass)) {
  setAttribute(Qt::WA_DeleteOnClose);
  if (m_pDocument) {
    m_pDocument->SetFrame(this);
    if (m_pDocument->GetDocTemplate()) m_strTemplateName = m_pDocument->GetDocTemplate()->GetDocString(2);
  }
  m_hWnd = CreateWindowTarget(
      [this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT { return WindowProc(msg, wParam, lParam); },
      m_strLogClass);
  if (m_pMainFrame) m_pMainFrame->OnChildFrameCreated(this);
}

CChildFrame::~CChildFrame() {
  if (m_hWnd) DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
  if (m_pMainFrame) m_pMainFrame->OnChildFrameDestroyed(this);
}

bool CChildFrame::OnCmdMsg(int) { return false; }

bool CChildFrame::OnUpdateCmdUI(CCmdUI*) { return false; }

LRESULT CChildFrame::WindowProc(UINT msg, WPARAM, LPARAM) {
  if (msg == WM_CLOSE) close();
  return 0;
}

BOOL CChildFrame::LoadFile(const std::string& path, BOOL bmp) {
  return m_pDocument ? m_pDocument->LoadPicture(path, bmp) : FALSE;
}

BOOL CChildFrame::LoadFromMemory(const BYTE* data, DWORD size) {
  if (!m_pDocument) return FALSE;
  const BOOL ok = m_pDocument->LoadPicture(data, size, 1);
  if (ok) m_pDocument->SetModifiedFlag(true);
  return ok;
}

CFrameMetrics DocumentFrameMetrics(const QWidget* frame) {
  const QStyle* style = frame ? frame->style() : QApplication::style();
  CFrameMetrics m;
  m.frameWidth = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, frame);
  m.captionHeight = style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, frame);
  return m;
}

QSize CChildFrame::OuterSizeFor(const QSize& client) const {
  // Frame decorations: the difference between the frame and its widget once
  // laid out; before that, the style's title bar and frame widths.
  if (widget() && widget()->width() > 0 && size().width() > widget()->width() && isVisible())
    return client + (size() - widget()->size());
  const CFrameMetrics m = DocumentFrameMetrics(this);
  return QSize(client.width() + 2 * m.frameWidth, client.height() + m.captionHeight + m.frameWidth);
}

void CChildFrame::PlaceAtNextPosition(const QSize& outer) {
  if (!m_pMainFrame) return;
  const QPoint pos = m_pMainFrame->GrantChildPosition(outer);
  move(pos);
}

void CChildFrame::closeEvent(QCloseEvent* event) {
  if (!CanClose()) {
    event->ignore();
    return;
  }
  QMdiSubWindow::closeEvent(event);
}

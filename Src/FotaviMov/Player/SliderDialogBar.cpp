#include "SliderDialogBar.h"

#include <QMouseEvent>
#include <QPalette>

#include "MoviePlay.h"
#include "Platform/Messages.h"

namespace {
// The last cursor x seen while dragging; one value for the program.
int g_nLastMouseX = -1;
constexpr int kThumbWidth = 10;
constexpr int kThumbHeight = 20;
}  // namespace

CSliderDialogBar::CSliderDialogBar(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(kThumbHeight + 4);
}

CSliderDialogBar::~CSliderDialogBar() {
  if (m_hWnd) DestroyWindow(m_hWnd);
}

bool CSliderDialogBar::InitSlider() {
  if (!m_pTrack) {
    m_pTrack = new QFrame(this);
    m_pTrack->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QPalette white = m_pTrack->palette();
    white.setColor(QPalette::Window, Qt::white);
    m_pTrack->setPalette(white);
    m_pTrack->setAutoFillBackground(true);
    m_pTrack->setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  if (!m_pThumb) {
    m_pThumb = new QFrame(this);
    m_pThumb->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_pThumb->setLineWidth(2);
    m_pThumb->setAutoFillBackground(true);
    m_pThumb->resize(kThumbWidth, kThumbHeight);
    m_pThumb->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_pThumb->setEnabled(false);
  }
  if (!m_hWnd) {
    m_hWnd = CreateWindowTarget([this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
      return WindowProc(msg, wParam, lParam);
    }, "SliderDialogBar");
  }
  PlaceThumb(SliderXForPercent(width(), m_nPosition));
  return m_pTrack && m_pThumb && m_hWnd;
}

LRESULT CSliderDialogBar::WindowProc(UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_SLIDER_ENABLE) {
    m_bEnabled = true;
    if (m_pThumb) m_pThumb->setEnabled(true);
    return 0;
  }
  if (msg == WM_SLIDER_SETPOS && wParam) {
    const int64_t percent = *reinterpret_cast<const int64_t*>(wParam);
    SetPosition(static_cast<int32_t>(percent & 0xFFFFFFFF));
    return 0;
  }
  return 0;
}

void CSliderDialogBar::EnableSlider(bool enable) {
  m_bEnabled = enable;
  if (m_pThumb) m_pThumb->setEnabled(enable);
}

void CSliderDialogBar::SetPosition(int percent) { PlaceThumb(SliderXForPercent(width(), percent)); }

void CSliderDialogBar::PlaceThumb(int x) {
  if (!m_pThumb) return;
  x = SliderClampX(width(), x);
  m_pThumb->move(x, 0);
  m_nPosition = SliderPercentForX(width(), m_pThumb->x());
  m_pThumb->update();
  update();
}

void CSliderDialogBar::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (m_pTrack) m_pTrack->setGeometry(5, height() / 2 - 2, width() - 10, 5);
  PlaceThumb(SliderXForPercent(width(), m_nPosition));
}

void CSliderDialogBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !m_bEnabled || !m_pView) return;
  grabMouse();
  PlaceThumb(static_cast<int>(event->position().x()) - 5);
  m_bDragging = true;
  m_pView->SeekMovie(m_nPosition, WM_LBUTTONDOWN);
}

void CSliderDialogBar::mouseMoveEvent(QMouseEvent* event) {
  if (!m_bDragging || !m_bEnabled || !m_pView) return;
  const int x = static_cast<int>(event->position().x());
  if (x == g_nLastMouseX) return;
  g_nLastMouseX = x;
  PlaceThumb(x - 5);
  m_pView->SeekMovie(m_nPosition, WM_MOUSEMOVE);
}

void CSliderDialogBar::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (m_bDragging && m_bEnabled && m_pView) {
    PlaceThumb(static_cast<int>(event->position().x()) - 5);
    m_pView->SeekMovie(m_nPosition, WM_LBUTTONUP);
  }
  m_bDragging = false;
  releaseMouse();
}

#include "MovieVideoWindow.h"

#include <QEvent>
#include <QImage>
#include <QPainter>

CMovieVideoWindow::CMovieVideoWindow(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  m_Timer.setInterval(static_cast<int>(MOVIE_POSITION_PERIOD_MS));
  connect(&m_Timer, &QTimer::timeout, this, [this] {
    if (m_Tick) m_Tick();
  });
  if (parent) {
    setGeometry(parent->rect());
    parent->installEventFilter(this);
  }
  hide();
}

CMovieVideoWindow::~CMovieVideoWindow() {
  if (parentWidget()) parentWidget()->removeEventFilter(this);
}

void CMovieVideoWindow::ShowFrame(std::shared_ptr<const CVideoFrame> frame) {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_pFrame = std::move(frame);
  }
  // The presenter thread only hands the picture over.
  QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void CMovieVideoWindow::SetPositionTimer(bool run) {
  if (run && !m_Timer.isActive()) m_Timer.start();
  if (!run) m_Timer.stop();
}

void CMovieVideoWindow::GetClientSize(int* width, int* height) {
  const QSize size = parentWidget() ? parentWidget()->size() : this->size();
  *width = size.width();
  *height = size.height();
}

void CMovieVideoWindow::PlaceVideo(int x, int y, int width, int height, bool visible) {
  m_Place = QRect(x, y, width, height);
  if (parentWidget()) setGeometry(parentWidget()->rect());
  setVisible(visible);
  if (visible) raise();
  update();
}

bool CMovieVideoWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
  return QWidget::eventFilter(watched, event);
}

void CMovieVideoWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  std::shared_ptr<const CVideoFrame> frame;
  {
    std::lock_guard<std::mutex> g(m_Lock);
    frame = m_pFrame;
  }
  if (!frame || frame->bgr.empty() || m_Place.isEmpty()) return;
  const QImage image(frame->bgr.data(), frame->width, frame->height, frame->stride, QImage::Format_BGR888);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(m_Place, image);
}

#include "Live/FullScreenWnd.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>

#include "Common/TraceLog.h"
#include "App/FotaviApp.h"
#include "Platform/Messages.h"
#include "App/Resource.h"

namespace {
QPointer<CFullScreenWnd> g_pCurrent;
}

CFullScreenWnd::CFullScreenWnd(HWND owner, const QImage* source, QWidget* screenOf)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), m_hOwner(owner), m_pSource(source) {
  setWindowTitle(QString::fromLatin1(FULLSCREEN_WINDOW_NAME));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setCursor(Qt::BlankCursor);
  QScreen* screen = screenOf && screenOf->screen() ? screenOf->screen() : QGuiApplication::primaryScreen();
  if (!screen) {
    TraceLog(TRC_PRE, "CFullScreenWnd::CFullScreenWnd", "The error occurred with the [CreateEx()] function.");
    FotaviMessageBox(IDS_INTERNAL_ERROR);
    return;
  }
  setGeometry(screen->geometry());
  m_bCreated = true;
  m_bActive = true;
  g_pCurrent = this;
  show();
  raise();
  activateWindow();
}

CFullScreenWnd::~CFullScreenWnd() {
  if (g_pCurrent == this) g_pCurrent = nullptr;
}

CFullScreenWnd* CFullScreenWnd::FindFullScreenWnd() { return g_pCurrent.data(); }

BOOL CFullScreenWnd::Initialize() {
  const QSize client = size();
  m_Memory = QImage(client.isEmpty() ? QSize(1, 1) : client, QImage::Format_RGB32);
  if (m_Memory.isNull()) {
    TraceLog(TRC_PRE, "CFullScreenWnd::CreateMemoryDC", "The error occurred with the [CreateCompatibleBitmap()] function.");
    TraceLog(TRC_PRE, "CFullScreenWnd::Initialize", "The error occurred with the [CreateMemoryDC()] function.");
    FotaviMessageBox(IDS_INTERNAL_ERROR);
    return FALSE;
  }
  m_Memory.fill(Qt::black);
  return TRUE;
}

QRect CFullScreenWnd::FitRect(int w, int h, int W, int H) {
  if (w <= 0 || h <= 0) return QRect(0, 0, W, H);
  const double sx = static_cast<double>(W) / w;
  const double sy = static_cast<double>(H) / h;
  if (sx > sy) {
    const int dw = static_cast<int>(sy * w);
    return QRect((W - dw) / 2, 0, dw, H);
  }
  const int dh = static_cast<int>(sx * h);
  return QRect(0, (H - dh) / 2, W, dh);
}

BOOL CFullScreenWnd::DrawPicture() {
  if (!m_bActive) return TRUE;
  if (!m_pSource) {
    TraceLog(TRC_PRE, "CFullScreenWnd::DrawPicture", "The error occurred with the [StretchBlt()] function.");
    return FALSE;
  }
  return DrawPicture(*m_pSource);
}

BOOL CFullScreenWnd::DrawPicture(const QImage& source) {
  if (!m_bActive) return TRUE;
  if (m_Memory.isNull() || source.isNull()) {
    TraceLog(TRC_PRE, "CFullScreenWnd::DrawPicture", "The error occurred with the [StretchBlt()] function.");
    return FALSE;
  }
  m_bMemoryReady = true;
  m_Memory.fill(Qt::black);
  const QRect target = FitRect(source.width(), source.height(), m_Memory.width(), m_Memory.height());
  {
    QPainter p(&m_Memory);
    // Smooth filtering when shrinking, plain pixel copies when enlarging.
    p.setRenderHint(QPainter::SmoothPixmapTransform, target.width() < source.width());
    p.drawImage(target, source);
  }
  update();
  return TRUE;
}

void CFullScreenWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (m_bMemoryReady) p.drawImage(0, 0, m_Memory);
  else p.fillRect(rect(), Qt::black);
}

void CFullScreenWnd::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape)
    PostMessage(m_hOwner, WM_FULLSCREEN_END, 0, 0);
  QWidget::keyPressEvent(event);
}

void CFullScreenWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) PostMessage(m_hOwner, WM_FULLSCREEN_END, 0, 0);
  QWidget::mousePressEvent(event);
}

void CFullScreenWnd::closeEvent(QCloseEvent* event) {
  // Only the owner ends full screen (Alt+F4 and the like are ignored).
  if (!m_bDestroying) event->ignore();
  else event->accept();
}

void CFullScreenWnd::Destroy() {
  m_bActive = false;
  m_bDestroying = true;
  hide();
  deleteLater();
}

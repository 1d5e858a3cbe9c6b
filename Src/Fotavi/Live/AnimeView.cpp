#include "Live/AnimeView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <cmath>

#include "Live/AnimeFrame.h"
#include "Common/TraceLog.h"
#include "Live/FullScreenWnd.h"
#include "App/MainFrm.h"
#include "App/Resource.h"

int64_t LiveClockNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

CAnimeView::CAnimeView(CAnimeDoc* doc, CAnimeFrame* frame) : QAbstractScrollArea(nullptr), m_pDoc(doc), m_pFrame(frame) {
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setCursor(Qt::OpenHandCursor);
  m_hWnd = CreateWindowTarget(
      [this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT { return WindowProc(msg, wParam, lParam); },
      "CAnimeView");
}

CAnimeView::~CAnimeView() {
  if (m_pFullWnd) {
    m_pFullWnd->SetActive(false);
    m_pFullWnd->Destroy();
    m_pFullWnd = nullptr;
  }
  if (m_hWnd) DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
}

LRESULT CAnimeView::WindowProc(UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_ANIME_FRAMEREADY: OnFrameReady(); break;
    case WM_FULLSCREEN_END: EndFullScreen(); break;
    case WM_ANIME_PICTSIZE: RecalcScrollBars(); break;
    default: break;
  }
  return 0;
}

void CAnimeView::NoteReplyArrived() {
  m_nArrivalNs.store(LiveClockNs());
  m_Stats.repliesArrived.fetch_add(1);
}

int CAnimeView::LoadPicture(const BYTE* data, DWORD size) {
  CViewData* holder = m_pDoc ? m_pDoc->GetViewData() : nullptr;
  if (!holder) return LOADPICT_DECODEFAILED;
  const int oldW = holder->GetPictureWidth();
  const int oldH = holder->GetPictureHeight();
  const int step = m_nSizeStep.load();
  // Decode beside the holder and replace its picture only with a good one:
  // a frame that cannot be decoded keeps the last good picture, so a paint
  // still queued on the GUI thread never finds the holder empty.
  CBitmap24 picture;
  if (!data || size == 0 || !holder->DecodeJpeg(nullptr, data, size, step, &picture)) {
    TraceLog(TRC_PRE, "CViewData::LoadPicture", "The error occurred with the [DecodeJpeg()] function.");
    TraceLog(TRC_PRE, "CAnimeView::LoadPicture", "The error occurred with the [LoadPicture()] function.");
    m_Stats.decodeFailures.fetch_add(1);
    return LOADPICT_DECODEFAILED;
  }
  holder->SetBitmap(picture);
  m_Stats.framesDecoded.fetch_add(1);
  m_nDecodedArrivalNs.store(m_nArrivalNs.load());
  m_nDecodedSeq.fetch_add(1);
  if (holder->GetPictureWidth() != oldW || holder->GetPictureHeight() != oldH) {
    PostMessage(m_pFrame ? m_pFrame->GetSafeHwnd() : nullptr, WM_ANIME_FRAMESIZE, static_cast<WPARAM>(step), 0);
    PostMessage(m_hWnd, WM_ANIME_PICTSIZE, 0, 0);
  }
  // One "frame ready" outstanding at most; the GUI takes the latest frame.
  if (!m_bFramePosted.exchange(true)) {
    if (!PostMessage(m_hWnd, WM_ANIME_FRAMEREADY, 0, 0)) {
      m_bFramePosted.store(false);
      TraceLog(TRC_PRE, "CAnimeView::LoadPicture", "The error occurred with the [RedrawWindow()] function.");
      PostMessage(m_pFrame ? m_pFrame->GetSafeHwnd() : nullptr, WM_ANIME_ERROR, IDS_INTERNAL_ERROR, 0);
      return LOADPICT_DRAWFAILED;
    }
  }
  return LOADPICT_OK;
}

void CAnimeView::OnFrameReady() {
  m_bFramePosted.store(false);
  if (!m_pDoc) return;
  const CBitmap24 latest = m_pDoc->GetBitmap();
  if (latest.isNull()) return;  // nothing decoded yet: keep what is shown
  m_Picture = latest;
  m_nShownSeq = m_nDecodedSeq.load();
  m_nShownArrivalNs = m_nDecodedArrivalNs.load();
  if (m_pFullWnd && !m_pFullWnd->DrawPicture(m_Picture)) {
    TraceLog(TRC_PRE, "CAnimeView::LoadPicture", "The error occurred with the [m_pFullWnd->DrawPicture()] function.");
    PostMessage(m_pFrame ? m_pFrame->GetSafeHwnd() : nullptr, WM_ANIME_ERROR, IDS_INTERNAL_ERROR, 0);
    return;
  }
  viewport()->update();
}

void CAnimeView::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  const QRect client = viewport()->rect();
  if (m_Picture.isNull()) {
    p.fillRect(client, Qt::black);
  } else {
    const double z = GetZoom();
    const QRectF source(horizontalScrollBar()->value() / z, verticalScrollBar()->value() / z, client.width() / z,
                        client.height() / z);
    // Black where the picture does not reach.
    const QRectF shown = source.intersected(QRectF(m_Picture.rect()));
    const QRectF target((shown.left() - source.left()) * z, (shown.top() - source.top()) * z, shown.width() * z,
                        shown.height() * z);
    if (!target.toAlignedRect().contains(client)) p.fillRect(client, Qt::black);
    p.setRenderHint(QPainter::SmoothPixmapTransform, z < 1.0);
    if (!shown.isEmpty()) p.drawImage(target, m_Picture, shown);
  }
  if (m_nShownSeq != m_nPaintedSeq) {
    m_nPaintedSeq = m_nShownSeq;
    m_Stats.framesPainted.fetch_add(1);
    if (m_Stats.recordLatency && m_nShownArrivalNs > 0) m_Stats.latencyMs.push_back((LiveClockNs() - m_nShownArrivalNs) / 1e6);
  }
}

double CAnimeView::GetZoom() const { return m_pDoc ? m_pDoc->GetZoom() : 1.0; }

void CAnimeView::SetZoom(double zoom) {
  if (m_pDoc) m_pDoc->SetZoom(zoom);
  RecalcScrollBars();
  viewport()->update();
}

void CAnimeView::SetSizeStep(int step) {
  m_nSizeStep.store(step);
  if (m_pDoc && m_pDoc->GetViewData()) {
    m_pDoc->SetZoom(1.0);
    RecalcScrollBars();
  }
}

void CAnimeView::SetClientSize(const QSize& size) {
  m_ClientSize = size;
  updateGeometry();
}

QSize CAnimeView::sizeHint() const { return m_ClientSize; }

void CAnimeView::RecalcScrollBars() {
  if (m_bUpdatingScroll || !m_pDoc) return;
  m_bUpdatingScroll = true;
  const double z = GetZoom();
  const int W = static_cast<int>(m_pDoc->GetPictureWidth() * z);
  const int H = static_cast<int>(m_pDoc->GetPictureHeight() * z);
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  // Two passes: first against the client area as it would be without scroll
  // bars, then against what is left once the bars the first pass needs take
  // their room (so bars shown for a larger picture go when the picture fits).
  const QSize full = maximumViewportSize();
  const int barH = h->sizeHint().height();
  const int barV = v->sizeHint().width();
  bool needH = W > full.width();
  bool needV = H > full.height();
  needH = W > full.width() - (needV ? barV : 0);
  needV = H > full.height() - (needH ? barH : 0);
  const QSize area(full.width() - (needV ? barV : 0), full.height() - (needH ? barH : 0));
  h->setPageStep(area.width());
  v->setPageStep(area.height());
  h->setRange(0, std::max(0, W - area.width()));
  v->setRange(0, std::max(0, H - area.height()));
  h->setValue(std::min(m_pDoc->GetScrollPos(SCROLL_HORZ), h->maximum()));
  v->setValue(std::min(m_pDoc->GetScrollPos(SCROLL_VERT), v->maximum()));
  m_pDoc->SetScrollPos(SCROLL_HORZ, h->value());
  m_pDoc->SetScrollPos(SCROLL_VERT, v->value());
  m_bUpdatingScroll = false;
}

void CAnimeView::scrollContentsBy(int, int) {
  if (!m_bUpdatingScroll && m_pDoc) {
    m_pDoc->SetScrollPos(SCROLL_HORZ, horizontalScrollBar()->value());
    m_pDoc->SetScrollPos(SCROLL_VERT, verticalScrollBar()->value());
  }
  viewport()->update();
}

void CAnimeView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  RecalcScrollBars();
}

void CAnimeView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  m_bDragging = true;
  m_DragStart = event->globalPosition().toPoint();
  m_nDragH = horizontalScrollBar()->value();
  m_nDragV = verticalScrollBar()->value();
  viewport()->setCursor(Qt::ClosedHandCursor);
}

void CAnimeView::mouseMoveEvent(QMouseEvent* event) {
  if (!m_bDragging || !(event->buttons() & Qt::LeftButton) || GetZoom() <= 1.0) return;
  const QPoint travel = event->globalPosition().toPoint() - m_DragStart;
  horizontalScrollBar()->setValue(m_nDragH - travel.x());
  verticalScrollBar()->setValue(m_nDragV - travel.y());
}

void CAnimeView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  m_bDragging = false;
  viewport()->setCursor(Qt::OpenHandCursor);
}

void CAnimeView::RedrawKeptFrame() {
  if (m_pFrame && m_pFrame->DrawKeptFrame()) OnFrameReady();
}

BOOL CAnimeView::ViewFullScreen() {
  static const char* const kLog = "CAnimeView::ViewFullScreen";
  if (m_pFullWnd) return TRUE;
  m_nSavedSizeStep = m_nSizeStep.load();
  m_nSizeStep.store(1);
  auto* full = new CFullScreenWnd(m_hWnd, &m_Picture, this);
  if (!full->IsCreated() || !full->Initialize()) {
    TraceLog(TRC_PRE, kLog, "Initialization error of CFullScreenWnd.");
    full->Destroy();
    m_nSizeStep.store(m_nSavedSizeStep);
    return FALSE;
  }
  m_pFullWnd = full;
  CMainFrame* main = m_pFrame ? m_pFrame->GetMainFrame() : nullptr;
  if (!main || !main->IsLiveRunning()) RedrawKeptFrame();
  else if (!m_Picture.isNull()) m_pFullWnd->DrawPicture(m_Picture);
  return TRUE;
}

void CAnimeView::EndFullScreen() {
  if (!m_pFullWnd) return;
  m_pFullWnd->SetActive(false);
  CMainFrame* main = m_pFrame ? m_pFrame->GetMainFrame() : nullptr;
  m_nSizeStep.store(main ? main->GetLiveSizeStep() : m_nSavedSizeStep);
  CFullScreenWnd* full = m_pFullWnd;
  m_pFullWnd = nullptr;
  RedrawKeptFrame();
  full->Destroy();
  if (main) main->SetRemoteCtrlTopMost(false);
}

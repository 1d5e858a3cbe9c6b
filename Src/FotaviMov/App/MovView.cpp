#include "MovView.h"

#include <QPainter>

#include "FotaviMovDoc.h"
#include "MovApp.h"
#include "MovResource.h"
#include "MovWindowFit.h"

CFotaviMovView::CFotaviMovView(CFotaviMovApp* app, CFotaviMovDoc* doc, IMovFrameHost* frame,
                               CSliderDialogBar* slider, QWidget* parent)
    : QWidget(parent), m_pDoc(doc), m_pFrame(frame) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(16, 16);
  m_hWnd = CreateWindowTarget([this](HWND, UINT msg, WPARAM w, LPARAM l) { return WindowProc(msg, w, l); },
                              "FotaviMovView");
  m_pLive = std::make_unique<CMovLivePicture>(app, m_hWnd);
  m_pRecording = std::make_unique<CMovRecording>(m_pLive.get(), &m_Measurement, frame,
                                                 [doc] { return doc->GetMaxReqCount(); });
  m_pPlayback = std::make_unique<CMovPlayback>(this, m_hWnd, slider, this);
}

CFotaviMovView::~CFotaviMovView() {
  StopMakeMovie(FALSE);
  StopSemiAnimation();
  m_pPlayback.reset();
  if (m_hWnd) DestroyWindow(m_hWnd);
}

LRESULT CFotaviMovView::WindowProc(UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_SEMIANIMATION_ERROR:
      OnSemiAnimationError(wParam);
      break;
    case WM_SEMIANIMATION_DRAW:
      if (m_pLive->TakeDrawNotice()) update();
      break;
    case WM_GRAPHNOTIFY:
      m_pPlayback->HandleGraphEvent();
      break;
    case WM_MOVIE_COMPLETE:
      m_pFrame->OnMovieStop();
      break;
    case WM_MOVIE_ABORT:
      CloseMovie();
      break;
    default:
      break;
  }
  return 0;
}

// ------------------------------------------------------------ live picture

BOOL CFotaviMovView::StartSemiAnimation() {
  if (m_pLive->IsRunning()) return TRUE;
  const bool started = m_pLive->Start([this] {
    m_pFrame->SetFixedFrame(true);
    SetLiveSize();
  });
  if (!started) UnfixFrame();
  return started ? TRUE : FALSE;
}

void CFotaviMovView::StopSemiAnimation() {
  if (!m_pLive->IsRunning()) return;
  m_pLive->Stop();
  UnfixFrame();
}

void CFotaviMovView::UnfixFrame() {
  setMinimumSize(16, 16);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  m_pFrame->SetFixedFrame(false);
  update();
}

void CFotaviMovView::OnDeviceGone() {
  if (!m_pLive->IsRunning()) return;
  StopMakeMovie(TRUE);
  StopSemiAnimation();
  m_pFrame->ResetToolButtons();
  ClearView();
}

void CFotaviMovView::OnSemiAnimationError(WPARAM code) {
  if (!m_pLive->IsRunning()) return;
  StopMakeMovie(TRUE);
  StopSemiAnimation();
  if (code == SEMIANIMATION_FAILED) MovMessageBox(IDS_MOV_LIVE_ERROR);
}

void CFotaviMovView::SetLiveSize() {
  FitLivePicture(m_pFrame, this, *m_pLive, QSize(int(m_pDoc->GetVideoWidth()), int(m_pDoc->GetVideoHeight())),
                 QSize(m_pDoc->GetCameraWidth(), m_pDoc->GetCameraHeight()));
}

void CFotaviMovView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // Black only where no picture lies: the live picture covers its rectangle.
  const QRect drawn = IsMovieOpen() ? QRect() : m_pLive->Paint(painter);
  if (!drawn.isEmpty()) ++m_nPainted;
  for (const QRect& r : QRegion(rect()).subtracted(drawn)) painter.fillRect(r, Qt::black);
}

void CFotaviMovView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_pLive->CentreIn(size());
  m_pPlayback->OnViewResized(size());
  if (IsMovieOpen()) m_pPlayback->SetShownSize(MovieSizeInView(size(), m_pPlayback->NativeSize()));
}

// ------------------------------------------------------------ playback

BOOL CFotaviMovView::MovieInitialize() {
  if (IsMovieOpen()) return TRUE;
  if (!m_pPlayback->Open(m_pDoc->GetMoviePath())) {
    ClearView();
    return FALSE;
  }
  SetMovieSize();
  return TRUE;
}

void CFotaviMovView::PlayMovie() {
  const std::string path = m_pDoc->GetMoviePath();
  if (!path.empty() && !MovieInitialize()) return;
  m_pPlayback->Play(path);
  if (!IsMovieOpen()) ClearView();
}

void CFotaviMovView::CloseMovie() {
  m_pPlayback->Close();
  ClearView();
}

void CFotaviMovView::SetMovieSize() {
  if (IsMovieOpen()) FitMovie(m_pFrame, this, *m_pPlayback);
}

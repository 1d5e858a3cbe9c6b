#include "MovView.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>

#include "Common/TraceLog.h"
#include "FitFrameWindow.h"
#include "FotaviMovDoc.h"
#include "MovApp.h"
#include "MovFrameRules.h"
#include "MovResource.h"
#include "MovieVideoWindow.h"

namespace {
// How long the start waits for the live thread's hidden window.
constexpr DWORD kInitWaitMs = 10000;
// The longest single wait of the limit timer; a longer limit is re-armed.
constexpr qint64 kLimitSliceMs = 3600 * 1000;

qint64 SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

CFotaviMovView::CFotaviMovView(CFotaviMovApp* app, CFotaviMovDoc* doc, IMovFrameHost* frame,
                               CSliderDialogBar* slider, QWidget* parent)
    : QWidget(parent), m_pApp(app), m_pDoc(doc), m_pFrame(frame), m_pSlider(slider) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(16, 16);
  m_hWnd = CreateWindowTarget([this](HWND, UINT msg, WPARAM w, LPARAM l) { return WindowProc(msg, w, l); },
                              "FotaviMovView");
  m_LimitTimer.setSingleShot(true);
  // A coarse timer may fire 5 % late: a minute's limit would record 3 s more.
  m_LimitTimer.setTimerType(Qt::PreciseTimer);
  connect(&m_LimitTimer, &QTimer::timeout, this, [this] {
    // Timer 4: the time limit, counted on the steady clock in 64 bits.
    const qint64 left = m_nLimitDeadlineMs - SteadyMs();
    if (left > 0) {
      m_LimitTimer.start(int(std::min(left, kLimitSliceMs)));
      return;
    }
    StopMakeMovie(TRUE);
  });
}

CFotaviMovView::~CFotaviMovView() {
  StopMakeMovie(FALSE);
  StopSemiAnimation();
  if (m_pPlayer) {
    m_pPlayer->Uninitialize();
    m_pPlayer.reset();
  }
  if (m_hWnd) DestroyWindow(m_hWnd);
}

LRESULT CFotaviMovView::WindowProc(UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_SEMIANIMATION_ERROR:
      OnSemiAnimationError(wParam);
      break;
    case WM_SEMIANIMATION_DRAW:
      if (m_pLive) {
        m_pLive->ClearDrawPending();
        update();
      }
      break;
    case WM_GRAPHNOTIFY:
      if (m_pPlayer) m_pPlayer->HandleGraphEvent();
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

// Answers of one recording; `hwnd` is the recording's notify window, so an
// answer of a recording that has ended finds no window and is not handled.
LRESULT CFotaviMovView::RecordProc(HWND hwnd, UINT msg) {
  if (hwnd != m_hRecordWnd || !m_pRecord) return 0;
  switch (msg) {
    case WM_MOVIE_REC_READY:
      OnMovieRecReady();
      break;
    case WM_MAKEMOVIE_FRAMEDONE:
      OnMakeMovieFrameDone();
      break;
    case WM_MOVIE_REC_END:
      OnMovieRecEnd();
      break;
    case WM_MAKEMOVIE_ERROR:
      OnMakeMovieError();
      break;
    default:
      break;
  }
  return 0;
}

// ------------------------------------------------------------ live picture

BOOL CFotaviMovView::StartSemiAnimation() {
  static const char* const kLog = "CFotaviMovView::StartSemiAnimation";
  if (m_pLive) return TRUE;
  try {
    m_pWaitEvent = std::make_shared<CEvent>(true, false);
  } catch (const std::bad_alloc&) {
    TraceLog(TRC_MOV, kLog, "It failed in CreateEvent. EventName=%s", "SemiAnimationWaitEvent");
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    return FALSE;
  }
  CEvent initEvent(true, false);  // "SemiAnimationInitEvent"
  m_pFrame->SetFixedFrame(true);
  m_pLive = std::make_unique<CSemiAnimationThread>(m_pApp->GetDevice(), &m_pApp->GetJpeg());
  m_pLive->SetWaitEvent(m_pWaitEvent.get());
  m_pLive->GetMessageWnd().SetOwner(m_pLive.get());
  SetLiveSize();
  ANIMATIONINITPARAM param{m_hWnd, &initEvent};
  m_pLive->ResumeThread();
  if (!m_pLive->PostThreadMessage(WM_SEMIANIMATION_INIT, reinterpret_cast<WPARAM>(&param), 0) ||
      initEvent.Wait(kInitWaitMs) != WAIT_OBJECT_0 || !m_pLive->GetMessageHwnd()) {
    TraceLog(TRC_MOV, kLog, "The error occurred with the [WM_SEMIANIMATION_INIT] message.");
    StopSemiAnimation();
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    return FALSE;
  }
  m_pLive->PostThreadMessage(WM_JPEG_READ, 0, 0);
  return TRUE;
}

void CFotaviMovView::StopSemiAnimation() {
  if (!m_pLive) return;
  m_pLive->PostThreadMessage(WM_SEMIANIMATION_END, 0, 0);
  // The thread bounds its own wait for a reply in flight.
  if (!m_pLive->WaitForEnd(LIVE_END_WAIT_MS + 5000))
    TraceLog(TRC_MOV, "CFotaviMovView::StopSemiAnimation", "The live-picture thread did not end in time.");
  m_pLive.reset();
  m_pWaitEvent.reset();
  setMinimumSize(16, 16);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  m_pFrame->SetFixedFrame(false);
  update();
}

void CFotaviMovView::OnDeviceGone() {
  if (!m_pLive) return;
  StopMakeMovie(TRUE);
  StopSemiAnimation();
  m_pFrame->ResetToolButtons();
  ClearView();
  m_pFrame->SetFixedFrame(false);
}

void CFotaviMovView::OnSemiAnimationError(WPARAM code) {
  if (!m_pLive) return;
  StopMakeMovie(TRUE);
  StopSemiAnimation();
  update();
  if (code == SEMIANIMATION_FAILED) MovMessageBox(IDS_MOV_LIVE_ERROR);
}

QSize CFotaviMovView::FitToAspect(QSize size) const {
  int a = 4, b = 3;
  if (m_pPlayer && m_pPlayer->GetVideoWidth() > 0 && m_pPlayer->GetVideoHeight() > 0) {
    a = m_pPlayer->GetVideoWidth();
    b = m_pPlayer->GetVideoHeight();
  } else if (m_pLive) {
    a = m_pDoc->GetCameraWidth();
    b = m_pDoc->GetCameraHeight();
  } else {
    return size;
  }
  int w = size.width(), h = size.height();
  if (qint64(h) * a < qint64(w) * b) w = int(qint64(h) * a / b);
  else if (qint64(w) * b < qint64(h) * a) h = int(qint64(w) * b / a);
  return {w, h};
}

QSize CFotaviMovView::FitToScreen(QSize size, int edges) const {
  QWidget* frame = m_pFrame->FrameWidget();
  QScreen* screen = frame->screen() ? frame->screen() : QGuiApplication::primaryScreen();
  if (!screen) return size;
  const QRect work = screen->availableGeometry();
  // What the frame needs around the picture: its decoration, the menu and
  // the bars (the view's own size says nothing before it is sized).
  int menu = 0;
  if (auto* main = qobject_cast<QMainWindow*>(frame); main && main->menuWidget())
    menu = main->menuWidget()->sizeHint().height();
  const int extraW = std::max(0, frame->frameGeometry().width() - frame->width());
  const int extraH = std::max(0, frame->frameGeometry().height() - frame->height()) + menu + m_pFrame->GetBarsHeight();
  if (work.width() < size.width() + edges + extraW) size.setWidth(work.width() - edges - extraW);
  if (work.height() < size.height() + edges + extraH) size.setHeight(work.height() - edges - extraH);
  return FitToAspect(size);
}

void CFotaviMovView::SetLiveSize() {
  if (!m_pLive) return;
  const int percent = ViewSizePercent(m_pFrame->GetViewSizeId());
  const int decodeW = int(m_pDoc->GetVideoWidth()), decodeH = int(m_pDoc->GetVideoHeight());
  const QSize draw = FitToScreen(QSize(decodeW * percent / 100, decodeH * percent / 100), 0);
  m_pLive->SetDecodeSize(decodeW, decodeH);
  m_pLive->SetDrawSize(draw.width(), draw.height());
  m_pLive->SetDrawOffset(0, 0);
  setFixedSize(draw);
  QWidget* frame = m_pFrame->FrameWidget();
  frame->adjustSize();
  m_pFrame->KeepInWorkArea();
  update();
}

void CFotaviMovView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (!m_pPlayer && m_pLive && m_pLive->HasPicture()) {
    m_pLive->Draw(painter);
    ++m_nPainted;
  }
}

void CFotaviMovView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (m_pVideo) m_pVideo->setGeometry(rect());
  if (m_pPlayer) {
    // The picture lies inside the view's edges.
    const QSize inside = (size() - QSize(2 * MOVIE_VIEW_EDGE, 2 * MOVIE_VIEW_EDGE)).expandedTo(QSize(1, 1));
    const QSize fitted = FitToAspect(inside);
    m_pPlayer->SetVideoWindowSize(fitted.width(), fitted.height());
  }
}

// ------------------------------------------------------------ recording

CBitmap24 CFotaviMovView::CopyLivePicture(LONG width, LONG height) {
  CSemiAnimationThread* live = m_pLive.get();
  if (!live) return CBitmap24();
  return live->CopyPicture(width, height);
}

BOOL CFotaviMovView::StartMakeMovie(const MAKEMOVIEPARAM& param) {
  static const char* const kLog = "CFotaviMovView::StartMakeMovie";
  if (!m_pLive) {
    TraceLogText(TRC_MOV, kLog, "It tried to make animation though semi-animation was not displayed. ");
    return FALSE;
  }
  if (m_pRecord) return TRUE;
  m_hRecordWnd = CreateWindowTarget(
      [this](HWND hwnd, UINT msg, WPARAM, LPARAM) { return RecordProc(hwnd, msg); }, "FotaviMovRecording");
  if (!m_hRecordWnd) {
    TraceLogText(TRC_MOV, kLog, "The recording's notify window cannot be made.");
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    return FALSE;
  }
  m_pRecord = std::make_unique<CMakeMovieThread>(m_WriterFactory);
  m_nLimitMode = param.recCondition;
  m_nLimit = param.recLimit;
  m_dwFrameRate = param.frameRate;
  ApplyMakeMovieParam(m_pRecord.get(), param, m_hRecordWnd);
  m_pRecord->SetStopLimits(m_StopLimits);
  m_nRecWidth = LONG(param.width);
  m_nRecHeight = LONG(param.height);
  // The pacer is the counter the thread gives its units back to; during a
  // measurement it runs no clock and counts nothing.
  m_pPacer = std::make_unique<CFramePacer>(
      m_pRecord.get(), m_hRecordWnd, [this](LONG w, LONG h) { return CopyLivePicture(w, h); }, m_nRecWidth,
      m_nRecHeight, m_pDoc->GetMaxReqCount());
  if (m_pWaitEvent) m_pRecord->PostWait(m_pWaitEvent);
  if (!m_hMeasureWnd) m_pRecord->SetCountRequests(TRUE);
  m_strLastError.clear();
  if (!m_pRecord->Start()) {
    TraceLogText(TRC_MOV, kLog, "The recording thread cannot be made.");
    m_pPacer.reset();
    m_pRecord.reset();
    DestroyWindow(m_hRecordWnd);
    m_hRecordWnd = nullptr;
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    return FALSE;
  }
  return TRUE;
}

void CFotaviMovView::OnMovieRecReady() {
  if (!m_pRecord) return;
  if (m_hMeasureWnd) {
    if (m_pLive) m_pLive->SetCounting(true);
    RequestMeasureFrame();
  } else if (!m_pPacer->Begin(m_dwFrameRate)) {
    StopMakeMovie(TRUE);
    return;
  }
  if (m_nLimitMode == RECCOND_TIME) {
    // Counted from here, when the first picture is there, not from Record.
    const qint64 ms = qint64(std::min<uint64_t>(m_nLimit, uint64_t(1) << 40) * 1000);
    m_nLimitDeadlineMs = SteadyMs() + ms;
    m_LimitTimer.start(int(std::min(ms, kLimitSliceMs)));
  }
}

void CFotaviMovView::RequestMeasureFrame() {
  CBitmap24 bitmap = CopyLivePicture(m_nRecWidth, m_nRecHeight);
  if (bitmap.isNull()) {
    TraceLogText(TRC_MOV, "CFotaviMovView::RequestMakeMovie", "HBITMAP is NULL.");
    PostMessage(m_hRecordWnd, WM_MAKEMOVIE_ERROR, 0, 0);
    return;
  }
  auto record = std::make_unique<RECINFO>();
  record->pFrameClock = m_pPacer.get();
  record->hViewWnd = m_hRecordWnd;
  record->hBitmap = std::move(bitmap);
  record->width = m_nRecWidth;
  record->height = m_nRecHeight;
  m_pRecord->PostFrame(std::move(record));
}

void CFotaviMovView::OnMakeMovieFrameDone() {
  if (m_hMeasureWnd && m_pRecord) RequestMeasureFrame();
}

void CFotaviMovView::KillClocks() {
  m_pFrame->SelectToolButton(ID_MOV_MOVIE_STOP);
  if (m_pPacer) m_pPacer->End();
  m_LimitTimer.stop();
}

bool CFotaviMovView::JoinRecording(const char* function) { return m_pRecord->WaitForEnd(function); }

void CFotaviMovView::EndRecording() {
  m_nLastFrames = m_pRecord->GetFrameCount();
  m_nLastRepeated = m_pRecord->GetRepeatedCount();
  m_nLastCaptured = m_pPacer ? m_pPacer->GetRecordsSent() : 0;
  // The clock was killed before the thread was told to stop; it is freed
  // only after the thread has ended, since every queued record holds it.
  FreeRecording(std::move(m_pRecord), std::move(m_pPacer));
  // Every part a measurement wrote goes, on every way out of it.
  m_MeasureFiles.Remove();
  if (m_hRecordWnd) DestroyWindow(m_hRecordWnd);
  m_hRecordWnd = nullptr;
  ++m_nEnded;
}

void CFotaviMovView::PostMeasurementResult(bool withRecord, DWORD pictures) {
  const HWND target = m_hMeasureWnd;
  m_hMeasureWnd = nullptr;
  if (!target) return;
  if (!withRecord) {
    PostMessage(target, WM_AUTOFRAMERATE_RESULT, 0, 0);
    return;
  }
  auto* result = new (std::nothrow) MEASUREMENTRESULT{m_pRecord->GetFrameCount(), pictures};
  if (!result) {
    TraceLogMemory(TRC_MOV, "CFotaviMovView::StopMakeMovie", "MEASUREMENT");
    MovMessageBox(IDS_MOV_NO_RESOURCES);
    return;
  }
  if (!IsWindow(target) || !PostMessage(target, WM_AUTOFRAMERATE_RESULT, reinterpret_cast<WPARAM>(result), 0))
    delete result;
}

void CFotaviMovView::SetMeasureWnd(HWND window) {
  m_hMeasureWnd = window;
  // A measurement given up before its recording started leaves nothing.
  if (!window && !m_pRecord) m_MeasureFiles.Remove();
}

std::string CFotaviMovView::CreateMeasurementFile() { return m_MeasureFiles.Create(); }

void CFotaviMovView::StopMakeMovie(BOOL notify) {
  static const char* const kLog = "CFotaviMovView::StopMakeMovie";
  KillClocks();
  if (!m_pRecord) return;
  // A thread still waiting for the first picture ends its wait on the stop
  // itself. The event is the live picture's and stays as its first reply
  // leaves it, so that the next recording waits for a picture too.
  const bool measuring = m_hMeasureWnd != nullptr;
  if (m_hMeasureWnd) {
    m_pRecord->SetAcceptFrames(FALSE);
    m_pRecord->PostStop();
    JoinRecording(kLog);
    DWORD pictures = 0;
    if (m_pLive) {
      m_pLive->SetCounting(false);
      pictures = DWORD(m_pLive->GetPictureCount());
    }
    if (notify) PostMeasurementResult(true, pictures);
    m_hMeasureWnd = nullptr;
  } else {
    m_pRecord->PostStop();
    JoinRecording(kLog);
  }
  m_strLastError = m_pRecord->GetErrorMessage();
  EndRecording();
  // The thread's own error notice went to the recording's window, which is
  // gone now: a file that could not be completed (or an error not handled
  // yet) is shown here, so that a failed recording never looks finished.
  if (notify && !measuring && !m_strLastError.empty()) MovMessageBoxText(m_strLastError);
}

void CFotaviMovView::OnMovieRecEnd() {
  static const char* const kLog = "CFotaviMovView::OnMovieRecEnd";
  if (!m_pRecord) return;
  if (m_pPacer) m_pPacer->End();
  m_LimitTimer.stop();
  if (m_hMeasureWnd) {
    DWORD pictures = 0;
    if (m_pLive) {
      m_pLive->SetCounting(false);
      pictures = DWORD(m_pLive->GetPictureCount());
    }
    PostMeasurementResult(true, pictures);
  }
  JoinRecording(kLog);
  EndRecording();
  m_pFrame->SelectToolButton(ID_MOV_MOVIE_STOP);
}

void CFotaviMovView::OnMakeMovieError() {
  static const char* const kLog = "CFotaviMovView::OnMakeMovieError";
  if (!m_pRecord) return;
  std::string text = m_pRecord->GetErrorMessage();
  // A failure of the frame clock's own (no picture, no memory) has its text
  // there; a recording never ends on an error without one.
  if (text.empty() && m_pPacer) text = m_pPacer->GetErrorMessage();
  if (text.empty()) text = MovString(IDS_MOV_INTERNAL_ERROR);
  if (m_pPacer) m_pPacer->End();
  m_LimitTimer.stop();
  m_pRecord->PostStop();
  if (m_hMeasureWnd) {
    if (m_pLive) m_pLive->SetCounting(false);
    PostMeasurementResult(false, 0);
  }
  JoinRecording(kLog);
  EndRecording();
  m_strLastError = text;
  m_pFrame->SelectToolButton(ID_MOV_MOVIE_STOP);
  MovMessageBoxText(text);
}

// ------------------------------------------------------------ playback

BOOL CFotaviMovView::MovieInitialize() {
  static const char* const kLog = "CFotaviMovView::MovieInitialize";
  const std::string path = m_pDoc->GetMoviePath();
  if (m_pPlayer) return TRUE;
  try {
    m_pPlayer = std::make_unique<CMoviePlay>();
    if (!m_pVideo) {
      m_pVideo = new CMovieVideoWindow(this);
      m_pVideo->SetPositionTick([this] {
        if (m_pPlayer) m_pPlayer->UpdatePosition();
      });
    }
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_MOV, kLog, "CMoviePlay");
    MovMessageBox(IDS_MOV_NO_RESOURCES);
    m_pPlayer.reset();
    return FALSE;
  }
  m_pVideo->setGeometry(rect());
  m_pVideo->show();
  const MOVIERESULT hr = m_pPlayer->Initialize(m_hWnd, m_pSlider ? m_pSlider->GetSafeHwnd() : nullptr, m_pVideo, path);
  if (hr >= 0) {
    if (m_pSlider) m_pSlider->SetView(this);
    SetMovieSize();
    return TRUE;
  }
  if (hr == MOVIE_E_OUTOFMEMORY) MovMessageBox(IDS_MOV_NO_RESOURCES);
  else if (hr == MOVIERESULT(0x8004020Bu)) MovMessageBox(IDS_MOV_INTERNAL_ERROR);
  else MovMessageBox(IDS_MOV_INVALID_FILE);
  CloseMovie();
  return FALSE;
}

void CFotaviMovView::PlayMovie() {
  if (m_pDoc->GetMoviePath().empty()) {
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    CloseMovie();
    return;
  }
  if (!m_pPlayer && !MovieInitialize()) return;
  if (m_pPlayer->Play() >= 0) {
    if (m_pSlider) m_pSlider->EnableSlider(true);
    return;
  }
  MovMessageBox(IDS_MOV_PLAY_ERROR);
  CloseMovie();
}

void CFotaviMovView::PauseMovie() {
  if (m_pPlayer && m_pPlayer->Pause() < 0) MovMessageBox(IDS_MOV_PAUSE_ERROR);
}

void CFotaviMovView::StopMovie() {
  if (m_pPlayer && m_pPlayer->Stop() < 0) MovMessageBox(IDS_MOV_STOP_ERROR);
}

BOOL CFotaviMovView::IsMoviePaused() const { return m_pPlayer && m_pPlayer->GetState() == CMoviePlay::Paused; }

void CFotaviMovView::SeekMovie(int percent, UINT mouseMessage) {
  if (m_pPlayer) m_pPlayer->Seek(percent, mouseMessage);
}

void CFotaviMovView::CloseMovie() {
  if (m_pPlayer) {
    m_pPlayer->Uninitialize();
    m_pPlayer.reset();
    if (m_pSlider) {
      m_pSlider->SetPosition(0);
      m_pSlider->EnableSlider(false);
    }
  }
  if (m_pVideo) m_pVideo->hide();
  ClearView();
}

void CFotaviMovView::SetMovieSize() {
  if (!m_pPlayer) return;
  const int percent = ViewSizePercent(m_pFrame->GetViewSizeId());
  const int nativeW = m_pPlayer->GetVideoWidth(), nativeH = m_pPlayer->GetVideoHeight();
  if (nativeW <= 0 || nativeH <= 0) return;
  const QSize wanted(nativeW * percent / 100, nativeH * percent / 100);
  const QSize fitted = FitToScreen(wanted, 2 * MOVIE_VIEW_EDGE);
  const bool shrunk = fitted.width() < wanted.width();
  m_pPlayer->SetVideoWindowSize(fitted.width(), fitted.height());
  FitFrameWindow(m_pFrame->FrameWidget(), this, m_pPlayer->GetShownWidth(), m_pPlayer->GetShownHeight(), shrunk);
  m_pFrame->KeepInWorkArea();
}

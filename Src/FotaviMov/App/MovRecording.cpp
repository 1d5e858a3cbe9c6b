#include "MovRecording.h"

#include <algorithm>
#include <chrono>

#include "Common/TraceLog.h"
#include "MovApp.h"
#include "MovFrameHost.h"
#include "MovLivePicture.h"
#include "MovMeasurement.h"
#include "MovResource.h"

namespace {
// The longest single wait of the limit timer; a longer limit is re-armed.
constexpr qint64 kLimitSliceMs = 3600 * 1000;
// How often an ending recording's thread is looked at.
constexpr int kEndPollMs = 20;

qint64 SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

CMovRecording::CMovRecording(CMovLivePicture* live, CMovMeasurement* measurement, IMovFrameHost* frame,
                             std::function<DWORD()> maxRequests)
    : m_pLive(live), m_pMeasurement(measurement), m_pFrame(frame), m_MaxRequests(std::move(maxRequests)) {
  m_LimitTimer.setSingleShot(true);
  // A coarse timer may fire 5 % late: a minute's limit would record 3 s more.
  m_LimitTimer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&m_LimitTimer, &QTimer::timeout, [this] { OnLimitTimer(); });
  m_EndTimer.setInterval(kEndPollMs);
  QObject::connect(&m_EndTimer, &QTimer::timeout, [this] { CheckEnd(); });
}

CMovRecording::~CMovRecording() {
  m_EndTimer.stop();
  m_WhenEnded.clear();
  if (!m_pRecord) return;
  if (!m_bEnding) Stop(FALSE);
  if (!m_pRecord) return;
  // The view goes: nothing is shown or posted any more, and the thread
  // writes what it holds under the late threads' owner.
  m_MeasureEnding = CMovMeasurement::Ending{};
  m_bEndNotify = false;
  m_bDestroying = true;
  FinishEnd(false);
}

// Timer 4: the time limit, counted on the steady clock in 64 bits.
void CMovRecording::OnLimitTimer() {
  const qint64 left = m_nLimitDeadlineMs - SteadyMs();
  if (left > 0) {
    m_LimitTimer.start(int(std::min(left, kLimitSliceMs)));
    return;
  }
  Stop(TRUE);
}

// Answers of one recording; `hwnd` is the recording's notify window, so an
// answer of a recording that has ended finds no window and is not handled.
LRESULT CMovRecording::RecordProc(HWND hwnd, UINT msg) {
  if (hwnd != m_hRecordWnd || !m_pRecord) return 0;
  if (m_bEnding) {
    // Only the end matters now.
    if (msg == WM_MOVIE_REC_END || msg == WM_MAKEMOVIE_ERROR) CheckEnd();
    return 0;
  }
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

BOOL CMovRecording::Start(const MAKEMOVIEPARAM& param) {
  static const char* const kLog = "CFotaviMovView::StartMakeMovie";
  if (!m_pLive->IsRunning()) {
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
      m_pRecord.get(), m_hRecordWnd, [live = m_pLive](LONG w, LONG h) { return live->CopyPicture(w, h); }, m_nRecWidth,
      m_nRecHeight, m_MaxRequests());
  if (m_pLive->WaitEvent()) m_pRecord->PostWait(m_pLive->WaitEvent());
  if (!m_pMeasurement->IsMeasuring()) m_pRecord->SetCountRequests(TRUE);
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

void CMovRecording::OnMovieRecReady() {
  if (!m_pRecord) return;
  if (m_pMeasurement->IsMeasuring()) {
    m_pMeasurement->OnReady(*m_pLive);
    RequestMeasureFrame();
  } else if (!m_pPacer->Begin(m_dwFrameRate)) {
    Stop(TRUE);
    return;
  }
  if (m_nLimitMode == RECCOND_TIME) {
    // Counted from here, when the first picture is there, not from Record.
    const qint64 ms = qint64(std::min<uint64_t>(m_nLimit, uint64_t(1) << 40) * 1000);
    m_nLimitDeadlineMs = SteadyMs() + ms;
    m_LimitTimer.start(int(std::min(ms, kLimitSliceMs)));
  }
}

void CMovRecording::RequestMeasureFrame() {
  CBitmap24 bitmap = m_pLive->CopyPicture(m_nRecWidth, m_nRecHeight);
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

void CMovRecording::OnMakeMovieFrameDone() {
  if (m_pMeasurement->IsMeasuring() && m_pRecord) RequestMeasureFrame();
}

void CMovRecording::KillClocks() {
  m_pFrame->SelectToolButton(ID_MOV_MOVIE_STOP);
  if (m_pPacer) m_pPacer->End();
  m_LimitTimer.stop();
}

void CMovRecording::EndRecording() {
  m_nLastFrames = m_pRecord->GetFrameCount();
  m_nLastRepeated = m_pRecord->GetRepeatedCount();
  m_nLastCaptured = m_pPacer ? m_pPacer->GetRecordsSent() : 0;
  // The clock was killed before the thread was told to stop; it is freed
  // only after the thread has ended, since every queued record holds it.
  // Every part a measurement wrote goes, on every way out of it, once the
  // thread writing them has let go of them.
  std::function<void()> removeFiles;
  if (const std::string folder = m_pMeasurement->TakeFilesFolder(); !folder.empty())
    removeFiles = [folder] { CMeasurementFiles::RemoveFolder(folder); };
  FreeRecording(std::move(m_pRecord), std::move(m_pPacer), std::move(removeFiles));
  if (m_hRecordWnd) DestroyWindow(m_hRecordWnd);
  m_hRecordWnd = nullptr;
  ++m_nEnded;
}

void CMovRecording::Stop(BOOL notify) {
  KillClocks();
  if (!m_pRecord) return;
  if (m_bEnding) {
    // A stop without a result after one with (the measurement's window
    // goes): nothing is reported.
    if (!notify) {
      m_bEndNotify = false;
      if (m_MeasureEnding.outcome == CMovMeasurement::Outcome::Result)
        m_MeasureEnding.outcome = CMovMeasurement::Outcome::Silent;
    }
    return;
  }
  // A thread still waiting for the first picture ends its wait on the stop
  // itself. The event is the live picture's and stays as its first reply
  // leaves it, so that the next recording waits for a picture too.
  if (m_pMeasurement->IsMeasuring()) {
    m_pRecord->SetAcceptFrames(FALSE);
    m_MeasureEnding = m_pMeasurement->TakeEnding(
        notify ? CMovMeasurement::Outcome::Result : CMovMeasurement::Outcome::Silent, *m_pLive);
    m_bEndMeasuring = true;
  }
  m_pRecord->PostStop();
  BeginEnd(EndKind::Stop, notify != FALSE, {});
}

void CMovRecording::OnMovieRecEnd() {
  if (!m_pRecord) return;
  if (m_pPacer) m_pPacer->End();
  m_LimitTimer.stop();
  if (m_pMeasurement->IsMeasuring()) {
    m_MeasureEnding = m_pMeasurement->TakeEnding(CMovMeasurement::Outcome::Result, *m_pLive);
    m_bEndMeasuring = true;
  }
  BeginEnd(EndKind::ByItself, false, {});
}

void CMovRecording::OnMakeMovieError() {
  if (!m_pRecord) return;
  std::string text = m_pRecord->GetErrorMessage();
  // A failure of the frame clock's own (no picture, no memory, a writer
  // that cannot keep up) has its text there; a recording never ends on an
  // error without one.
  if (text.empty() && m_pPacer) text = m_pPacer->GetErrorMessage();
  if (text.empty()) text = MovString(IDS_MOV_INTERNAL_ERROR);
  if (m_pPacer) m_pPacer->End();
  m_LimitTimer.stop();
  m_pRecord->PostStop();
  if (m_pMeasurement->IsMeasuring()) {
    m_MeasureEnding = m_pMeasurement->TakeEnding(CMovMeasurement::Outcome::Failed, *m_pLive);
    m_bEndMeasuring = true;
  }
  BeginEnd(EndKind::Error, true, std::move(text));
}

void CMovRecording::BeginEnd(EndKind kind, bool notify, std::string text) {
  m_bEnding = true;
  m_EndKind = kind;
  m_bEndNotify = notify;
  m_strEndText = std::move(text);
  m_bCut = false;
  m_nEndStageMs = SteadyMs();
  CheckEnd();
  if (m_bEnding) m_EndTimer.start();
}

void CMovRecording::CheckEnd() {
  static const char* const kLog = "CFotaviMovView::StopMakeMovie";
  if (!m_bEnding || !m_pRecord) return;
  if (m_pRecord->HasEnded()) {
    FinishEnd(false);
    return;
  }
  const qint64 elapsed = SteadyMs() - m_nEndStageMs;
  const RECSTOPLIMITS& limits = m_pRecord->GetStopLimits();
  if (!m_bCut && elapsed >= qint64(limits.drainMs)) {
    // The frames still waiting are dropped; the end names the save failure.
    m_pRecord->Cut(kLog);
    m_bCut = true;
    m_nEndStageMs = SteadyMs();
  } else if (m_bCut && elapsed >= qint64(limits.cutMs)) {
    TraceLogText(TRC_MOV, kLog, "The recording thread did not end in time.");
    FinishEnd(true);
  }
}

void CMovRecording::FinishEnd(bool gaveUp) {
  m_EndTimer.stop();
  m_bEnding = false;
  std::string text = m_strEndText;
  if (text.empty()) text = m_pRecord->GetErrorMessage();
  // Given up before its file is complete: never a recording that looks finished.
  if (gaveUp && text.empty()) text = MovString(IDS_MOV_SAVE_ERROR);
  if (m_bEndMeasuring) CMovMeasurement::PostEnd(m_MeasureEnding, m_pRecord->GetFrameCount());
  const bool measured = m_bEndMeasuring;
  m_bEndMeasuring = false;
  m_MeasureEnding = CMovMeasurement::Ending{};
  const EndKind kind = m_EndKind;
  const bool notify = m_bEndNotify;
  m_strLastError = text;
  EndRecording();
  if (m_bDestroying) return;  // the frame goes too
  m_pFrame->SelectToolButton(ID_MOV_MOVIE_STOP);
  // The thread's own error notice went to the recording's window while the
  // end was watched: a file that could not be completed is shown here, so
  // that a failed recording never looks finished.
  if (!text.empty() && notify && (kind == EndKind::Error || (kind == EndKind::Stop && !measured)))
    MovMessageBoxText(text);
  std::vector<std::function<void()>> then;
  then.swap(m_WhenEnded);
  for (auto& f : then) f();
}

void CMovRecording::WhenEnded(std::function<void()> then) {
  if (!m_pRecord) {
    then();
    return;
  }
  m_WhenEnded.push_back(std::move(then));
}

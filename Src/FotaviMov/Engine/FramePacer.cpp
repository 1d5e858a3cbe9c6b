#include "FramePacer.h"

#include <algorithm>
#include <new>

#include "Common/TraceLog.h"
#include "MovStrings.h"

LONG ClampMaxReqCount(DWORD value) { return static_cast<LONG>(std::clamp<DWORD>(value, 1, MAX_REQ_COUNT)); }

DWORD FramePeriodMs(DWORD rate) { return 1000 / std::clamp<DWORD>(rate, 1, 1000); }

LONG FrameBacklogLimit(DWORD rate, LONG maxReqCount) {
  const LONG seconds = static_cast<LONG>(std::clamp<DWORD>(rate, 1, 1000) * FRAME_BACKLOG_SECONDS);
  return std::max(seconds, maxReqCount + 1);
}

CFramePacer::CFramePacer(CMakeMovieThread* thread, HWND view, PictureSource source, LONG width, LONG height,
                         DWORD maxReqCount, IMovieClock* clock)
    : m_pThread(thread),
      m_hView(view),
      m_Source(std::move(source)),
      m_nWidth(width),
      m_nHeight(height),
      m_nMaxReqCount(ClampMaxReqCount(maxReqCount)),
      m_Timer(clock) {}

CFramePacer::~CFramePacer() { End(); }

bool CFramePacer::Begin(DWORD frameRate) {
  m_nBacklogLimit = FrameBacklogLimit(frameRate, m_nMaxReqCount);
  m_nOutstanding.fetch_add(1);
  RequestMakeMovie();
  if (!m_Timer.Start(FramePeriodMs(frameRate), [this] { OnTick(); })) {
    TraceLogText(TRC_MOV, "CFotaviMovView::OnMovieRecReady", "It failed in timeSetEvent. The timer thread cannot be made.");
    return false;
  }
  return true;
}

void CFramePacer::End() { m_Timer.Kill(); }

void CFramePacer::OnTick() {
  if (m_bBehind.load()) return;
  if (m_nQueued.load() >= m_nBacklogLimit) {
    // Said now, not at the stop: the backlog would grow without bound, and
    // the stop would wait for all of it.
    m_bBehind = true;
    TraceLog(TRC_MOV, "CFotaviMovView::MakeMovieTimerProc",
             "The recording cannot keep up with the frame rate. %ld frames wait.", long(m_nQueued.load()));
    Fail(IDS_MOV_SAVE_ERROR);
    return;
  }
  if (m_nOutstanding.load() < m_nMaxReqCount) {
    m_nOutstanding.fetch_add(1);
    RequestMakeMovie();
  } else {
    RequestMakeMovieEmpty();
  }
}

void CFramePacer::Fail(UINT textId) {
  {
    std::lock_guard<std::mutex> g(m_ErrorLock);
    if (m_strError.empty()) m_strError = MovString(textId);
  }
  PostMessage(m_hView, WM_MAKEMOVIE_ERROR, 0, 0);
}

std::string CFramePacer::GetErrorMessage() const {
  std::lock_guard<std::mutex> g(m_ErrorLock);
  return m_strError;
}

std::unique_ptr<RECINFO> CFramePacer::NewRecord(const char* function) {
  try {
    auto record = std::make_unique<RECINFO>();
    record->pFrameClock = this;
    record->hViewWnd = m_hView;
    return record;
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_MOV, function, "RECINFO");
    Fail(IDS_MOV_NO_RESOURCES);
    return nullptr;
  }
}

void CFramePacer::RequestMakeMovie() {
  constexpr const char* kName = "CFotaviMovView::RequestMakeMovie";
  std::unique_ptr<RECINFO> record = NewRecord(kName);
  if (!record) {
    m_nOutstanding.fetch_sub(1);
    return;
  }
  if (m_Source) record->hBitmap = m_Source(m_nWidth, m_nHeight);
  if (record->hBitmap.isNull()) {
    TraceLogText(TRC_MOV, kName, "HBITMAP is NULL.");
    m_nOutstanding.fetch_sub(1);
    Fail(IDS_MOV_INTERNAL_ERROR);
    return;
  }
  record->width = m_nWidth;
  record->height = m_nHeight;
  // A record the thread will never take gives its unit back at once.
  if (Post(std::move(record))) {
    ++m_nSent;
  } else {
    m_nOutstanding.fetch_sub(1);
  }
}

bool CFramePacer::Post(std::unique_ptr<RECINFO> record) {
  m_nQueued.fetch_add(1);
  if (m_pThread->PostFrame(std::move(record))) return true;
  m_nQueued.fetch_sub(1);
  return false;
}

void CFramePacer::RequestMakeMovieEmpty() {
  std::unique_ptr<RECINFO> record = NewRecord("CFotaviMovView::RequestMakeMovieEmpty");
  if (!record) return;
  record->bEmpty = TRUE;
  ++m_nEmpty;
  if (Post(std::move(record))) ++m_nSent;
}

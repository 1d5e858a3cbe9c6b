#include "MoviePlay.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "Common/TraceLog.h"
#include "MovieDefs.h"
#include "Platform/Messages.h"

namespace {
using Clock = std::chrono::steady_clock;
// Longest wait of the presenter between looks at its commands.
constexpr auto kIdleSlice = std::chrono::milliseconds(100);

int64_t Units(Clock::duration d) { return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count() / 100; }

// The next picture of the source. A picture that cannot be held (no memory
// for a huge picture) or any other exception of the source is a decode
// error, so that nothing is thrown out of the presenter thread.
int ReadPicture(IMovieSource* source, std::shared_ptr<CVideoFrame>* frame) {
  constexpr const char* kName = "CMoviePlay::Present";
  try {
    *frame = std::make_shared<CVideoFrame>();
    return source->ReadFrame(frame->get());
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_MOV, kName, "CVideoFrame");
  } catch (...) {
    TraceLogText(TRC_MOV, kName, "catch ...");
  }
  frame->reset();
  return SOURCE_ERROR;
}
}  // namespace

int SliderXForPercent(int clientWidth, int percent) { return (clientWidth - 20) * percent / 100 + 5; }

int SliderPercentForX(int clientWidth, int thumbLeft) {
  // A bar narrower than its margins has no track to divide.
  if (clientWidth - 20 <= 0) return 0;
  return (thumbLeft - 5) * 100 / (clientWidth - 20);
}

int SliderClampX(int clientWidth, int x) {
  x = std::min(x, clientWidth - 15);
  return x < 5 ? 5 : x;
}

void CentreVideo(int clientWidth, int clientHeight, int width, int height, int* x, int* y) {
  *x = width < clientWidth ? (clientWidth - width) / 2 : 0;
  *y = height < clientHeight ? (clientHeight - height) / 2 : 0;
}

CMoviePlay::CMoviePlay(std::unique_ptr<IMovieSource> source) : m_pSource(std::move(source)) {}

CMoviePlay::~CMoviePlay() { Uninitialize(); }

MOVIERESULT CMoviePlay::Initialize(HWND owner, HWND positionWnd, IMoviePlayerHost* host, const std::string& path) {
  constexpr const char* kName = "CMoviePlay::Initialize";
  if (m_bOpen) Uninitialize();
  m_hOwner = owner;
  m_hPosition = positionWnd;
  m_pHost = host;
  if (!m_pSource) m_pSource = CreateFileMovieSource();
  const MOVIERESULT hr = m_pSource->Open(path, &m_Info);
  if (hr < 0) {
    TraceLog(TRC_MOV, kName, "It failed in RenderFile HRESULT=0x%08X", static_cast<unsigned>(hr));
    ReleaseAll();
    return hr;
  }
  m_bNoVideo = !m_Info.hasVideo;
  if (m_bNoVideo) {
    TraceLogText(TRC_MOV, kName,
                 "The specified file doesn't have the video interface or has the possibility of the file that "
                 "uses an unknown codec.");
  }
  m_nShownWidth = m_Info.width;
  m_nShownHeight = m_Info.height;
  m_bOpen = true;
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_bQuit = false;
    m_Graph = Graph::Stopped;
    m_Events.clear();
  }
  try {
    m_Presenter = std::thread([this] { Present(); });
  } catch (...) {
    ReleaseAll();
    return MOVIE_E_OUTOFMEMORY;
  }
  if (!m_bNoVideo) SetVideoWindowSize(m_Info.width, m_Info.height);
  SetPosition(0);
  SetGraph(Graph::Paused);  // the first picture shows
  RePaint();
  if (m_hPosition) {
    SendMessage(m_hPosition, WM_SLIDER_ENABLE, 0, 0);
    int64_t zero = 0;
    SendMessage(m_hPosition, WM_SLIDER_SETPOS, reinterpret_cast<WPARAM>(&zero), 0);
  }
  return MOVIE_S_OK;
}

MOVIERESULT CMoviePlay::Play() {
  if (!m_bOpen) return MOVIE_E_FAIL;
  SetGraph(Graph::Running);
  if (m_nState == Stopped) RePaint();
  if (!m_bTimer && m_pHost) {
    m_pHost->SetPositionTimer(true);
    m_bTimer = true;
  }
  m_nState = Running;
  return MOVIE_S_OK;
}

MOVIERESULT CMoviePlay::Pause() {
  if (m_nState == Paused) return Play();
  if (m_nState == Running) {
    SetGraph(Graph::Paused);
    m_nState = Paused;
    if (m_bTimer && m_pHost) m_pHost->SetPositionTimer(false);
    m_bTimer = false;
  }
  return MOVIE_S_OK;
}

MOVIERESULT CMoviePlay::Stop() {
  if (m_nState == Stopped) return MOVIE_STOPPED_ALREADY;
  if (m_bTimer && m_pHost) m_pHost->SetPositionTimer(false);
  m_bTimer = false;
  SetGraph(Graph::Stopped);
  SetPosition(0);
  SetGraph(Graph::Paused);  // the first picture shows again
  UpdatePosition();
  m_nState = Stopped;
  return MOVIE_S_OK;
}

void CMoviePlay::Seek(int percent, UINT mouseMessage) {
  if (!m_bOpen) return;
  percent = std::clamp(percent, 0, 100);
  if (m_bIdle) {
    if (m_bTimer && m_pHost) m_pHost->SetPositionTimer(false);
    m_bTimer = false;
    m_bIdle = false;
    SetGraph(Graph::Paused);
  }
  SetPosition(m_Info.duration / 100 * percent);
  if (mouseMessage == WM_LBUTTONUP) {
    if (m_nState == Stopped) {
      SetGraph(Graph::Stopped);
    } else if (m_nState == Running) {
      Play();
    }
    m_bIdle = true;
  }
}

int64_t CMoviePlay::GetCurrentPosition() {
  std::lock_guard<std::mutex> g(m_Lock);
  if (m_Graph != Graph::Running) return m_nPosition;
  return std::clamp<int64_t>(m_nRunBase + Units(Clock::now() - m_RunStart), 0, std::max<int64_t>(m_Info.duration, 0));
}

void CMoviePlay::UpdatePosition() {
  if (!m_hPosition || m_Info.duration == 0) return;
  int64_t percent = GetCurrentPosition() * 100 / m_Info.duration;
  SendMessage(m_hPosition, WM_SLIDER_SETPOS, reinterpret_cast<WPARAM>(&percent), 0);
}

void CMoviePlay::HandleGraphEvent() {
  for (;;) {
    long code;
    {
      std::lock_guard<std::mutex> g(m_Lock);
      if (m_Events.empty()) return;
      code = m_Events.front();
      m_Events.pop_front();
    }
    if (code == EC_COMPLETE) {
      PostMessage(m_hOwner, WM_MOVIE_COMPLETE, 0, 0);
      Stop();
    } else if (code == EC_USERABORT || code == EC_ERRORABORT) {
      PostMessage(m_hOwner, WM_MOVIE_ABORT, 0, 0);
      Uninitialize();
      return;
    }
  }
}

void CMoviePlay::SetVideoWindowSize(int width, int height) {
  if (!m_bOpen || m_bNoVideo || !m_pHost) return;
  m_nShownWidth = width;
  m_nShownHeight = height;
  RePaint();
  UpdatePosition();
}

void CMoviePlay::RePaint() {
  if (!m_bOpen || m_bNoVideo || !m_pHost) return;
  int cw = 0, ch = 0, x = 0, y = 0;
  m_pHost->GetClientSize(&cw, &ch);
  CentreVideo(cw, ch, m_nShownWidth, m_nShownHeight, &x, &y);
  m_pHost->PlaceVideo(x, y, m_nShownWidth, m_nShownHeight, true);
}

void CMoviePlay::Uninitialize() {
  if (m_pHost && m_bOpen) m_pHost->PlaceVideo(0, 0, 0, 0, false);
  if (m_bTimer && m_pHost) m_pHost->SetPositionTimer(false);
  m_bTimer = false;
  ReleaseAll();
  m_nState = Stopped;
  m_hOwner = nullptr;
}

void CMoviePlay::ReleaseAll() {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_bQuit = true;
  }
  m_Wake.notify_all();
  // The presenter's waits are bounded and it takes no lock of ours while it
  // decodes, so this join ends.
  if (m_Presenter.joinable()) m_Presenter.join();
  m_pSource.reset();
  m_bOpen = false;
  m_bIdle = true;
  std::lock_guard<std::mutex> g(m_Lock);
  m_pPending.reset();
  m_Events.clear();
  m_Graph = Graph::Stopped;
}

void CMoviePlay::SetGraph(Graph graph) {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    if (m_Graph == Graph::Running && graph != Graph::Running) {
      m_nPosition = std::clamp<int64_t>(m_nRunBase + Units(Clock::now() - m_RunStart), 0,
                                        std::max<int64_t>(m_Info.duration, 0));
    }
    if (graph == Graph::Running && m_Graph != Graph::Running) {
      m_nRunBase = m_nPosition;
      m_RunStart = Clock::now();
    }
    m_Graph = graph;
  }
  m_Wake.notify_all();
}

void CMoviePlay::SetPosition(int64_t position) {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_nPosition = position;
    m_nRunBase = position;
    m_RunStart = Clock::now();
    m_bReposition = true;
    m_bCompleteSent = false;
    m_pPending.reset();
  }
  m_Wake.notify_all();
}

void CMoviePlay::PushEvent(long code, std::unique_lock<std::mutex>& lock) {
  m_Events.push_back(code);
  // The owner is told without our lock held.
  const HWND owner = m_hOwner;
  lock.unlock();
  PostMessage(owner, WM_GRAPHNOTIFY, 0, 0);
  lock.lock();
}

// Seeks the source and shows the picture that is on screen at `position`:
// the last one that starts at or before it (the first one when the movie
// starts later). The picture after it stays pending for a run.
bool CMoviePlay::ShowAt(int64_t position, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  m_pSource->Seek(position);
  std::shared_ptr<CVideoFrame> shown, next;
  int result = SOURCE_FRAME;
  for (;;) {
    std::shared_ptr<CVideoFrame> frame;
    result = ReadPicture(m_pSource.get(), &frame);
    if (result != SOURCE_FRAME) break;
    if (frame->pts > position && shown) {
      next = std::move(frame);
      break;
    }
    shown = std::move(frame);
    if (shown->pts >= position) break;
  }
  if (shown && m_pHost) m_pHost->ShowFrame(shown);
  lock.lock();
  if (shown) m_nLastShown = shown->pts;
  if (!m_bReposition) m_pPending = std::move(next);
  return result != SOURCE_ERROR;
}

void CMoviePlay::Present() {
  std::unique_lock<std::mutex> lock(m_Lock);
  bool ended = false;
  while (!m_bQuit) {
    if (m_bReposition) {
      m_bReposition = false;
      ended = false;
      if (!ShowAt(m_nPosition, lock)) {
        m_Graph = Graph::Stopped;
        PushEvent(EC_ERRORABORT, lock);
      }
      continue;
    }
    if (m_Graph != Graph::Running) {
      m_Wake.wait_for(lock, kIdleSlice);
      continue;
    }
    if (!m_pPending && !ended) {
      std::shared_ptr<CVideoFrame> frame;
      lock.unlock();
      const int result = ReadPicture(m_pSource.get(), &frame);
      lock.lock();
      // A new position came meanwhile: the picture read is not wanted. A
      // pause keeps it for the run that follows.
      if (m_bReposition) continue;
      if (result == SOURCE_FRAME) {
        m_pPending = std::move(frame);
      } else if (result == SOURCE_END) {
        ended = true;
      } else {
        m_Graph = Graph::Stopped;
        PushEvent(EC_ERRORABORT, lock);
      }
      continue;
    }
    const int64_t due = m_pPending ? m_pPending->pts : std::max<int64_t>(m_Info.duration, 0);
    const auto at = m_RunStart + std::chrono::nanoseconds((due - m_nRunBase) * 100);
    if (Clock::now() < at) {
      m_Wake.wait_until(lock, std::min(at, Clock::now() + kIdleSlice));
      continue;
    }
    if (m_pPending) {
      auto frame = std::move(m_pPending);
      lock.unlock();
      if (m_pHost) m_pHost->ShowFrame(frame);
      lock.lock();
      m_nLastShown = frame->pts;
    } else if (!m_bCompleteSent) {
      // The end of the movie: reported once until the position changes.
      m_bCompleteSent = true;
      PushEvent(EC_COMPLETE, lock);
    } else {
      m_Wake.wait_for(lock, kIdleSlice);
    }
  }
}

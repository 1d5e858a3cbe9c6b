#include "MakeMovieThread.h"

#include <algorithm>
#include <iterator>
#include <vector>
#include <cstdlib>
#include <new>

#include "AviFileOperation.h"
#include "Common/LateThreads.h"
#include "Common/TraceLog.h"
#include "MovStrings.h"
#include "WmvFileOperation.h"

namespace {
constexpr DWORD kWaitSliceMs = 20;
}  // namespace

CMovieWriterFactory CMovieWriterFactory::Default() {
  CMovieWriterFactory f;
  f.makeAvi = [] { return std::unique_ptr<IAviWriter>(new CAviFileOperation); };
  f.makeWmv = [] { return std::unique_ptr<IWmvWriter>(new CWmvFileOperation); };
  return f;
}

void ApplyMakeMovieParam(CMakeMovieThread* thread, const MAKEMOVIEPARAM& param, HWND view) {
  thread->SetFileName(param.outputPath);
  thread->SetFrameRate(param.frameRate);
  thread->SetMaxFileSize(param.maxFileSize);
  thread->SetRecCondition(param.recCondition);
  thread->SetRecLimit(static_cast<DWORD>(param.recLimit), static_cast<DWORD>(param.recLimit >> 32));
  if (param.fileType == MOVIE_FILETYPE_WMV) {
    thread->SetFileType(MOVIE_FILETYPE_WMV);
    thread->SetProfileName(param.profilePath);
    thread->SetVideoQuality(param.videoQuality);
  } else {
    thread->SetFileType(MOVIE_FILETYPE_AVI);
  }
  thread->SetNotifyWnd(view);
}

namespace {
// A recording whose thread has not ended yet: the thread, the frame clock
// its queued records point to, and what is to be done once it has let go of
// its files. Freed by the late threads' owner once the thread has ended:
// the thread first, then the clock, then the files.
class CLateRecording : public ILateThread {
 public:
  CLateRecording(std::unique_ptr<CMakeMovieThread> thread, std::unique_ptr<IMovieRequestCounter> frameClock,
                 std::function<void()> afterEnd)
      : m_pThread(std::move(thread)), m_pFrameClock(std::move(frameClock)), m_AfterEnd(std::move(afterEnd)) {}
  ~CLateRecording() override {
    m_pThread.reset();
    m_pFrameClock.reset();
    if (m_AfterEnd) m_AfterEnd();
  }
  bool HasEnded() const override { return m_pThread->HasEnded(); }
  void Abandon() override {
    TraceLogText(TRC_MOV, "FreeRecording", "The recording thread has not ended by the program's exit.");
    // The process's end lets go of the files; their names go now.
    if (m_AfterEnd) m_AfterEnd();
    m_AfterEnd = nullptr;
  }

 private:
  std::unique_ptr<CMakeMovieThread> m_pThread;
  std::unique_ptr<IMovieRequestCounter> m_pFrameClock;
  std::function<void()> m_AfterEnd;
};
}  // namespace

size_t FreeEndedRecordings() { return FreeEndedLateThreads(); }

void FreeRecording(std::unique_ptr<CMakeMovieThread> thread, std::unique_ptr<IMovieRequestCounter> frameClock,
                   std::function<void()> afterEnd) {
  if (thread && !thread->HasEnded()) {
    TraceLogText(TRC_MOV, "FreeRecording", "The recording thread has not ended; it is freed once it has.");
    KeepLateThread(std::make_unique<CLateRecording>(std::move(thread), std::move(frameClock), std::move(afterEnd)));
    return;
  }
  thread.reset();
  frameClock.reset();
  if (afterEnd) afterEnd();
}

CMakeMovieThread::CMakeMovieThread(CMovieWriterFactory factory) : m_Factory(std::move(factory)) {}

CMakeMovieThread::~CMakeMovieThread() {
  // Never started: nothing took the records posted to it.
  if (!m_pThread) CloseQueue();
  if (!HasEnded()) {
    // Its owner did not end it (the program's owner always does, and keeps
    // a thread that is late until it has ended).
    PostStop();
    if (!WaitForEnd("CMakeMovieThread::~CMakeMovieThread")) {
      // Freeing the object under a running thread would corrupt memory.
      std::abort();
    }
  }
}

void CMakeMovieThread::SetFrameRate(DWORD rate) { m_dwFrameRate = std::clamp<DWORD>(rate, 1, 1000); }

void CMakeMovieThread::SetMaxFileSize(uint64_t bytes) {
  m_nMaxFileSize = bytes < MIN_SPLIT_SIZE ? AVI_DEFAULT_SPLIT_SIZE : bytes;
}

std::string CMakeMovieThread::GetErrorMessage() const {
  std::lock_guard<std::mutex> g(m_ErrorLock);
  return m_strError;
}

void CMakeMovieThread::SetError(const std::string& text) {
  std::lock_guard<std::mutex> g(m_ErrorLock);
  m_strError = text;
}

bool CMakeMovieThread::Start() {
  if (m_pThread || m_bStartFailed) return false;
  bool started = false;
  try {
    m_pThread = std::make_unique<CPlatformThread>([this] { Run(); }, true, "MakeMovie");
    started = m_pThread->Resume();
  } catch (...) {
    // No thread (std::system_error from a thread that cannot be made).
  }
  if (started) return true;
  TraceLogText(TRC_MOV, "CMakeMovieThread::Start", "The recording thread cannot be made.");
  m_pThread.reset();
  // Nothing will take the queued messages.
  CloseQueue();
  m_bStartFailed = true;
  return false;
}

bool CMakeMovieThread::Post(Message message, bool front) {
  {
    std::lock_guard<std::mutex> g(m_QueueLock);
    if (m_bClosed) return false;  // `message` (and its record) is freed here
    if (front) {
      m_Queue.push_front(std::move(message));
    } else {
      m_Queue.push_back(std::move(message));
    }
  }
  m_QueueWake.notify_one();
  return true;
}

bool CMakeMovieThread::PostFrame(std::unique_ptr<RECINFO> record) {
  if (!record) return false;
  return Post(Message{WM_MAKEMOVIE_FRAME, std::move(record), nullptr}, false);
}

bool CMakeMovieThread::PostStop() {
  m_bStopRequested = true;  // ends a wait for the first picture
  return Post(Message{WM_MAKEMOVIE_STOP, nullptr, nullptr}, false);
}

void CMakeMovieThread::SetErrorIfNone(const std::string& text) {
  std::lock_guard<std::mutex> g(m_ErrorLock);
  if (m_strError.empty()) m_strError = text;
}

void CMakeMovieThread::CutQueue(const char* function) {
  size_t waiting = 0;
  {
    // Decided under the queue's lock, which the thread takes to reach its
    // stop: a thread that has taken the stop already (it is completing the
    // file, or has ended) has nothing left to cut, and its complete
    // recording must not end on the save failure text.
    std::lock_guard<std::mutex> g(m_QueueLock);
    bool stopWaiting = false;
    for (const auto& m : m_Queue) {
      waiting += m.message == WM_MAKEMOVIE_FRAME;
      stopWaiting = stopWaiting || m.message == WM_MAKEMOVIE_STOP;
    }
    if (!stopWaiting) return;
    // The text before the cut: the stop put in front is the thread's next
    // message, and it ends the recording on the text.
    SetErrorIfNone(MovString(IDS_MOV_SAVE_ERROR));
    m_bCut = true;
    m_Queue.push_front(Message{WM_MAKEMOVIE_STOP, nullptr, nullptr});
  }
  m_QueueWake.notify_one();
  TraceLog(TRC_MOV, function, "The recording thread did not write its frames in time. %u frames were dropped.",
           static_cast<unsigned>(waiting));
}

bool CMakeMovieThread::WaitForEnd(const char* function) {
  if (Join(m_Limits.drainMs)) return true;
  CutQueue(function);
  if (Join(m_Limits.cutMs)) return true;
  TraceLogText(TRC_MOV, function, "The recording thread did not end in time.");
  // Given up before its file is complete: never a recording that looks finished.
  SetErrorIfNone(MovString(IDS_MOV_SAVE_ERROR));
  return false;
}

bool CMakeMovieThread::PostWait(std::shared_ptr<CEvent> event) {
  return Post(Message{WM_MAKEMOVIE_WAIT, nullptr, std::move(event)}, false);
}

bool CMakeMovieThread::Join(DWORD timeoutMs) {
  if (!m_pThread) return true;
  return m_pThread->Join(timeoutMs);
}

void CMakeMovieThread::Notify(UINT message) {
  HWND view = m_hViewWnd.load();
  if (view) PostMessage(view, message, 0, 0);
}

void CMakeMovieThread::Run() {
  SetError("");
  m_bRunning = true;
  while (!m_bQuit) {
    Message message;
    {
      std::unique_lock<std::mutex> lock(m_QueueLock);
      m_QueueWake.wait(lock, [&] { return !m_Queue.empty(); });
      message = std::move(m_Queue.front());
      m_Queue.pop_front();
    }
    switch (message.message) {
      case WM_MAKEMOVIE_FRAME:
        if (m_bCut.load()) {
          DropRecord(std::move(message.record));
        } else {
          OnFrame(std::move(message.record));
        }
        break;
      case WM_MAKEMOVIE_WAIT:
        OnWait(message.event);
        break;
      case WM_MAKEMOVIE_STOP:
        EndMakeMovie();
        break;
    }
  }
  CloseQueue();
  m_bRunning = false;
  m_bInitialized = false;
  m_hHeld = CBitmap24();
  // Nothing after this: the thread has ended once this function returns,
  // and its owner may free the object from then on.
}

void CMakeMovieThread::CloseQueue() {
  // Posts fail from now on; records still queued are freed, each real one
  // giving its unit of the request counter back.
  std::deque<Message> rest;
  {
    std::lock_guard<std::mutex> g(m_QueueLock);
    m_bClosed = true;
    rest.swap(m_Queue);
  }
  for (auto& m : rest) {
    if (m.record) DropRecord(std::move(m.record));
  }
}

void CMakeMovieThread::DropRecord(std::unique_ptr<RECINFO> record) {
  if (record->pFrameClock) record->pFrameClock->RecordTaken();
  if (!record->bEmpty && m_bCountRequests && record->pFrameClock) record->pFrameClock->DecrementRequests();
}

void CMakeMovieThread::OnWait(const std::shared_ptr<CEvent>& event) {
  if (event) {
    // The first live picture may never come: a stop ends the wait.
    while (!m_bStopRequested.load() && event->Wait(kWaitSliceMs) != WAIT_OBJECT_0) {
    }
  }
  if (!m_bStopRequested.load()) Notify(WM_MOVIE_REC_READY);
}

void CMakeMovieThread::OnFrame(std::unique_ptr<RECINFO> record) {
  m_pFrameClock = record->pFrameClock;
  if (m_pFrameClock) m_pFrameClock->RecordTaken();
  if (record->hViewWnd && m_bRunning) m_hViewWnd.store(record->hViewWnd);
  if (!record->bEmpty) {
    if (m_bCountRequests && m_pFrameClock) m_pFrameClock->DecrementRequests();
    m_hHeld = std::move(record->hBitmap);
  }
  if (!m_bRunning || !m_bAccepting.load() || !GetErrorMessage().empty()) {
    m_hHeld = CBitmap24();
    return;  // dropped: the recording has ended or takes no more frames
  }
  int result;
  // An exception out of a writer (no memory deep inside it) ends the
  // recording like any other failure; it never leaves the thread.
  try {
    std::lock_guard<CCriticalSection> g(m_Section);
    result = MovieAdd(m_hHeld);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_MOV, "CMakeMovieThread::MovieAdd", "MovieAdd");
    SetError(MovString(IDS_MOV_NO_RESOURCES));
    result = MOVIEADD_ERROR;
  } catch (...) {
    TraceLogText(TRC_MOV, "CMakeMovieThread::MovieAdd", "catch ...");
    SetError(MovString(IDS_MOV_INTERNAL_ERROR));
    result = MOVIEADD_ERROR;
  }
  if (record->bEmpty && result == MOVIEADD_WRITTEN) ++m_nRepeated;
  record.reset();
  if (result == MOVIEADD_WRITTEN) {
    Notify(WM_MAKEMOVIE_FRAMEDONE);
  } else if (result == MOVIEADD_ERROR) {
    Notify(WM_MAKEMOVIE_ERROR);
    m_hViewWnd.store(nullptr);
    EndMakeMovie();
  } else {
    EndMakeMovie();
  }
}

int CMakeMovieThread::MovieAdd(const CBitmap24& bitmap) {
  if (!GetErrorMessage().empty()) return MOVIEADD_ERROR;
  if (bitmap.isNull()) {
    SetError(MovString(IDS_MOV_INTERNAL_ERROR));
    TraceLogText(TRC_MOV, "CMakeMovieThread::MovieAdd", "HBITMAP is NULL.");
    return MOVIEADD_ERROR;
  }
  const int ready = m_nFileType == MOVIE_FILETYPE_WMV ? WMVInitialize() : AVIInitialize();
  if (ready != 1) return MOVIEADD_ERROR;
  if (m_nFileType == MOVIE_FILETYPE_AVI) {
    const int r = m_pAvi->AddFrame(bitmap);
    if (r == AVI_ADD_LIMIT) return MOVIEADD_LIMIT;
    if (r != AVI_ADD_WRITTEN) {
      SetError(m_pAvi->GetErrorMessage());
      TraceLogText(TRC_MOV, "CMakeMovieThread::MovieAdd", m_pAvi->GetErrorMessage());
      return MOVIEADD_ERROR;
    }
  } else if (m_pWmv->AddFrame(bitmap) != 1) {
    SetError(m_pWmv->GetErrorMessage());
    return MOVIEADD_ERROR;
  }
  ++m_nFramesWritten;
  return MOVIEADD_WRITTEN;
}

namespace {
// Makes a writer; an allocation failure or any other exception leaves the
// error text set and null.
template <class Writer>
std::unique_ptr<Writer> MakeWriter(const std::function<std::unique_ptr<Writer>()>& make, const char* function,
                                   const char* className, std::string* error) {
  std::unique_ptr<Writer> writer;
  try {
    writer = make ? make() : nullptr;
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_MOV, function, className);
    *error = MovString(IDS_MOV_NO_RESOURCES);
    return nullptr;
  } catch (...) {
    TraceLogText(TRC_MOV, function, "catch ...");
    *error = MovString(IDS_MOV_INTERNAL_ERROR);
    return nullptr;
  }
  if (!writer) *error = MovString(IDS_MOV_INTERNAL_ERROR);
  return writer;
}
}  // namespace

int CMakeMovieThread::AVIInitialize() {
  if (m_bInitialized) return 1;
  constexpr const char* kName = "CMakeMovieThread::AVIInitialize";
  std::string error;
  m_pAvi = MakeWriter(m_Factory.makeAvi, kName, "CAviFileOperation", &error);
  if (!m_pAvi) {
    SetError(error);
    return 0;
  }
  if (m_pAvi->Initialize(m_strPath, m_dwFrameRate) < 0) {
    SetError(m_pAvi->GetErrorMessage());
    TraceLogText(TRC_MOV, kName, m_pAvi->GetErrorMessage());
    return 0;
  }
  m_pAvi->SetMaxFileSize(m_nMaxFileSize);
  if (m_nRecCondition == RECCOND_TIME || m_nRecCondition == RECCOND_CAPACITY) {
    m_pAvi->SetRecCondition(m_nRecCondition, m_nRecLimit);
  } else {
    m_pAvi->SetRecCondition(RECCOND_NONE, 0);
  }
  m_bInitialized = true;
  return 1;
}

int CMakeMovieThread::WMVInitialize() {
  if (m_bInitialized) return 1;
  constexpr const char* kName = "CMakeMovieThread::WMVInitialize";
  std::string error;
  m_pWmv = MakeWriter(m_Factory.makeWmv, kName, "CWmvFileOperation", &error);
  if (!m_pWmv) {
    SetError(error);
    return 0;
  }
  if (m_pWmv->Initialize(m_dwFrameRate, m_dwQuality, m_strPath, m_strProfile) != 1) {
    SetError(m_pWmv->GetErrorMessage());
    TraceLogText(TRC_MOV, kName, m_pWmv->GetErrorMessage());
    return 0;
  }
  m_bInitialized = true;
  return 1;
}

void CMakeMovieThread::EndMakeMovie() {
  m_bRunning = false;
  // Complete the file before the answer, so that a file that could not be
  // completed is reported as the error it is, never as a finished recording.
  bool completed = true;
  if (m_bInitialized && m_pAvi && !m_pAvi->Close()) {
    SetError(m_pAvi->GetErrorMessage());
    completed = false;
  }
  if (m_bInitialized && m_pWmv && !m_pWmv->EndWriting()) {
    if (GetErrorMessage().empty()) SetError(m_pWmv->GetErrorMessage());
    completed = false;
  }
  // A recording cut short ends on its error too.
  if ((!completed || !GetErrorMessage().empty()) && m_hViewWnd.load()) {
    Notify(WM_MAKEMOVIE_ERROR);
  } else {
    Notify(WM_MOVIE_REC_END);
  }
  m_bQuit = true;
  m_pAvi.reset();
  m_pWmv.reset();
  m_hViewWnd.store(nullptr);
  m_bInitialized = false;
}

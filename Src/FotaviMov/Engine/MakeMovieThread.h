// The recording thread: owns one movie writer for the length of one
// recording, writes every frame record it is handed, answers each, and ends
// at a limit, on an error or when told to stop.
//
// Its messages form a typed queue: records are owned (std::unique_ptr), so a
// record is either handled, or freed by a post that fails, or freed when the
// thread ends with records still queued; none can vanish. Posts made before
// Start are kept (the view posts the wait for the first picture before it
// starts the thread). A stop is an ordinary message: the frames posted before
// it are written first, in order. A thread that has not ended within the
// drain limit is cut: the frames still waiting are dropped and the recording
// ends with the save failure text, so a movie is never silently shorter than
// what was captured.
//
// Answers go to the view window with PostMessage: WM_MAKEMOVIE_FRAMEDONE per
// frame written, then either WM_MOVIE_REC_END or WM_MAKEMOVIE_ERROR (never
// both); WM_MOVIE_REC_READY once the first live picture is there.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "MovieWriters.h"
#include "Platform/Messages.h"
#include "Platform/Sync.h"

struct CMovieWriterFactory {
  std::function<std::unique_ptr<IAviWriter>()> makeAvi;
  std::function<std::unique_ptr<IWmvWriter>()> makeWmv;
  // The real writers.
  static CMovieWriterFactory Default();
};

// MovieAdd results.
constexpr int MOVIEADD_WRITTEN = 0;
constexpr int MOVIEADD_LIMIT = 1;
constexpr int MOVIEADD_ERROR = 2;

// How long an end waits for the recording thread, each limit kept here: the
// drain (the frames captured before the stop are written), then, once the
// frames still waiting are dropped, the frame being written.
struct RECSTOPLIMITS {
  DWORD drainMs = 60000;
  DWORD cutMs = 10000;
};

// Split sizes below this come from no settings dialog (it stores whole
// megabytes from 100 up); they mean the writer's default split.
constexpr uint64_t MIN_SPLIT_SIZE = 1048576;

// The recording parameters the main frame (or the frame-rate measurement)
// hands to the view, in this order.
struct MAKEMOVIEPARAM {
  std::string outputPath;
  DWORD frameRate = 10;
  DWORD maxFileSize = 0;  // split size, bytes
  int recCondition = RECCOND_NONE;
  uint64_t recLimit = 0;  // seconds (time) or bytes (capacity)
  DWORD width = 0;
  DWORD height = 0;
  int fileType = MOVIE_FILETYPE_AVI;
  std::string profilePath;
  DWORD videoQuality = 100;
};

class CMakeMovieThread;
// Gives a thread that has not started the parameters of one recording, as
// the view does before it starts the thread: file, rate, split, limit,
// writer kind (profile and quality for WMV only) and the view window.
void ApplyMakeMovieParam(CMakeMovieThread* thread, const MAKEMOVIEPARAM& param, HWND view);

// The end of a recording's life, after its frame clock has been killed and
// its thread told to stop: frees the thread, then the frame clock its
// records point to, then runs `afterEnd` (the removal of its files). A
// thread that has not ended yet (a writer stuck past every wait, or a stop
// not waited for) goes with its clock and `afterEnd` to the late threads'
// owner (Common/LateThreads.h), which frees them once it has ended, and at
// the program's exit.
void FreeRecording(std::unique_ptr<CMakeMovieThread> thread, std::unique_ptr<IMovieRequestCounter> frameClock,
                   std::function<void()> afterEnd = {});
// Frees the kept late threads that have ended; returns how many are still
// kept.
size_t FreeEndedRecordings();

class CMakeMovieThread {
 public:
  explicit CMakeMovieThread(CMovieWriterFactory factory = CMovieWriterFactory::Default());
  ~CMakeMovieThread();  // a thread its owner did not end is stopped and waited for (WaitForEnd)
  CMakeMovieThread(const CMakeMovieThread&) = delete;
  CMakeMovieThread& operator=(const CMakeMovieThread&) = delete;

  // Setters: before Start. Values that would break the arithmetic are
  // brought into range (rate 1 to 1000, quality at most 100, a writer kind
  // other than WMV means AVI, a split below MIN_SPLIT_SIZE the default).
  void SetFileName(const std::string& path) { m_strPath = path; }
  void SetFrameRate(DWORD rate);
  void SetMaxFileSize(uint64_t bytes);
  void SetRecCondition(int mode) { m_nRecCondition = mode; }
  void SetRecLimit(DWORD low, DWORD high) { m_nRecLimit = (static_cast<uint64_t>(high) << 32) | low; }
  void SetFileType(int kind) { m_nFileType = kind == MOVIE_FILETYPE_WMV ? MOVIE_FILETYPE_WMV : MOVIE_FILETYPE_AVI; }
  void SetProfileName(const std::string& path) { m_strProfile = path; }
  void SetVideoQuality(DWORD quality) { m_dwQuality = quality > 100 ? 100 : quality; }
  void SetNotifyWnd(HWND view) { m_hViewWnd.store(view); }
  void SetCountRequests(BOOL count) { m_bCountRequests = count != FALSE; }
  void SetStopLimits(RECSTOPLIMITS limits) { m_Limits = limits; }
  // Any thread.
  void SetAcceptFrames(BOOL accept) { m_bAccepting = accept != FALSE; }
  uint64_t GetFrameCount() const { return m_nFramesWritten.load(); }
  uint64_t GetRepeatedCount() const { return m_nRepeated.load(); }
  std::string GetErrorMessage() const;

  DWORD GetFrameRate() const { return m_dwFrameRate; }
  uint64_t GetMaxFileSize() const { return m_nMaxFileSize; }
  int GetFileType() const { return m_nFileType; }
  DWORD GetVideoQuality() const { return m_dwQuality; }

  // Starts the thread (the "resume"). FALSE when it cannot be made or runs.
  bool Start();
  // Posts. FALSE when the thread has ended (the record is freed).
  bool PostFrame(std::unique_ptr<RECINFO> record);
  // Ends the recording after the frames posted before it (a wait for the
  // first picture ends at once).
  bool PostStop();
  // Waits for `event` (the first live picture) before the next message,
  // then posts WM_MOVIE_REC_READY. A stop ends the wait.
  bool PostWait(std::shared_ptr<CEvent> event);
  // Waits at most `timeoutMs` for the thread to end. TRUE when it has ended.
  bool Join(DWORD timeoutMs);
  // The end of a stopped recording: waits the drain limit; a thread still
  // writing then is cut (CutQueue) and waited for the cut limit. TRUE when
  // the thread has ended; FALSE with the save failure text when it has not.
  // `function` names the caller in the trace log.
  bool WaitForEnd(const char* function);
  // The cut of WaitForEnd on its own, for an owner that watches the end
  // without waiting: drops the frames still waiting (their units go back)
  // and ends the recording after the frame being written, with the save
  // failure text; nothing when the thread has taken its stop already.
  void Cut(const char* function) { CutQueue(function); }
  const RECSTOPLIMITS& GetStopLimits() const { return m_Limits; }
  // The thread's function has returned (or no thread was ever started).
  bool HasEnded() const { return !m_pThread || m_pThread->HasEnded(); }

 private:
  struct Message {
    UINT message = 0;
    std::unique_ptr<RECINFO> record;
    std::shared_ptr<CEvent> event;
  };
  bool Post(Message message, bool front);
  void Run();
  void OnFrame(std::unique_ptr<RECINFO> record);
  void OnWait(const std::shared_ptr<CEvent>& event);
  void CloseQueue();
  // Drops the frames still waiting (their units go back), ends the
  // recording after the frame being written, with the save failure text;
  // nothing when the thread has taken its stop already.
  void CutQueue(const char* function);
  void DropRecord(std::unique_ptr<RECINFO> record);
  int MovieAdd(const CBitmap24& bitmap);
  int AVIInitialize();
  int WMVInitialize();
  void EndMakeMovie();
  void SetError(const std::string& text);
  void SetErrorIfNone(const std::string& text);
  void Notify(UINT message);

  CMovieWriterFactory m_Factory;
  std::string m_strPath;
  std::unique_ptr<IAviWriter> m_pAvi;
  std::unique_ptr<IWmvWriter> m_pWmv;
  DWORD m_dwFrameRate = 10;
  bool m_bInitialized = false;
  uint64_t m_nMaxFileSize = AVI_DEFAULT_SPLIT_SIZE;
  std::atomic<HWND> m_hViewWnd{nullptr};
  int m_nRecCondition = RECCOND_NONE;
  uint64_t m_nRecLimit = 0;
  mutable std::mutex m_ErrorLock;
  std::string m_strError;
  std::atomic<uint64_t> m_nFramesWritten{0};
  std::atomic<uint64_t> m_nRepeated{0};
  std::atomic<bool> m_bAccepting{true};
  CCriticalSection m_Section;  // around MovieAdd
  int m_nFileType = MOVIE_FILETYPE_AVI;
  std::string m_strProfile;
  DWORD m_dwQuality = 100;
  IMovieRequestCounter* m_pFrameClock = nullptr;
  bool m_bCountRequests = false;
  CBitmap24 m_hHeld;  // the last real frame
  bool m_bRunning = false;
  bool m_bQuit = false;

  std::mutex m_QueueLock;
  std::condition_variable m_QueueWake;
  std::deque<Message> m_Queue;
  bool m_bClosed = false;  // the thread has ended: posts fail
  std::atomic<bool> m_bStopRequested{false};
  std::atomic<bool> m_bCut{false};
  RECSTOPLIMITS m_Limits;
  std::unique_ptr<CPlatformThread> m_pThread;
  bool m_bStartFailed = false;
};

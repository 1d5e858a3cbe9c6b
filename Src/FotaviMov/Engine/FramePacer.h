// The frame clock of a recording as the view runs it: on every tick of the
// timer one frame record goes to the recording thread, a copy of the live
// picture while fewer than the request limit are outstanding, otherwise an
// empty record, so that the thread writes its last frame again and the movie
// keeps to the clock while memory stays bounded.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "MakeMovieThread.h"
#include "MovieTimer.h"

// The request limit as read from the settings, kept where it works: at least
// 1 (0 would send only empty records), at most MAX_REQ_COUNT (each request
// holds one picture copy).
constexpr LONG MAX_REQ_COUNT = 32;
LONG ClampMaxReqCount(DWORD value);
// The frame period of a rate: 1000 / rate ms in integers, the rate taken as
// 1 to 1000.
DWORD FramePeriodMs(DWORD rate);
// How many seconds of records may wait for the recording thread: a writer
// further behind than that cannot keep up with the frame rate.
constexpr DWORD FRAME_BACKLOG_SECONDS = 2;
// The records (real and empty) that may wait at one time: the seconds'
// worth at the rate, and never fewer than the real ones allowed.
LONG FrameBacklogLimit(DWORD rate, LONG maxReqCount);

class CFramePacer : public IMovieRequestCounter {
 public:
  // A copy of the current live picture at the record size; null when there
  // is no picture yet.
  using PictureSource = std::function<CBitmap24(LONG width, LONG height)>;

  CFramePacer(CMakeMovieThread* thread, HWND view, PictureSource source, LONG width, LONG height,
              DWORD maxReqCount, IMovieClock* clock = nullptr);
  ~CFramePacer() override;

  // WM_MOVIE_REC_READY: counts and sends the first frame, then starts the
  // clock with the frame period. FALSE when the timer cannot be made.
  bool Begin(DWORD frameRate);
  // Kills the clock (waits for a tick in progress). The thread is not touched.
  void End();
  // One tick (the timer's callback). A thread that has FrameBacklogLimit
  // records waiting cannot keep up: the recording ends at once with "Unable
  // to save file." (WM_MAKEMOVIE_ERROR), every frame captured before it
  // written, and no record more is sent.
  void OnTick();

  void DecrementRequests() override { m_nOutstanding.fetch_sub(1); }
  void RecordTaken() override { m_nQueued.fetch_sub(1); }
  // Records posted and not yet taken by the thread.
  LONG GetQueued() const { return m_nQueued.load(); }
  LONG GetBacklogLimit() const { return m_nBacklogLimit; }
  LONG GetOutstanding() const { return m_nOutstanding.load(); }
  void ResetOutstanding() { m_nOutstanding = 0; }
  LONG GetMaxReqCount() const { return m_nMaxReqCount; }
  CMovieTimer& Timer() { return m_Timer; }
  uint64_t GetEmptyRequests() const { return m_nEmpty.load(); }
  // Records handed to the thread (real and empty): the frames captured.
  uint64_t GetRecordsSent() const { return m_nSent.load(); }
  // The text of a failure of the clock's own (no picture, no memory) that
  // it reported with WM_MAKEMOVIE_ERROR; empty when none. The view shows it
  // when the recording thread has no text of its own, so such a failure
  // never ends a recording silently.
  std::string GetErrorMessage() const;

 private:
  std::unique_ptr<RECINFO> NewRecord(const char* function);
  void RequestMakeMovie();
  void RequestMakeMovieEmpty();
  void Fail(UINT textId);
  bool Post(std::unique_ptr<RECINFO> record);

  CMakeMovieThread* m_pThread;
  HWND m_hView;
  PictureSource m_Source;
  LONG m_nWidth;
  LONG m_nHeight;
  LONG m_nMaxReqCount;
  std::atomic<LONG> m_nOutstanding{0};
  std::atomic<LONG> m_nQueued{0};
  LONG m_nBacklogLimit = MAX_REQ_COUNT + 1;
  std::atomic<bool> m_bBehind{false};
  std::atomic<uint64_t> m_nEmpty{0};
  std::atomic<uint64_t> m_nSent{0};
  mutable std::mutex m_ErrorLock;
  std::string m_strError;
  CMovieTimer m_Timer;
};

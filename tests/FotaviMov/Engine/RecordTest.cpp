// The recording thread, its frame clock and the timer, with a fake clock and
// writers of the tests' own; then once through the real AVI writer.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#include <filesystem>
#include <fstream>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "Common/LateThreads.h"
#include "FramePacer.h"
#include "MakeMovieThread.h"
#include "MovieTimer.h"
#include "MovTestSupport.h"
#include "Platform/Messages.h"

using namespace movtest;

namespace {

// What the fake writers saw, shared with the test.
struct WriterLog {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<int> frames;  // the number each written frame carries
  int created = 0;
  uint64_t split = 0;
  int closed = 0;
  bool gateOpen = true;     // AddFrame blocks while the gate is shut
  int failAt = -1;          // AddFrame number that fails
  int throwAt = -1;         // AddFrame number that runs out of memory (throws)
  int delayMs = 0;
  int closeDelayMs = 0;     // Close takes this long (a slow disk completing the file)
  std::atomic<int> entered{0};  // AddFrame calls begun

  void Open(bool open) {
    std::lock_guard<std::mutex> g(lock);
    gateOpen = open;
    changed.notify_all();
  }
  size_t Count() {
    std::lock_guard<std::mutex> g(lock);
    return frames.size();
  }
};

class CFakeAvi : public IAviWriter {
 public:
  explicit CFakeAvi(WriterLog* log) : log_(log) {
    std::lock_guard<std::mutex> g(log_->lock);
    ++log_->created;
  }
  void SetMaxFileSize(uint64_t bytes) override { log_->split = bytes; }
  void SetRecCondition(int, uint64_t) override {}
  long Initialize(const std::string&, DWORD) override { return 0; }
  int AddFrame(const CBitmap24& bitmap) override {
    ++log_->entered;
    if (log_->delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(log_->delayMs));
    std::unique_lock<std::mutex> g(log_->lock);
    log_->changed.wait(g, [&] { return log_->gateOpen; });
    if (static_cast<int>(log_->frames.size()) == log_->throwAt) throw std::bad_alloc();
    if (static_cast<int>(log_->frames.size()) == log_->failAt) {
      error_ = "Unable to save file.";
      return AVI_ADD_ERROR;
    }
    log_->frames.push_back(bitmap.constScanLine(0)[0]);
    log_->changed.notify_all();
    return AVI_ADD_WRITTEN;
  }
  BOOL Close() override {
    if (log_->closeDelayMs) std::this_thread::sleep_for(std::chrono::milliseconds(log_->closeDelayMs));
    std::lock_guard<std::mutex> g(log_->lock);
    ++log_->closed;
    return TRUE;
  }
  std::string GetErrorMessage() const override { return error_; }

 private:
  WriterLog* log_;
  std::string error_;
};

CMovieWriterFactory FakeFactory(WriterLog* log) {
  CMovieWriterFactory f;
  f.makeAvi = [log] { return std::unique_ptr<IAviWriter>(new CFakeAvi(log)); };
  f.makeWmv = [] { return std::unique_ptr<IWmvWriter>(); };
  return f;
}

// The view's window: a platform target on the test thread that keeps the
// messages it receives.
class ViewWindow {
 public:
  ViewWindow() {
    hwnd_ = CreateWindowTarget(
        [this](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
          if (msg != WM_CREATE && msg != WM_DESTROY) messages_.push_back(msg);
          return 0;
        },
        "MovieView");
  }
  ~ViewWindow() { DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }
  // Pumps until `msg` has arrived `count` times (or the limit has passed).
  bool WaitFor(UINT msg, int count = 1, int limitMs = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (Count(msg) < count && std::chrono::steady_clock::now() < end) {
      MSG m;
      if (GetMessageTimeout(&m, 20) == WAIT_OBJECT_0) DispatchMessage(&m);
    }
    return Count(msg) >= count;
  }
  void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      MSG m;
      if (GetMessageTimeout(&m, 5) == WAIT_OBJECT_0) DispatchMessage(&m);
    }
  }
  int Count(UINT msg) const { return static_cast<int>(std::count(messages_.begin(), messages_.end(), msg)); }

 private:
  HWND hwnd_ = nullptr;
  std::vector<UINT> messages_;
};

class CountingView : public IMovieRequestCounter {
 public:
  void DecrementRequests() override { --outstanding; }
  std::atomic<int> outstanding{0};
};

std::unique_ptr<RECINFO> Record(IMovieRequestCounter* view, HWND wnd, int index) {
  auto r = std::make_unique<RECINFO>();
  r->pFrameClock = view;
  r->hViewWnd = wnd;
  if (index >= 0) {
    r->hBitmap = MakeFrame(16, 16, index);
    r->width = r->height = 16;
  } else {
    r->bEmpty = TRUE;
  }
  return r;
}

// Posts the real frames first .. first + count - 1, each holding one unit
// of `clock`'s outstanding count as the frame clock's requests do; a post
// that fails gives its unit back. Returns how many were posted.
template <class Clock>
int PostCountedFrames(CMakeMovieThread& thread, Clock* clock, HWND wnd, int first, int count) {
  int posted = 0;
  for (int i = first; i < first + count; ++i) {
    ++clock->outstanding;
    if (thread.PostFrame(Record(clock, wnd, i))) {
      ++posted;
    } else {
      --clock->outstanding;
    }
  }
  return posted;
}

template <class Pred>
bool WaitUntil(Pred pred, int limitMs = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// A recording thread with the fake writers, answering to a view window.
class RecordingThread : public ::testing::Test {
 protected:
  RecordingThread() { thread.SetNotifyWnd(view.hwnd()); }
  WriterLog log;
  ViewWindow view;
  CountingView counter;
  CMakeMovieThread thread{FakeFactory(&log)};
};

TEST_F(RecordingThread, EmptyRecordsRepeatTheHeldFrameAndCountLikeRealOnes) {
  thread.SetCountRequests(TRUE);
  ASSERT_TRUE(thread.Start());
  const int sequence[] = {1, -1, -1, 2, 3, -1};
  for (int s : sequence) {
    if (s >= 0) ++counter.outstanding;
    ASSERT_TRUE(thread.PostFrame(Record(&counter, view.hwnd(), s)));
  }
  ASSERT_TRUE(view.WaitFor(WM_MAKEMOVIE_FRAMEDONE, 6));
  EXPECT_EQ(log.frames, (std::vector<int>{1, 1, 1, 2, 3, 3}));
  EXPECT_EQ(thread.GetFrameCount(), 6u);
  EXPECT_EQ(thread.GetRepeatedCount(), 3u);
  EXPECT_EQ(counter.outstanding.load(), 0);  // one unit back per real frame
  ASSERT_TRUE(thread.PostStop());
  ASSERT_TRUE(thread.Join(10000));
  ASSERT_TRUE(view.WaitFor(WM_MOVIE_REC_END));
  EXPECT_EQ(view.Count(WM_MAKEMOVIE_ERROR), 0);
  EXPECT_EQ(log.closed, 1);
  EXPECT_FALSE(thread.PostFrame(Record(&counter, view.hwnd(), 4)));  // a post after the end fails
}

TEST_F(RecordingThread, AnEmptyRecordBeforeAnyFrameEndsWithTheInternalErrorAndNoFile) {
  ASSERT_TRUE(thread.Start());
  ASSERT_TRUE(thread.PostFrame(Record(&counter, view.hwnd(), -1)));
  ASSERT_TRUE(view.WaitFor(WM_MAKEMOVIE_ERROR));
  ASSERT_TRUE(thread.Join(10000));
  view.Pump(50);
  EXPECT_EQ(thread.GetErrorMessage(), "An Internal Error has occurred.");
  EXPECT_EQ(view.Count(WM_MOVIE_REC_END), 0);
  EXPECT_EQ(log.created, 0);  // the writer (and its file) is made by the first real frame
}

TEST_F(RecordingThread, AfterAWriteErrorComesTheErrorAndNoEndAndLaterFramesAreDropped) {
  log.failAt = 2;
  thread.SetCountRequests(TRUE);
  ASSERT_TRUE(thread.Start());
  PostCountedFrames(thread, &counter, view.hwnd(), 0, 6);  // those after the error fail
  ASSERT_TRUE(view.WaitFor(WM_MAKEMOVIE_ERROR));
  ASSERT_TRUE(thread.Join(10000));
  view.Pump(50);
  EXPECT_EQ(thread.GetErrorMessage(), "Unable to save file.");
  EXPECT_EQ(view.Count(WM_MOVIE_REC_END), 0);
  EXPECT_EQ(view.Count(WM_MAKEMOVIE_ERROR), 1);
  EXPECT_EQ(thread.GetFrameCount(), 2u);
  EXPECT_EQ(counter.outstanding.load(), 0);  // dropped records gave their units back too
}

// A writer that runs out of memory in the middle of a frame (std::bad_alloc
// from deep inside it) ends the recording with the resources text, like any
// other failure, instead of ending the program; the file is completed.
TEST_F(RecordingThread, AWriterRunningOutOfMemoryEndsWithTheResourcesText) {
  log.throwAt = 2;
  ASSERT_TRUE(thread.Start());
  for (int i = 0; i < 4; ++i) thread.PostFrame(Record(&counter, view.hwnd(), i));
  ASSERT_TRUE(view.WaitFor(WM_MAKEMOVIE_ERROR));
  ASSERT_TRUE(thread.Join(10000));
  view.Pump(50);
  EXPECT_EQ(thread.GetErrorMessage(),
            "Insufficient system resources for execution.\nPlease close other applications and try again.");
  EXPECT_EQ(view.Count(WM_MOVIE_REC_END), 0);
  EXPECT_EQ(thread.GetFrameCount(), 2u);
  EXPECT_EQ(log.closed, 1);
}

TEST_F(RecordingThread, FramesAfterAcceptingEndsAreDroppedAndGiveTheirUnitsBack) {
  thread.SetCountRequests(TRUE);
  ASSERT_TRUE(thread.Start());
  ++counter.outstanding;
  thread.PostFrame(Record(&counter, view.hwnd(), 0));
  ASSERT_TRUE(view.WaitFor(WM_MAKEMOVIE_FRAMEDONE));
  thread.SetAcceptFrames(FALSE);
  PostCountedFrames(thread, &counter, view.hwnd(), 1, 3);
  ASSERT_TRUE(WaitUntil([&] { return counter.outstanding.load() == 0; }));
  thread.PostStop();
  ASSERT_TRUE(thread.Join(10000));
  EXPECT_EQ(log.frames, (std::vector<int>{0}));
}

// A writer of 100 ms a frame with a queue of waiting frames: a stop is
// handled after the frames posted before it, so every captured frame is
// written, in order, and the recording ends without a text.
TEST_F(RecordingThread, AStopWritesEveryFramePostedBeforeItInOrder) {
  log.delayMs = 100;
  thread.SetCountRequests(TRUE);
  ASSERT_TRUE(thread.Start());
  std::vector<int> expected;
  for (int i = 0; i < 20; ++i) {
    const int n = i % 4 == 3 ? -1 : i;  // every fourth an empty record
    if (n >= 0) ++counter.outstanding;
    expected.push_back(n >= 0 ? n : expected.back());
    ASSERT_TRUE(thread.PostFrame(Record(&counter, view.hwnd(), n)));
  }
  ASSERT_TRUE(WaitUntil([&] { return log.Count() >= 1; }));
  ASSERT_TRUE(thread.PostStop());
  ASSERT_TRUE(thread.WaitForEnd("test"));
  EXPECT_EQ(log.frames, expected);
  EXPECT_EQ(thread.GetFrameCount(), 20u);
  EXPECT_EQ(thread.GetErrorMessage(), "");
  EXPECT_EQ(counter.outstanding.load(), 0);
  EXPECT_TRUE(view.WaitFor(WM_MOVIE_REC_END));
  EXPECT_EQ(view.Count(WM_MAKEMOVIE_ERROR), 0);
}

// A measurement clears the accepting flag before its stop: the frames still
// waiting are dropped on purpose, each giving its unit back.
TEST_F(RecordingThread, AStopAfterAcceptingEndsDropsTheQueue) {
  log.delayMs = 100;
  thread.SetCountRequests(TRUE);
  ASSERT_TRUE(thread.Start());
  ASSERT_EQ(PostCountedFrames(thread, &counter, view.hwnd(), 0, 20), 20);
  ASSERT_TRUE(WaitUntil([&] { return log.Count() >= 1; }));
  thread.SetAcceptFrames(FALSE);
  ASSERT_TRUE(thread.PostStop());
  ASSERT_TRUE(thread.WaitForEnd("test"));
  EXPECT_LE(log.Count(), 2u);
  EXPECT_EQ(thread.GetErrorMessage(), "");
  EXPECT_EQ(counter.outstanding.load(), 0);
}

// A writer too slow to write the queue within the drain limit: the thread
// is cut after the frame being written, the frames still waiting are dropped
// (their units back) and the recording ends with the save failure text, so
// the shorter movie is never a silent one.
TEST_F(RecordingThread, AQueueNotWrittenWithinTheDrainLimitIsCutWithTheSaveText) {
  log.delayMs = 100;
  thread.SetCountRequests(TRUE);
  thread.SetStopLimits(RECSTOPLIMITS{300, 10000});
  ASSERT_TRUE(thread.Start());
  ASSERT_EQ(PostCountedFrames(thread, &counter, view.hwnd(), 0, 40), 40);
  ASSERT_TRUE(thread.PostStop());
  ASSERT_TRUE(thread.WaitForEnd("test"));
  EXPECT_LT(log.Count(), 40u);
  for (size_t i = 0; i < log.frames.size(); ++i) EXPECT_EQ(log.frames[i], int(i));
  EXPECT_EQ(thread.GetFrameCount(), log.Count());
  EXPECT_EQ(thread.GetErrorMessage(), "Unable to save file.");
  EXPECT_EQ(counter.outstanding.load(), 0);
  EXPECT_EQ(log.closed, 1);  // the frames written are in a complete file
  EXPECT_TRUE(view.WaitFor(WM_MAKEMOVIE_ERROR));
  EXPECT_EQ(view.Count(WM_MOVIE_REC_END), 0);
}

// A thread that has written every frame and is still completing its file
// when the drain limit passes has nothing left to cut: it ends within the
// cut limit with its complete file and no text.
TEST_F(RecordingThread, AFileCompletedPastTheDrainLimitIsNotCut) {
  log.closeDelayMs = 600;
  thread.SetCountRequests(TRUE);
  thread.SetStopLimits(RECSTOPLIMITS{200, 10000});
  ASSERT_TRUE(thread.Start());
  ASSERT_EQ(PostCountedFrames(thread, &counter, view.hwnd(), 0, 3), 3);
  ASSERT_TRUE(WaitUntil([&] { return log.Count() == 3; }));
  ASSERT_TRUE(thread.PostStop());
  ASSERT_TRUE(thread.WaitForEnd("test"));
  EXPECT_EQ(thread.GetFrameCount(), 3u);
  EXPECT_EQ(thread.GetErrorMessage(), "");
  EXPECT_EQ(log.closed, 1);
  EXPECT_EQ(counter.outstanding.load(), 0);
  EXPECT_TRUE(view.WaitFor(WM_MOVIE_REC_END));
  EXPECT_EQ(view.Count(WM_MAKEMOVIE_ERROR), 0);
}

// A frame clock that notes, when it is freed, how many units the records
// holding it had not given back yet.
class NotingClock : public IMovieRequestCounter {
 public:
  explicit NotingClock(std::atomic<int>* heldWhenFreed) : m_pHeld(heldWhenFreed) {}
  ~NotingClock() override { *m_pHeld = outstanding.load(); }
  void DecrementRequests() override { --outstanding; }
  std::atomic<int> outstanding{0};

 private:
  std::atomic<int>* m_pHeld;
};

// A thread stuck in a write past both waits of its end, with records still
// queued that hold the frame clock: freeing the recording keeps the clock
// until the thread has ended and every record has given its unit back; the
// thread goes first, then the clock.
TEST(RecordingEnd, TheFrameClockOutlivesALateThreadWhoseRecordsHoldIt) {
  WriterLog log;
  log.Open(false);
  ViewWindow view;
  std::atomic<int> heldWhenFreed{-1};
  auto clock = std::make_unique<NotingClock>(&heldWhenFreed);
  auto thread = std::make_unique<CMakeMovieThread>(FakeFactory(&log));
  thread->SetNotifyWnd(view.hwnd());
  thread->SetCountRequests(TRUE);
  thread->SetStopLimits(RECSTOPLIMITS{100, 100});
  ASSERT_TRUE(thread->Start());
  ASSERT_EQ(PostCountedFrames(*thread, clock.get(), view.hwnd(), 0, 5), 5);
  ASSERT_TRUE(WaitUntil([&] { return log.entered.load() >= 1; }));
  ASSERT_TRUE(thread->PostStop());
  EXPECT_FALSE(thread->WaitForEnd("test"));  // still writing
  NotingClock* held = clock.get();
  FreeRecording(std::move(thread), std::move(clock));
  EXPECT_EQ(heldWhenFreed.load(), -1) << "freed while its records still held it";
  if (heldWhenFreed.load() == -1) EXPECT_EQ(held->outstanding.load(), 4);
  log.Open(true);  // the disk answers again
  // Freed by the late threads' owner once the thread has ended, without
  // anyone asking.
  EXPECT_TRUE(WaitUntil([&] { return heldWhenFreed.load() != -1; }));
  EXPECT_EQ(heldWhenFreed.load(), 0);
  EXPECT_EQ(LateThreadCount(), 0u);
}

// Late recordings in numbers, each freed as its thread ends: "ended" is the
// thread's own end (its function has returned), so no object is freed while
// its thread still signals or touches it (ThreadSanitizer watches this).
TEST(RecordingEnd, ManyLateThreadsAreFreedEachOnceItHasEnded) {
  WriterLog log;
  log.Open(false);
  ViewWindow view;
  constexpr int kRecordings = 8;
  CountingView counter;
  std::atomic<int> freed{0};
  for (int i = 0; i < kRecordings; ++i) {
    auto thread = std::make_unique<CMakeMovieThread>(FakeFactory(&log));
    thread->SetNotifyWnd(view.hwnd());
    thread->SetStopLimits(RECSTOPLIMITS{1, 1});
    ASSERT_TRUE(thread->Start());
    ASSERT_EQ(PostCountedFrames(*thread, &counter, view.hwnd(), 0, 1), 1);
    ASSERT_TRUE(WaitUntil([&] { return log.entered.load() >= i + 1; }));
    ASSERT_TRUE(thread->PostStop());
    EXPECT_FALSE(thread->WaitForEnd("test"));
    FreeRecording(std::move(thread), nullptr, [&freed] { ++freed; });
  }
  EXPECT_EQ(freed.load(), 0);
  log.Open(true);
  EXPECT_TRUE(WaitUntil([&] { return freed.load() == kRecordings; }));
  EXPECT_EQ(LateThreadCount(), 0u);
}

// A writer stuck past both waits of its end, then the program's exit: the
// exit waits (bounded) for the thread, frees it with its clock, and the
// measurement's folder goes once the thread has let go of it. Run under
// valgrind too: nothing the program owns is left behind.
TEST(RecordingEnd, ALateThreadIsFreedAtExitAndItsFolderGoes) {
  WriterLog log;
  log.Open(false);
  ViewWindow view;
  const std::string folder = MakeFolder("late-exit");
  std::ofstream(folder + "measurement.avi") << "frames";
  std::atomic<int> heldWhenFreed{-1};
  auto clock = std::make_unique<NotingClock>(&heldWhenFreed);
  auto thread = std::make_unique<CMakeMovieThread>(FakeFactory(&log));
  thread->SetNotifyWnd(view.hwnd());
  thread->SetCountRequests(TRUE);
  thread->SetStopLimits(RECSTOPLIMITS{50, 50});
  ASSERT_TRUE(thread->Start());
  ASSERT_EQ(PostCountedFrames(*thread, clock.get(), view.hwnd(), 0, 3), 3);
  ASSERT_TRUE(WaitUntil([&] { return log.entered.load() >= 1; }));
  ASSERT_TRUE(thread->PostStop());
  EXPECT_FALSE(thread->WaitForEnd("test"));
  FreeRecording(std::move(thread), std::move(clock), [folder] { std::filesystem::remove_all(folder); });
  EXPECT_TRUE(std::filesystem::exists(folder)) << "removed while its thread still writes into it";
  // The disk answers again while the exit waits.
  std::thread disk([&log] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    log.Open(true);
  });
  EXPECT_EQ(EndLateThreads(20000), 0u);
  disk.join();
  EXPECT_EQ(heldWhenFreed.load(), 0);
  EXPECT_FALSE(std::filesystem::exists(folder));
}

// The first live picture never comes: the stop still ends the thread.
// An address-space limit just above what the process uses leaves no room
// for a new thread's stack, so the thread cannot be made.
class NoRoomForAThread {
 public:
  NoRoomForAThread() {
    getrlimit(RLIMIT_AS, &old_);
    long pages = 0;
    if (FILE* f = fopen("/proc/self/statm", "r")) {
      if (fscanf(f, "%ld", &pages) != 1) pages = 0;
      fclose(f);
    }
    struct rlimit limit = old_;
    limit.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + 2 * 1024 * 1024;
    set_ = pages > 0 && setrlimit(RLIMIT_AS, &limit) == 0;
  }
  ~NoRoomForAThread() { setrlimit(RLIMIT_AS, &old_); }
  bool set() const { return set_; }
  // FALSE when a thread can still be made (a stack kept from a thread that
  // ended earlier in this process is used again without new room).
  static bool ThreadsFail() {
    try {
      std::thread([] {}).join();
      return false;
    } catch (const std::system_error&) {
      return true;
    }
  }

 private:
  struct rlimit old_ {};
  bool set_ = false;
};

// A recording thread that cannot be made: Start fails (it throws nothing),
// the records posted before it give their units back, and the object goes
// away without waiting for a thread that never ran.
TEST(MakeMovieThread, AThreadThatCannotBeMadeFailsToStartAndGivesItsRecordsBack) {
  ViewWindow view;
  CountingView counter;
  auto thread = std::make_unique<CMakeMovieThread>();
  thread->SetCountRequests(TRUE);
  thread->SetNotifyWnd(view.hwnd());
  ++counter.outstanding;
  ASSERT_TRUE(thread->PostFrame(Record(&counter, view.hwnd(), 0)));
  bool started = true;
  bool threw = false;
  {
    NoRoomForAThread limit;
    ASSERT_TRUE(limit.set());
    if (!NoRoomForAThread::ThreadsFail()) GTEST_SKIP() << "threads can still be made in this process";
    try {
      started = thread->Start();
    } catch (...) {
      threw = true;
    }
  }
  EXPECT_FALSE(threw);
  EXPECT_FALSE(started);
  EXPECT_EQ(counter.outstanding.load(), 0);
  EXPECT_FALSE(thread->PostFrame(Record(&counter, view.hwnd(), 1)));
  EXPECT_FALSE(thread->Start());
  const auto t0 = std::chrono::steady_clock::now();
  thread.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

// A thread object that is deleted without ever being started (the view gave
// up before resuming it) gives back the units of the records posted to it.
TEST(MakeMovieThread, RecordsPostedToAThreadNeverStartedGiveTheirUnitsBack) {
  ViewWindow view;
  CountingView counter;
  {
    CMakeMovieThread thread;
    thread.SetCountRequests(TRUE);
    ASSERT_EQ(PostCountedFrames(thread, &counter, view.hwnd(), 0, 3), 3);
    ASSERT_TRUE(thread.PostFrame(Record(&counter, view.hwnd(), -1)));  // an empty one holds no unit
  }
  EXPECT_EQ(counter.outstanding.load(), 0);
}

TEST(MakeMovieThread, AStopEndsAWaitForAPictureThatNeverComes) {
  WriterLog log;
  ViewWindow view;
  auto event = std::make_shared<CEvent>(true, false);
  CMakeMovieThread thread(FakeFactory(&log));
  thread.SetNotifyWnd(view.hwnd());
  ASSERT_TRUE(thread.PostWait(event));  // posted before the start, as the view does
  ASSERT_TRUE(thread.Start());
  view.Pump(100);
  ASSERT_TRUE(thread.PostStop());
  ASSERT_TRUE(thread.Join(5000));
  view.Pump(50);
  EXPECT_EQ(view.Count(WM_MOVIE_REC_READY), 0);
}

TEST(MakeMovieThread, TheWaitAnswersReadyOnceThePictureIsThere) {
  WriterLog log;
  ViewWindow view;
  auto event = std::make_shared<CEvent>(true, false);
  CMakeMovieThread thread(FakeFactory(&log));
  thread.SetNotifyWnd(view.hwnd());
  thread.PostWait(event);
  ASSERT_TRUE(thread.Start());
  view.Pump(60);
  EXPECT_EQ(view.Count(WM_MOVIE_REC_READY), 0);
  event->Set();
  EXPECT_TRUE(view.WaitFor(WM_MOVIE_REC_READY));
}

TEST(MakeMovieThread, SettingsThatWouldBreakTheArithmeticAreBroughtIntoRange) {
  WriterLog log;
  CMakeMovieThread thread(FakeFactory(&log));
  const struct {
    uint64_t split;
    uint64_t expected;
  } splits[] = {{0, AVI_DEFAULT_SPLIT_SIZE},
                {1024, AVI_DEFAULT_SPLIT_SIZE},
                {MIN_SPLIT_SIZE, MIN_SPLIT_SIZE},
                {100ull << 20, 100ull << 20}};
  for (const auto& s : splits) {
    thread.SetMaxFileSize(s.split);
    EXPECT_EQ(thread.GetMaxFileSize(), s.expected) << s.split;
  }
  thread.SetFrameRate(0);
  EXPECT_EQ(thread.GetFrameRate(), 1u);
  thread.SetFrameRate(5000);
  EXPECT_EQ(thread.GetFrameRate(), 1000u);
  thread.SetFileType(7);
  EXPECT_EQ(thread.GetFileType(), MOVIE_FILETYPE_AVI);
  thread.SetVideoQuality(500);
  EXPECT_EQ(thread.GetVideoQuality(), 100u);
  EXPECT_EQ(ClampMaxReqCount(0), 1);
  EXPECT_EQ(ClampMaxReqCount(10), 10);
  EXPECT_EQ(ClampMaxReqCount(0xFFFFFFFF), MAX_REQ_COUNT);
  EXPECT_EQ(FramePeriodMs(3), 333u);
  EXPECT_EQ(FramePeriodMs(0), 1000u);
}

// The view's clock on a fake clock: a writer that is held back fills the
// request limit, then every further tick sends an empty record; nothing is
// lost and the movie keeps one frame per tick.
TEST(FramePacer, BackPressureAtTheRequestLimitSendsEmptyRecords) {
  WriterLog log;
  log.gateOpen = false;
  ViewWindow view;
  CFakeMovieClock clock;
  CMakeMovieThread thread(FakeFactory(&log));
  thread.SetNotifyWnd(view.hwnd());
  thread.SetCountRequests(TRUE);
  ASSERT_TRUE(thread.Start());
  std::atomic<int> picture{0};
  CFramePacer pacer(
      &thread, view.hwnd(), [&](LONG w, LONG h) { return MakeFrame(w, h, ++picture); }, 16, 16, 3, &clock);
  ASSERT_TRUE(pacer.Begin(10));  // the first frame goes at once
  // The thread has taken it and is held in the writer.
  ASSERT_TRUE(WaitUntil([&] { return log.entered.load() == 1; }));
  for (int tick = 1; tick <= 9; ++tick) {
    clock.Advance(100'000'000);
    ASSERT_TRUE(WaitUntil([&] { return pacer.Timer().GetTickCount() == static_cast<uint64_t>(tick); }));
    EXPECT_LE(pacer.GetOutstanding(), 3);
  }
  // One real frame is held in the writer and three are outstanding:
  // 1 + 9 ticks = 10 records, of which 4 real and 6 empty.
  EXPECT_EQ(picture.load(), 4);
  EXPECT_EQ(pacer.GetEmptyRequests(), 6u);
  log.Open(true);
  ASSERT_TRUE(WaitUntil([&] { return log.Count() == 10; }));
  EXPECT_EQ(log.frames, (std::vector<int>{1, 2, 3, 4, 4, 4, 4, 4, 4, 4}));
  EXPECT_EQ(pacer.GetOutstanding(), 0);
  // Caught up: the next ticks send real frames again.
  clock.Advance(100'000'000);
  ASSERT_TRUE(WaitUntil([&] { return log.Count() == 11; }));
  EXPECT_EQ(log.frames.back(), 5);
  pacer.End();
  thread.PostStop();
  ASSERT_TRUE(thread.Join(10000));
}

// A writer slower than the clock: the records waiting for it stop growing at
// the backlog limit, and the recording is told then that it cannot keep up
// (not minutes later at the stop); every frame captured before is written,
// in order, once the writer goes on.
TEST(FramePacer, AWriterThatCannotKeepUpIsToldWhileRecording) {
  WriterLog log;
  log.gateOpen = false;
  ViewWindow view;
  CFakeMovieClock clock;
  CMakeMovieThread thread(FakeFactory(&log));
  thread.SetNotifyWnd(view.hwnd());
  thread.SetCountRequests(TRUE);
  ASSERT_TRUE(thread.Start());
  std::atomic<int> picture{0};
  CFramePacer pacer(
      &thread, view.hwnd(), [&](LONG w, LONG h) { return MakeFrame(w, h, ++picture); }, 16, 16, 3, &clock);
  ASSERT_TRUE(pacer.Begin(10));
  const LONG limit = pacer.GetBacklogLimit();
  EXPECT_EQ(limit, 20);  // two seconds at ten frames a second
  ASSERT_TRUE(WaitUntil([&] { return log.entered.load() == 1; }));
  const int ticks = 3 * limit;
  for (int tick = 1; tick <= ticks; ++tick) {
    clock.Advance(100'000'000);
    ASSERT_TRUE(WaitUntil([&] { return pacer.Timer().GetTickCount() == static_cast<uint64_t>(tick); }));
    EXPECT_LE(pacer.GetQueued(), limit);
  }
  EXPECT_TRUE(view.WaitFor(WM_MAKEMOVIE_ERROR));
  EXPECT_EQ(pacer.GetErrorMessage(), "Unable to save file.");
  // The one in the writer and the limit's worth waiting: nothing more.
  EXPECT_EQ(pacer.GetRecordsSent(), uint64_t(limit) + 1);
  pacer.End();
  log.Open(true);
  ASSERT_TRUE(thread.PostStop());
  ASSERT_TRUE(thread.WaitForEnd("test"));
  EXPECT_EQ(log.Count(), size_t(limit) + 1);
  for (size_t i = 1; i < log.frames.size(); ++i) EXPECT_LE(log.frames[i - 1], log.frames[i]);
  EXPECT_EQ(pacer.GetOutstanding(), 0);
  EXPECT_EQ(pacer.GetQueued(), 0);
}

TEST(FramePacer, NoPictureYetEndsWithAnErrorToTheView) {
  WriterLog log;
  ViewWindow view;
  CMakeMovieThread thread(FakeFactory(&log));
  ASSERT_TRUE(thread.Start());
  CFakeMovieClock clock;
  CFramePacer pacer(&thread, view.hwnd(), [](LONG, LONG) { return CBitmap24(); }, 16, 16, 10, &clock);
  pacer.Begin(10);
  EXPECT_TRUE(view.WaitFor(WM_MAKEMOVIE_ERROR));
  EXPECT_EQ(pacer.GetOutstanding(), 0);
  EXPECT_EQ(pacer.GetErrorMessage(), "An Internal Error has occurred.");  // never a silent end
  pacer.End();
}

TEST(MovieTimer, FakeClockTicksOncePerPeriodAndCatchesUpLateTicks) {
  CFakeMovieClock clock;
  CMovieTimer timer(&clock);
  std::atomic<int> calls{0};
  ASSERT_TRUE(timer.Start(50, [&] { ++calls; }));
  clock.Advance(49'000'000);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(calls.load(), 0);
  clock.Advance(1'000'000);
  ASSERT_TRUE(WaitUntil([&] { return calls.load() == 1; }));
  clock.Advance(250'000'000);  // five periods at once: five ticks, none lost
  ASSERT_TRUE(WaitUntil([&] { return calls.load() == 6; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(calls.load(), 6);
  timer.Kill();
  clock.Advance(500'000'000);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(calls.load(), 6);
}

TEST(MovieTimer, KillWaitsForACallbackInProgress) {
  CMovieTimer timer;
  std::atomic<bool> inside{false}, finished{false};
  ASSERT_TRUE(timer.Start(5, [&] {
    if (finished) return;
    inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    finished = true;
  }));
  ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
  timer.Kill();
  EXPECT_TRUE(finished.load());
  EXPECT_FALSE(timer.IsRunning());
}

TEST(MovieTimer, ACallbackMayKillItsOwnTimer) {
  auto timer = std::make_unique<CMovieTimer>();
  std::atomic<int> calls{0};
  ASSERT_TRUE(timer->Start(5, [&] {
    if (++calls == 3) timer->Kill();
  }));
  ASSERT_TRUE(WaitUntil([&] { return !timer->IsRunning(); }));
  EXPECT_EQ(calls.load(), 3);
}

// The steady clock as the timer sees it, noting every deadline it is asked
// to sleep to and the time each sleep ended.
class NotingSteadyClock : public IMovieClock {
 public:
  int64_t NowNs() override { return SteadyMovieClock()->NowNs(); }
  bool SleepUntil(int64_t deadlineNs, std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                  const bool& stop) override {
    const bool woke = SteadyMovieClock()->SleepUntil(deadlineNs, lock, cv, stop);
    const int64_t now = NowNs();
    std::lock_guard<std::mutex> g(m_Lock);
    if (woke) m_Sleeps.push_back({deadlineNs, now});
    return woke;
  }
  std::vector<std::pair<int64_t, int64_t>> Sleeps() {
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Sleeps;
  }

 private:
  std::mutex m_Lock;
  std::vector<std::pair<int64_t, int64_t>> m_Sleeps;  // deadline, woken at
};

// On the steady clock, with a callback that takes most of a period (and
// sometimes more than one): tick k is due at the first deadline plus k
// periods, whatever the callbacks took, and never fires before it. Judged by
// the deadlines' order and count, not by how late a loaded machine runs
// them (the benchmark measures that).
TEST(MovieTimer, SteadyClockKeepsToAbsoluteDeadlines) {
  NotingSteadyClock clock;
  CMovieTimer timer(&clock);
  constexpr int kTicks = 30;
  constexpr int64_t kPeriodNs = 10 * 1000 * 1000;
  std::atomic<int> calls{0};
  const int64_t started = clock.NowNs();
  ASSERT_TRUE(timer.Start(10, [&] {
    // Every fifth callback overruns its period; the others take most of it.
    const int n = ++calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(n % 5 == 0 ? 15 : 8));
  }));
  ASSERT_TRUE(WaitUntil([&] { return calls.load() >= kTicks; }));
  timer.Kill();
  const auto sleeps = clock.Sleeps();
  ASSERT_GE(sleeps.size(), size_t(kTicks));
  EXPECT_EQ(timer.GetTickCount(), uint64_t(calls.load()));
  EXPECT_GE(sleeps[0].first, started + kPeriodNs);
  for (size_t k = 0; k < sleeps.size(); ++k) {
    EXPECT_EQ(sleeps[k].first, sleeps[0].first + int64_t(k) * kPeriodNs) << "tick " << k << " moved";
    EXPECT_GE(sleeps[k].second, sleeps[k].first) << "tick " << k << " came early";
  }
}

// Through the real AVI writer: a capacity of exactly five frames gives five
// frames, the end message and a complete file.
TEST(MakeMovieThread, CapacityIsExactlyRespectedWithTheRealWriter) {
  const std::string dir = MakeFolder("reccap");
  ViewWindow view;
  CountingView counter;
  CMakeMovieThread thread;
  MAKEMOVIEPARAM param;
  param.outputPath = dir + "cap.avi";
  param.frameRate = 10;
  param.maxFileSize = 1024;  // the document's default: the writer's own split
  param.recCondition = RECCOND_CAPACITY;
  param.recLimit = 5ull * DibStride24(16) * 16;
  param.width = param.height = 16;
  ApplyMakeMovieParam(&thread, param, view.hwnd());
  EXPECT_EQ(thread.GetMaxFileSize(), AVI_DEFAULT_SPLIT_SIZE);
  ASSERT_TRUE(thread.Start());
  for (int i = 0; i < 8; ++i) thread.PostFrame(Record(&counter, view.hwnd(), i));
  ASSERT_TRUE(view.WaitFor(WM_MOVIE_REC_END));
  ASSERT_TRUE(thread.Join(10000));
  EXPECT_EQ(thread.GetFrameCount(), 5u);
  EXPECT_EQ(view.Count(WM_MAKEMOVIE_FRAMEDONE), 5);
  EXPECT_EQ(view.Count(WM_MAKEMOVIE_ERROR), 0);
  EXPECT_TRUE(AviHoldsFrames(dir + "cap.avi", 5));
}

// The whole road on the steady clock: every tick gives one frame of the
// file, and the file lasts as many periods as the clock ticked.
TEST(MakeMovieThread, OneSecondOnTheRealClockGivesOneFramePerTickInAPlayableFile) {
  const std::string dir = MakeFolder("road");
  ViewWindow view;
  CMakeMovieThread thread;
  MAKEMOVIEPARAM param;
  param.outputPath = dir + "road.avi";
  param.frameRate = 10;
  param.width = 64;
  param.height = 48;
  ApplyMakeMovieParam(&thread, param, view.hwnd());
  thread.SetCountRequests(TRUE);
  ASSERT_TRUE(thread.Start());
  std::atomic<int> picture{0};
  CFramePacer pacer(
      &thread, view.hwnd(), [&](LONG w, LONG h) { return MakeFrame(w, h, picture++); }, 64, 48, 10);
  ASSERT_TRUE(pacer.Begin(10));
  view.Pump(1000);
  pacer.End();
  const int records = 1 + static_cast<int>(pacer.Timer().GetTickCount());
  EXPECT_GE(records, 6);  // a loaded machine may be late, never lose ticks
  ASSERT_TRUE(view.WaitFor(WM_MAKEMOVIE_FRAMEDONE, records));
  thread.PostStop();
  ASSERT_TRUE(thread.Join(10000));
  ASSERT_TRUE(view.WaitFor(WM_MOVIE_REC_END));
  EXPECT_EQ(thread.GetFrameCount(), static_cast<uint64_t>(records));
  EXPECT_TRUE(AviHoldsFrames(dir + "road.avi", static_cast<size_t>(records)));
  if (HaveTool("gst-discoverer-1.0")) EXPECT_EQ(Discover(dir + "road.avi").durationMs, records * 100);
}

TEST(MakeMovieThread, AMissingProfileEndsWithTheProfileTextAndNoFile) {
  const std::string dir = MakeFolder("recprx");
  ViewWindow view;
  CountingView counter;
  CMakeMovieThread thread;
  MAKEMOVIEPARAM param;
  param.outputPath = dir + "out.wmv";
  param.fileType = MOVIE_FILETYPE_WMV;
  param.profilePath = dir + "none.prx";
  param.maxFileSize = 0;  // what the settings store for WMV
  ApplyMakeMovieParam(&thread, param, view.hwnd());
  ASSERT_TRUE(thread.Start());
  thread.PostFrame(Record(&counter, view.hwnd(), 0));
  ASSERT_TRUE(view.WaitFor(WM_MAKEMOVIE_ERROR));
  ASSERT_TRUE(thread.Join(10000));
  EXPECT_EQ(thread.GetErrorMessage(), "Unable to read profile file.\nPlease check the environment.");
  EXPECT_FALSE(Exists(dir + "out.wmv"));
}

}  // namespace

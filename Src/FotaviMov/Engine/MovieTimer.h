// The frame clock of a recording, in place of a periodic multimedia timer:
// a thread that sleeps to absolute deadlines (start + k x period) on a steady
// clock and calls its callback at each. A late tick is fired at once, so the
// number of ticks stays true to the clock. Kill waits for a callback that is
// running (unless the callback itself kills the timer).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Types.h"

// The clock the timer sleeps on. The steady clock is the one of the
// program; tests drive a fake clock by hand.
class IMovieClock {
 public:
  virtual ~IMovieClock() = default;
  virtual int64_t NowNs() = 0;
  // Waits until NowNs() >= deadline, or until `stop` is true (the waker
  // notifies `cv` under `m`). FALSE when stopped.
  virtual bool SleepUntil(int64_t deadlineNs, std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                          const bool& stop) = 0;
};

IMovieClock* SteadyMovieClock();

// A clock that moves only when told (tests).
class CFakeMovieClock : public IMovieClock {
 public:
  int64_t NowNs() override { return m_Now.load(); }
  bool SleepUntil(int64_t deadlineNs, std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                  const bool& stop) override;
  void Advance(int64_t ns);

 private:
  std::atomic<int64_t> m_Now{0};
  std::mutex m_Lock;
  std::vector<std::pair<std::mutex*, std::condition_variable*>> m_Sleepers;
};

class CMovieTimer {
 public:
  explicit CMovieTimer(IMovieClock* clock = nullptr);
  ~CMovieTimer();
  CMovieTimer(const CMovieTimer&) = delete;
  CMovieTimer& operator=(const CMovieTimer&) = delete;

  // Starts a periodic timer (period of at least 1 ms). FALSE when one runs
  // already or the thread cannot be made.
  bool Start(DWORD periodMs, std::function<void()> callback);
  // Stops the timer; returns after a running callback has returned (except
  // when called from the callback). No callback starts after Kill.
  void Kill();
  bool IsRunning() const;
  uint64_t GetTickCount() const;

  // Lateness of every tick (ns past its deadline), kept while enabled.
  void KeepLateness(bool keep);
  std::vector<int64_t> TakeLateness();

 private:
  // Shared with the timer's thread, so that the object may go away from
  // inside its own callback.
  struct State {
    IMovieClock* clock = nullptr;
    std::function<void()> callback;
    std::mutex lock;
    std::condition_variable wake;
    bool launched = false;  // Start has kept the thread: its first callback may kill it
    bool stop = false;
    std::atomic<bool> running{false};
    std::atomic<uint64_t> ticks{0};
    std::atomic<bool> keepLateness{false};
    std::mutex latenessLock;
    std::vector<int64_t> lateness;
  };
  static void Run(const std::shared_ptr<State>& state, int64_t firstDeadlineNs, int64_t periodNs);

  IMovieClock* m_pClock;
  std::shared_ptr<State> m_State;
  std::thread m_Thread;
};

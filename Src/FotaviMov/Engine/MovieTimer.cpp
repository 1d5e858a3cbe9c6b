#include "MovieTimer.h"

#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {
class CSteadyClock : public IMovieClock {
 public:
  int64_t NowNs() override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  bool SleepUntil(int64_t deadlineNs, std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                  const bool& stop) override {
    const std::chrono::steady_clock::time_point at{std::chrono::nanoseconds(deadlineNs)};
    // An absolute deadline on the steady clock: early wake-ups and a slow
    // callback never shift the following ticks.
    return !cv.wait_until(lock, at, [&] { return stop; });
  }
};
}  // namespace

IMovieClock* SteadyMovieClock() {
  static CSteadyClock clock;
  return &clock;
}

bool CFakeMovieClock::SleepUntil(int64_t deadlineNs, std::unique_lock<std::mutex>& lock,
                                 std::condition_variable& cv, const bool& stop) {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Sleepers.emplace_back(lock.mutex(), &cv);
  }
  cv.wait(lock, [&] { return stop || m_Now.load() >= deadlineNs; });
  std::lock_guard<std::mutex> g(m_Lock);
  m_Sleepers.erase(std::find(m_Sleepers.begin(), m_Sleepers.end(), std::make_pair(lock.mutex(), &cv)));
  return !stop;
}

void CFakeMovieClock::Advance(int64_t ns) {
  m_Now += ns;
  std::vector<std::pair<std::mutex*, std::condition_variable*>> sleepers;
  {
    std::lock_guard<std::mutex> g(m_Lock);
    sleepers = m_Sleepers;
  }
  for (auto& [m, cv] : sleepers) {
    // Taking the sleeper's lock orders the new time before its next check.
    { std::lock_guard<std::mutex> g(*m); }
    cv->notify_all();
  }
}

CMovieTimer::CMovieTimer(IMovieClock* clock) : m_pClock(clock ? clock : SteadyMovieClock()) {}

CMovieTimer::~CMovieTimer() {
  Kill();
  if (m_Thread.joinable()) m_Thread.detach();  // destroyed from its own callback
}

bool CMovieTimer::Start(DWORD periodMs, std::function<void()> callback) {
  if (m_Thread.joinable()) return false;
  auto state = std::make_shared<State>();
  state->clock = m_pClock;
  state->callback = std::move(callback);
  state->running = true;
  if (m_State) state->keepLateness = m_State->keepLateness.load();
  const int64_t periodNs = static_cast<int64_t>(std::max<DWORD>(periodMs, 1)) * 1000000;
  // The callback may kill (or destroy) the timer from its first tick, so
  // the state and the thread are kept before the thread may call it.
  std::shared_ptr<State> previous = std::exchange(m_State, state);
  try {
    // The first deadline counts from the call, not from the thread's start.
    const int64_t first = m_pClock->NowNs() + periodNs;
    m_Thread = std::thread([state, first, periodNs] { Run(state, first, periodNs); });
  } catch (...) {
    m_State = std::move(previous);
    return false;
  }
  {
    std::lock_guard<std::mutex> g(state->lock);
    state->launched = true;
  }
  state->wake.notify_all();
  return true;
}

void CMovieTimer::Run(const std::shared_ptr<State>& s, int64_t deadline, int64_t periodNs) {
  // Wake at the deadline itself, not up to the default 50 us after it.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  prctl(PR_SET_NAME, "MovieTimer", 0UL, 0UL, 0UL);
  std::unique_lock<std::mutex> lock(s->lock);
  s->wake.wait(lock, [&] { return s->launched; });
  for (;;) {
    if (!s->clock->SleepUntil(deadline, lock, s->wake, s->stop)) break;
    lock.unlock();
    if (s->keepLateness.load()) {
      const int64_t late = s->clock->NowNs() - deadline;
      std::lock_guard<std::mutex> g(s->latenessLock);
      s->lateness.push_back(late);
    }
    ++s->ticks;
    s->callback();
    // A tick that is already due (a slow callback) fires at once.
    deadline += periodNs;
    lock.lock();
    if (s->stop) break;
  }
  s->running = false;
}

void CMovieTimer::Kill() {
  if (!m_State) return;
  {
    std::lock_guard<std::mutex> g(m_State->lock);
    m_State->stop = true;
  }
  m_State->wake.notify_all();
  if (m_Thread.joinable() && m_Thread.get_id() != std::this_thread::get_id()) m_Thread.join();
}

bool CMovieTimer::IsRunning() const { return m_State && m_State->running.load(); }
uint64_t CMovieTimer::GetTickCount() const { return m_State ? m_State->ticks.load() : 0; }

void CMovieTimer::KeepLateness(bool keep) {
  if (!m_State) m_State = std::make_shared<State>();
  m_State->keepLateness = keep;
}

std::vector<int64_t> CMovieTimer::TakeLateness() {
  std::vector<int64_t> out;
  if (!m_State) return out;
  std::lock_guard<std::mutex> g(m_State->latenessLock);
  out.swap(m_State->lateness);
  return out;
}

#include "Common/LateThreads.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using LateList = std::vector<std::unique_ptr<ILateThread>>;

class LateOwner {
 public:
  ~LateOwner() { End(LATE_THREAD_EXIT_WAIT_MS); }

  void Keep(std::unique_ptr<ILateThread> late) {
    if (!late) return;
    if (late->HasEnded()) return;  // freed here, at once
    std::thread finished;
    {
      std::lock_guard<std::mutex> g(m_Lock);
      m_Kept.push_back(std::move(late));
      if (!m_bReaping) {
        // A reaper that has left its loop is joined (outside the lock) and a
        // new one takes over.
        finished = std::move(m_Reaper);
        try {
          m_Reaper = std::thread([this] { Reap(); });
          m_bReaping = true;
        } catch (...) {
          // No thread: the kept ones are freed at the next look or at exit.
        }
      }
    }
    m_Wake.notify_all();
    if (finished.joinable()) finished.join();
  }

  size_t FreeEnded() {
    LateList ended;
    size_t left;
    {
      std::lock_guard<std::mutex> g(m_Lock);
      ended = TakeEnded();
      left = m_Kept.size();
    }
    ended.clear();  // outside the lock
    return left;
  }

  size_t Count() {
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Kept.size();
  }

  size_t End(DWORD limitMs) {
    std::thread reaper;
    {
      std::lock_guard<std::mutex> g(m_Lock);
      m_bStop = true;
      reaper = std::move(m_Reaper);
    }
    m_Wake.notify_all();
    // The reaper only looks and frees what has ended: it leaves its loop
    // at its next look.
    if (reaper.joinable()) reaper.join();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    LateList running;
    for (;;) {
      LateList ended;
      bool done;
      {
        std::lock_guard<std::mutex> g(m_Lock);
        ended = TakeEnded();
        done = m_Kept.empty() || std::chrono::steady_clock::now() >= deadline;
        if (done) running.swap(m_Kept);
      }
      ended.clear();
      if (done) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(LATE_THREAD_POLL_MS));
    }
    {
      std::lock_guard<std::mutex> g(m_Lock);
      m_bStop = false;
      m_bReaping = false;
    }
    const size_t left = running.size();
    for (auto& late : running) {
      late->Abandon();
      // Never freed: its thread may still touch it until the process ends.
      // Kept reachable, so that it is no leak but what is left to that end.
      static auto* abandoned = new std::vector<ILateThread*>;
      abandoned->push_back(late.release());
    }
    return left;
  }

 private:
  // m_Lock held.
  LateList TakeEnded() {
    auto late = std::stable_partition(m_Kept.begin(), m_Kept.end(),
                                      [](const std::unique_ptr<ILateThread>& t) { return t->HasEnded(); });
    LateList ended;
    std::move(m_Kept.begin(), late, std::back_inserter(ended));
    m_Kept.erase(m_Kept.begin(), late);
    return ended;
  }

  void Reap() {
    std::unique_lock<std::mutex> lock(m_Lock);
    for (;;) {
      LateList ended = TakeEnded();
      if (!ended.empty()) {
        lock.unlock();
        ended.clear();
        lock.lock();
        continue;
      }
      if (m_Kept.empty() || m_bStop) {
        m_bReaping = false;
        return;
      }
      m_Wake.wait_for(lock, std::chrono::milliseconds(LATE_THREAD_POLL_MS));
    }
  }

  std::mutex m_Lock;
  std::condition_variable m_Wake;
  LateList m_Kept;
  std::thread m_Reaper;
  bool m_bReaping = false;
  bool m_bStop = false;
};

LateOwner& Owner() {
  // Ended at the process's exit like at the program's: bounded, and what
  // still runs then is left to it.
  static LateOwner owner;
  return owner;
}

}  // namespace

void KeepLateThread(std::unique_ptr<ILateThread> late) { Owner().Keep(std::move(late)); }

size_t FreeEndedLateThreads() { return Owner().FreeEnded(); }

size_t LateThreadCount() { return Owner().Count(); }

size_t EndLateThreads(DWORD limitMs) { return Owner().End(limitMs); }

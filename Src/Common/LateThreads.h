// The one owner of worker threads that their own owner stopped waiting for:
// a recording thread whose writer is stuck past both waits of its end, the
// live monitor's request thread held by a request stuck in the device
// library. Each is handed over with everything it still uses; the owner
// frees it once its thread has ended (its function has returned), on a
// reaper thread of its own that looks every LATE_THREAD_POLL_MS. At the
// program's exit EndLateThreads waits, bounded, for the rest: what has
// ended is freed, and what still runs then has its files removed and is
// left to the process's end (freeing an object under its running thread
// would corrupt memory).
#pragma once

#include <cstddef>
#include <memory>

#include "Platform/Types.h"

// How often the reaper looks at the kept threads.
constexpr DWORD LATE_THREAD_POLL_MS = 20;
// How long the program's exit waits for kept threads still running.
constexpr DWORD LATE_THREAD_EXIT_WAIT_MS = 10000;

class ILateThread {
 public:
  // Frees what the thread used, after it has ended; also runs whatever is
  // to be done once it has let go (removing its files).
  virtual ~ILateThread() = default;
  // The thread's function has returned: nothing of it runs any more.
  virtual bool HasEnded() const = 0;
  // The program exits while the thread still runs: what it leaves on disk
  // goes now (the process's end lets go of it). The object is not freed.
  virtual void Abandon() {}
};

// Takes `late` over; freed once it has ended (at once when it has already).
void KeepLateThread(std::unique_ptr<ILateThread> late);
// Frees the kept threads that have ended; how many are still kept.
size_t FreeEndedLateThreads();
// How many are kept (ended or not).
size_t LateThreadCount();
// The program's exit: waits at most `limitMs` for the kept threads to end,
// frees those that have, abandons the rest and ends the reaper. How many
// are left running. Later handovers are kept again as before.
size_t EndLateThreads(DWORD limitMs = LATE_THREAD_EXIT_WAIT_MS);

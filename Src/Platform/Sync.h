// Events and mutexes: in-process events and mutexes, and named mutexes that
// exclude each other across processes.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "Types.h"

// Auto- or manual-reset event with timed waits.
class FOTAVI_PLATFORM_API CEvent {
 public:
  explicit CEvent(bool manualReset = false, bool initialState = false);
  ~CEvent();
  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;
  void Set();
  void Reset();
  // WAIT_OBJECT_0 when signalled, WAIT_TIMEOUT otherwise. An auto-reset event
  // is reset by the wait that takes it.
  DWORD Wait(DWORD timeoutMs = INFINITE);
  bool IsSet() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// In-process mutex, recursive like a critical section.
class FOTAVI_PLATFORM_API CCriticalSection {
 public:
  void Lock() { m_.lock(); }
  void Unlock() { m_.unlock(); }
  bool TryLock() { return m_.try_lock(); }
  void lock() { m_.lock(); }
  void unlock() { m_.unlock(); }

 private:
  std::recursive_mutex m_;
};

// A named mutex shared between processes. A name with the prefix "Global\"
// is machine-wide; any other name is private to the user. The mutex exists as
// long as some handle to it is open in some process; a process that dies
// releases its handles and its ownership.
class FOTAVI_PLATFORM_API CNamedMutex {
 public:
  enum class Outcome {
    Created,        // no handle to it existed
    AlreadyExists,  // a handle existed (in this or another process); this one is valid too
    AccessDenied,   // it exists and belongs to another user; no handle is made
    Failed,         // the name or the lock folder cannot be used; no handle is made
  };

  // Makes a handle to the named mutex. `outcome` tells what was found; the
  // result is NULL for AccessDenied and Failed. When `initialOwner` is true and
  // the mutex was created, the caller owns it.
  static std::unique_ptr<CNamedMutex> Create(const std::string& name, bool initialOwner, Outcome* outcome);

  ~CNamedMutex();  // releases ownership held by this handle and closes it
  CNamedMutex(const CNamedMutex&) = delete;
  CNamedMutex& operator=(const CNamedMutex&) = delete;

  // Waits at most `timeoutMs` for ownership. WAIT_OBJECT_0 or WAIT_TIMEOUT.
  DWORD Wait(DWORD timeoutMs);
  // Gives up ownership taken by Wait. FALSE when this handle does not own it.
  BOOL Release();
  const std::string& name() const { return name_; }

 private:
  CNamedMutex() = default;
  std::string name_;
  int handleFd_ = -1;
  int ownerFd_ = -1;
  std::string ownerPath_;
  std::mutex m_;
};

// Folder that holds the lock files of named mutexes: machine-wide ("Global\")
// or per user. Overridable with FOTAVI_MUTEX_ROOT (tests).
FOTAVI_PLATFORM_API std::string NamedMutexFolder(bool global);

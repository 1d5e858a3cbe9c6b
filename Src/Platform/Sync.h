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
// long as the handle that created it is open; a process that dies releases
// its handles and its ownership.
//
// Machine-wide mutexes need no folder: they are Linux abstract-namespace
// Unix sockets, which no user can remove or pre-create with other rights,
// which vanish with the process that holds them, and whose holder's user the
// kernel reports (SO_PEERCRED), so "held by me" and "held by another user"
// are told apart. Mutexes private to the user are lock files in a folder
// only the user can write to ($XDG_RUNTIME_DIR/fotavi-mutex, else
// ~/.cache/fotavi/mutex; never a shared folder). No step waits without a
// limit.
class FOTAVI_PLATFORM_API CNamedMutex {
 public:
  enum class Outcome {
    Created,        // no handle to it existed
    AlreadyExists,  // it exists and belongs to this user; this handle is valid too
    AccessDenied,   // it exists and another user holds it (or its holder
                    // cannot be shown to be this user); no handle is made
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
  bool global_ = false;
  int existFd_ = -1;       // machine-wide: the creating handle's listening socket
  std::string ownerName_;  // machine-wide: abstract address of the ownership
  int handleFd_ = -1;      // private: shared lock on the handle file
  std::string ownerPath_;  // private: the ownership lock file
  int ownerFd_ = -1;       // the owning socket or lock file, -1 when not owned
  std::mutex m_;
};

// Folder of the lock files of the user's private named mutexes:
// $FOTAVI_MUTEX_ROOT/user-<uid> (tests), else $XDG_RUNTIME_DIR/fotavi-mutex,
// else ~/.cache/fotavi/mutex. $FOTAVI_MUTEX_ROOT also gives the machine-wide
// names a scope of their own, so that tests running at once never meet.
FOTAVI_PLATFORM_API std::string NamedMutexFolder();

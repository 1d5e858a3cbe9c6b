#include "Sync.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <thread>

#include "Paths.h"

// ------------------------------------------------------------------ CEvent

struct CEvent::Impl {
  std::mutex m;
  std::condition_variable cv;
  bool manual = false;
  bool signalled = false;
};

CEvent::CEvent(bool manualReset, bool initialState) : impl_(std::make_unique<Impl>()) {
  impl_->manual = manualReset;
  impl_->signalled = initialState;
}

CEvent::~CEvent() = default;

void CEvent::Set() {
  // Notify under the lock: a waiter may delete the event as soon as its wait
  // returns, which it cannot do before this lock is released.
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->signalled = true;
  if (impl_->manual) {
    impl_->cv.notify_all();
  } else {
    impl_->cv.notify_one();
  }
}

void CEvent::Reset() {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->signalled = false;
}

DWORD CEvent::Wait(DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(impl_->m);
  auto ready = [&] { return impl_->signalled; };
  if (timeoutMs == INFINITE) {
    impl_->cv.wait(lock, ready);
  } else if (!impl_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return WAIT_TIMEOUT;
  }
  if (!impl_->manual) impl_->signalled = false;
  return WAIT_OBJECT_0;
}

bool CEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->signalled;
}

// -------------------------------------------------------------- CNamedMutex
//
// Each named mutex is a set of lock files in the mutex folder:
//   <name>.guard   serialises the check-and-open of handles
//   <name>.handle  every open handle holds a shared flock on it; an exclusive
//                  try-lock that fails therefore means "a handle exists"
//   <name>.owner   ownership: an exclusive flock on it
// flock locks belong to the open file, so they vanish with a process that
// dies, and two handles in one process exclude each other as well.

namespace {

bool ensurePrivateFolder(const std::string& path, bool shared) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (!MakeFolders(path, shared ? 01777 : 0700)) return false;
    if (shared) chmod(path.c_str(), 01777);
    if (lstat(path.c_str(), &st) != 0) return false;
  }
  if (!S_ISDIR(st.st_mode)) return false;
  if (!shared && st.st_uid != geteuid()) return false;
  return true;
}

std::string escapeName(const std::string& name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

int openLockFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  return fd;
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

std::string NamedMutexFolder(bool global) {
  const char* root = std::getenv("FOTAVI_MUTEX_ROOT");
  std::string uid = std::to_string(geteuid());
  if (root && *root) return std::string(root) + (global ? "/global" : "/user-" + uid);
  if (global) return "/tmp/.fotavi-mutex";
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/fotavi-mutex";
  return "/tmp/.fotavi-mutex-" + uid;
}

std::unique_ptr<CNamedMutex> CNamedMutex::Create(const std::string& name, bool initialOwner, Outcome* outcome) {
  Outcome dummy;
  if (!outcome) outcome = &dummy;
  *outcome = Outcome::Failed;
  std::string base = name;
  bool global = false;
  if (startsWith(base, "Global\\")) {
    global = true;
    base = base.substr(7);
  } else if (startsWith(base, "Local\\")) {
    base = base.substr(6);
  }
  if (base.empty()) return nullptr;
  std::string folder = NamedMutexFolder(global);
  if (!ensurePrivateFolder(folder, global)) return nullptr;
  std::string stem = folder + "/" + escapeName(base);

  int guard = openLockFile(stem + ".guard");
  if (guard < 0) return nullptr;
  while (flock(guard, LOCK_EX) != 0 && errno == EINTR) {
  }

  std::unique_ptr<CNamedMutex> result;
  int handleFd = openLockFile(stem + ".handle");
  if (handleFd >= 0) {
    struct stat st;
    fstat(handleFd, &st);
    bool exists = false;
    int probe = open((stem + ".handle").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (probe >= 0) {
      if (flock(probe, LOCK_EX | LOCK_NB) != 0) exists = (errno == EWOULDBLOCK);
      close(probe);
    }
    if (exists && st.st_uid != geteuid()) {
      *outcome = Outcome::AccessDenied;
      close(handleFd);
    } else if (flock(handleFd, LOCK_SH) != 0) {
      close(handleFd);
    } else {
      result.reset(new CNamedMutex);
      result->name_ = name;
      result->handleFd_ = handleFd;
      result->ownerPath_ = stem + ".owner";
      *outcome = exists ? Outcome::AlreadyExists : Outcome::Created;
    }
  }
  flock(guard, LOCK_UN);
  close(guard);

  if (result && initialOwner && *outcome == Outcome::Created) result->Wait(0);
  SetLastError(*outcome == Outcome::AlreadyExists  ? ERROR_ALREADY_EXISTS
               : *outcome == Outcome::AccessDenied ? ERROR_ACCESS_DENIED
               : *outcome == Outcome::Failed       ? ERROR_GEN_FAILURE
                                                   : ERROR_SUCCESS);
  return result;
}

CNamedMutex::~CNamedMutex() {
  if (ownerFd_ >= 0) {
    flock(ownerFd_, LOCK_UN);
    close(ownerFd_);
  }
  if (handleFd_ >= 0) {
    flock(handleFd_, LOCK_UN);
    close(handleFd_);
  }
}

DWORD CNamedMutex::Wait(DWORD timeoutMs) {
  std::lock_guard<std::mutex> lock(m_);
  if (ownerFd_ >= 0) return WAIT_OBJECT_0;  // already owned through this handle
  int fd = openLockFile(ownerPath_);
  if (fd < 0) return WAIT_FAILED;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int pause = 1;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      ownerFd_ = fd;
      return WAIT_OBJECT_0;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (timeoutMs != INFINITE && std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    if (pause < 8) pause *= 2;
  }
  close(fd);
  return WAIT_TIMEOUT;
}

BOOL CNamedMutex::Release() {
  std::lock_guard<std::mutex> lock(m_);
  if (ownerFd_ < 0) return FALSE;
  flock(ownerFd_, LOCK_UN);
  close(ownerFd_);
  ownerFd_ = -1;
  return TRUE;
}

#include "Sync.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

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
// Machine-wide names ("Global\") are two abstract-namespace Unix sockets:
//   "fotavi-mutex/<scope>/e/<name>"  bound and listening by the handle that
//       created the mutex: the address in use means "the mutex exists"; a
//       connection to it tells the holder's user (SO_PEERCRED)
//   "fotavi-mutex/<scope>/o/<name>"  bound by the handle that owns it (Wait)
// An abstract address belongs to no folder, cannot be made with other rights
// by anyone, and is freed by the kernel when its socket closes, so also when
// its process dies. A small service thread accepts (and closes at once) the
// connections that tell callers who holds a mutex, so they never pile up.
//
// Names private to the user are lock files in the user's own folder:
//   <name>.guard   serialises the check-and-open of handles
//   <name>.handle  every open handle holds a shared flock on it; an exclusive
//                  try-lock that fails therefore means "a handle exists"
//   <name>.owner   ownership: an exclusive flock on it
// flock locks belong to the open file, so they vanish with a process that
// dies, and two handles in one process exclude each other as well.

namespace {

constexpr DWORD kGuardWaitMs = 5000;     // the private guard lock, held only for a check-and-open
// How long a machine-wide name whose holder cannot be asked yet (bound, not
// listening: another process of this user may be between the two calls on a
// loaded machine) is tried again before it counts as held by another user.
constexpr DWORD kProbeLimitMs = 1500;

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

uint64_t fnv1a(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string hex64(uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

// ---- machine-wide names: abstract sockets

std::string abstractName(char kind, const std::string& name) {
  const char* root = std::getenv("FOTAVI_MUTEX_ROOT");
  std::string scope = root && *root ? hex64(fnv1a(root)) : std::string("machine");
  std::string prefix = "fotavi-mutex/" + scope + "/" + kind + "/";
  sockaddr_un addr;
  const size_t room = sizeof addr.sun_path - 1;  // behind the leading zero byte
  if (prefix.size() + name.size() > room) return prefix + "#" + hex64(fnv1a(name));
  return prefix + name;
}

socklen_t fillAbstract(const std::string& name, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::memcpy(addr->sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

// A socket bound to the abstract address, or -1 with errno (EADDRINUSE: the
// address is taken).
int bindAbstract(const std::string& name) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_un addr;
  socklen_t len = fillAbstract(name, &addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

enum class Holder { Mine, Foreign, Unknown, Gone };

// Who listens on the address: this user, another user, someone who cannot be
// reached (bound without listening, or too busy), or nobody any more.
Holder probeHolder(const std::string& name) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Holder::Unknown;
  sockaddr_un addr;
  socklen_t len = fillAbstract(name, &addr);
  Holder result = Holder::Unknown;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) {
    ucred cred{};
    socklen_t credLen = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &credLen) == 0) {
      result = cred.uid == geteuid() ? Holder::Mine : Holder::Foreign;
    }
  } else if (errno == ECONNREFUSED) {
    // Nobody listens: the holder is between bind and listen, has just gone,
    // or is a socket that only sits on the name.
    result = Holder::Gone;
  }
  close(fd);
  return result;
}

// Accepts and closes the connections that probe this process's machine-wide
// mutexes, so that a holder's queue never fills up. Listeners are watched
// through epoll under ids; a listener leaves the set under the lock before
// its socket is closed, and the thread touches a listener only under that
// lock, so it never accepts on a descriptor that was closed and reused.
class CProbeService {
 public:
  static CProbeService& Get() {
    static std::once_flag once;
    std::call_once(once, [] {
      // A child made by fork has none of the parent's threads: it starts a
      // service of its own (and a fresh lock, which a parent thread may have
      // held at the fork).
      pthread_atfork(nullptr, nullptr, [] {
        instanceLock() = new std::mutex;
        instance() = nullptr;
      });
    });
    std::lock_guard<std::mutex> lock(*instanceLock());
    if (instance() == nullptr) instance() = new CProbeService;  // never destroyed: the thread outlives statics
    return *instance();
  }

  bool Add(int fd) {
    std::lock_guard<std::mutex> lock(m_);
    if (!Start()) return false;
    const uint64_t id = ++nextId_;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = id;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) return false;
    fds_[id] = fd;
    return true;
  }

  // After it returns the service no longer looks at `fd`: the caller may
  // close it.
  void Remove(int fd) {
    std::lock_guard<std::mutex> lock(m_);
    for (auto it = fds_.begin(); it != fds_.end(); ++it) {
      if (it->second != fd) continue;
      epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
      fds_.erase(it);
      return;
    }
  }

 private:
  static CProbeService*& instance() {
    static CProbeService* p = nullptr;
    return p;
  }
  static std::mutex*& instanceLock() {
    static std::mutex* m = new std::mutex;
    return m;
  }

  bool Start() {
    if (started_) return true;
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) return false;
    try {
      std::thread([this] { Run(); }).detach();
    } catch (...) {
      close(epoll_);
      epoll_ = -1;
      return false;
    }
    started_ = true;
    return true;
  }

  void Run() {
    epoll_event events[16];
    for (;;) {
      const int n = epoll_wait(epoll_, events, 16, -1);
      for (int i = 0; i < n; ++i) {
        std::lock_guard<std::mutex> lock(m_);
        auto it = fds_.find(events[i].data.u64);
        if (it == fds_.end()) continue;  // removed meanwhile
        int c;
        while ((c = accept4(it->second, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) close(c);
      }
    }
  }

  std::mutex m_;
  std::map<uint64_t, int> fds_;
  uint64_t nextId_ = 0;
  int epoll_ = -1;
  bool started_ = false;
};

// ---- names private to the user: lock files

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

// The user's own lock folder: made 0700 when missing; a folder that is not
// the user's, or that others can write to, is never used.
bool ensurePrivateFolder(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 && !MakeFolders(path, 0700)) return false;
  return IsTrustedFolder(path);
}

int openLockFile(const std::string& path) {
  return open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// flock with a time limit: LOCK_EX or LOCK_SH tried without blocking.
bool lockWithin(int fd, int operation, DWORD timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int pause = 1;
  for (;;) {
    if (flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (timeoutMs != INFINITE && std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    if (pause < 8) pause *= 2;
  }
}

}  // namespace

std::string NamedMutexFolder() {
  const char* root = std::getenv("FOTAVI_MUTEX_ROOT");
  std::string uid = std::to_string(geteuid());
  if (root && *root) return std::string(root) + "/user-" + uid;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/fotavi-mutex";
  const char* home = std::getenv("HOME");
  std::string homeDir = home && *home ? home : "";
  if (homeDir.empty()) {
    if (passwd* pw = getpwuid(geteuid())) homeDir = pw->pw_dir;
  }
  return homeDir.empty() ? std::string() : homeDir + "/.cache/fotavi/mutex";
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
  std::unique_ptr<CNamedMutex> result;
  if (base.empty()) {
    // nothing to name
  } else if (global) {
    const std::string existName = abstractName('e', base);
    bool busy = false;  // the name was taken but its holder could not be asked
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kProbeLimitMs);
    int pause = 1;
    while (*outcome == Outcome::Failed) {
      int fd = bindAbstract(existName);
      if (fd >= 0) {
        if (listen(fd, SOMAXCONN) != 0 || !CProbeService::Get().Add(fd)) {
          close(fd);
          break;
        }
        result.reset(new CNamedMutex);
        result->existFd_ = fd;
        *outcome = Outcome::Created;
        break;
      }
      if (errno != EADDRINUSE) {
        busy = false;
        break;
      }
      busy = true;
      switch (probeHolder(existName)) {
        case Holder::Mine:
          result.reset(new CNamedMutex);
          *outcome = Outcome::AlreadyExists;
          break;
        case Holder::Foreign:
          *outcome = Outcome::AccessDenied;
          break;
        case Holder::Gone:
        case Holder::Unknown:
          // Try again: the name may be free now, or its holder about to listen.
          if (std::chrono::steady_clock::now() >= deadline) break;
          std::this_thread::sleep_for(std::chrono::milliseconds(pause));
          if (pause < 8) pause *= 2;
          continue;
      }
      if (*outcome == Outcome::Failed) break;  // the time for asking is over
    }
    // Held all along by a socket that nobody can show to be this user's.
    if (*outcome == Outcome::Failed && busy) *outcome = Outcome::AccessDenied;
    if (result) {
      result->global_ = true;
      result->ownerName_ = abstractName('o', base);
    }
  } else {
    std::string folder = NamedMutexFolder();
    if (ensurePrivateFolder(folder)) {
      std::string stem = folder + "/" + escapeName(base);
      int guard = openLockFile(stem + ".guard");
      if (guard >= 0 && lockWithin(guard, LOCK_EX, kGuardWaitMs)) {
        int handleFd = openLockFile(stem + ".handle");
        if (handleFd >= 0) {
          bool exists = false;
          int probe = open((stem + ".handle").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
          if (probe >= 0) {
            if (flock(probe, LOCK_EX | LOCK_NB) != 0) exists = (errno == EWOULDBLOCK);
            close(probe);
          }
          if (flock(handleFd, LOCK_SH | LOCK_NB) != 0) {
            close(handleFd);
          } else {
            result.reset(new CNamedMutex);
            result->handleFd_ = handleFd;
            result->ownerPath_ = stem + ".owner";
            *outcome = exists ? Outcome::AlreadyExists : Outcome::Created;
          }
        }
        flock(guard, LOCK_UN);
      }
      if (guard >= 0) close(guard);
    }
  }
  if (result) result->name_ = name;

  if (result && initialOwner && *outcome == Outcome::Created) result->Wait(0);
  SetLastError(*outcome == Outcome::AlreadyExists  ? ERROR_ALREADY_EXISTS
               : *outcome == Outcome::AccessDenied ? ERROR_ACCESS_DENIED
               : *outcome == Outcome::Failed       ? ERROR_GEN_FAILURE
                                                   : ERROR_SUCCESS);
  return result;
}

CNamedMutex::~CNamedMutex() {
  if (ownerFd_ >= 0) {
    if (!global_) flock(ownerFd_, LOCK_UN);
    close(ownerFd_);
  }
  if (existFd_ >= 0) {
    CProbeService::Get().Remove(existFd_);
    close(existFd_);
  }
  if (handleFd_ >= 0) {
    flock(handleFd_, LOCK_UN);
    close(handleFd_);
  }
}

DWORD CNamedMutex::Wait(DWORD timeoutMs) {
  std::lock_guard<std::mutex> lock(m_);
  if (ownerFd_ >= 0) return WAIT_OBJECT_0;  // already owned through this handle
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int pause = 1;
  int fd = global_ ? -1 : openLockFile(ownerPath_);
  if (!global_ && fd < 0) return WAIT_FAILED;
  for (;;) {
    if (global_) {
      fd = bindAbstract(ownerName_);
      if (fd >= 0) {
        ownerFd_ = fd;
        return WAIT_OBJECT_0;
      }
      if (errno != EADDRINUSE) return WAIT_FAILED;
    } else {
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        ownerFd_ = fd;
        return WAIT_OBJECT_0;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) break;
    }
    if (timeoutMs != INFINITE && std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    if (pause < 8) pause *= 2;
  }
  if (fd >= 0) close(fd);
  return WAIT_TIMEOUT;
}

BOOL CNamedMutex::Release() {
  std::lock_guard<std::mutex> lock(m_);
  if (ownerFd_ < 0) return FALSE;
  if (!global_) flock(ownerFd_, LOCK_UN);
  close(ownerFd_);
  ownerFd_ = -1;
  return TRUE;
}

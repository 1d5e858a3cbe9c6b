#include "DeviceInterface.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <map>
#include <mutex>
#include <thread>

#include "Messages.h"
#include "Paths.h"
#include "Time.h"

namespace {

bool isSocket(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// How long a connect waits for a camera whose queue of pending connections
// is full (a camera that hangs with its sockets open): a blocking connect
// would wait for ever.
constexpr DWORD kConnectWaitMs = 1000;

// A connected SOCK_SEQPACKET socket (blocking), or -1 with errno. `busy` is
// set when the camera listens but took no connection within `waitMs`.
int connectSeqPacket(const std::string& path, DWORD waitMs = kConnectWaitMs, bool* busy = nullptr) {
  if (busy) *busy = false;
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const DWORD start = GetTickCount();
  for (;;) {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    // Packets of up to several hundred KiB must fit in one datagram.
    int size = 4 * 1024 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    // Not blocking: a Unix socket whose listener's queue is full answers
    // EAGAIN at once instead of waiting until the listener accepts.
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    const int e = errno;
    close(fd);
    if (e != EAGAIN || GetTickCount() - start >= waitMs) {
      if (busy) *busy = e == EAGAIN;
      errno = e;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

std::string DeviceRootFolder() {
  const char* root = std::getenv("FOTAVI_DEVICE_ROOT");
  if (root && *root) return root;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/fotavi-devices";
  return "/tmp/fotavi-devices-" + std::to_string(geteuid());
}

std::string DeviceClassFolder(const std::string& classGuid) { return DeviceRootFolder() + "/" + classGuid; }

std::string DeviceRootRefusal(const std::string& classGuid) {
  // Members are trusted with the user's pictures and files, so the folders
  // they live in must be the user's own: a root that another user made (or
  // can write to) would let that user's camera stand in for the user's.
  struct stat st;
  for (const std::string& folder : {DeviceRootFolder(), DeviceClassFolder(classGuid)}) {
    if (lstat(folder.c_str(), &st) != 0 && errno == ENOENT) return {};  // nothing arrived yet
    std::string why;
    if (!IsTrustedFolder(folder, &why)) return "device folder " + folder + " refused: " + why;
  }
  return {};
}

std::unique_ptr<CDeviceInfoSet> CDeviceInfoSet::GetPresent(const std::string& classGuid, std::string* refusal) {
  if (refusal) refusal->clear();
  std::string problem = DeviceRootRefusal(classGuid);
  if (!problem.empty()) {
    if (refusal) *refusal = problem;
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  std::unique_ptr<CDeviceInfoSet> set(new CDeviceInfoSet);
  std::string folder = DeviceClassFolder(classGuid);
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    if (errno == ENOENT) return set;  // no member ever arrived
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::string path = folder + "/" + e->d_name;
    if (!isSocket(path + "/" + DEVICE_PIPE_SOCKET) || !isSocket(path + "/" + DEVICE_CONTROL_SOCKET)) continue;
    // A folder left behind by a camera that died has sockets nobody listens
    // on: it is not a present member.
    // One whose camera listens but takes no connection (it hangs) is there.
    bool busy = false;
    int probe = connectSeqPacket(path + "/" + DEVICE_CONTROL_SOCKET, 0, &busy);
    if (probe < 0 && !busy) continue;
    if (probe >= 0) close(probe);
    names.push_back(e->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (auto& n : names) set->paths_.push_back(folder + "/" + n);
  return set;
}

DWORD CDeviceInfoSet::EnumMember(DWORD index, std::string* devicePath) const {
  if (index >= paths_.size()) return ERROR_NO_MORE_ITEMS;
  *devicePath = paths_[index];
  return ERROR_SUCCESS;
}

CHeldMember::CHeldMember(const std::string& path) {
  fd_ = open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd_ >= 0 && fstat(fd_, &st) != 0) {
    close(fd_);
    fd_ = -1;
  }
  if (fd_ >= 0) id_ = DeviceMemberId{st.st_dev, st.st_ino};
}

CHeldMember::~CHeldMember() {
  if (fd_ >= 0) close(fd_);
}

CHeldMember::CHeldMember(const CHeldMember& o) : CHeldMember(o.fd_, o.id_) {}

CHeldMember& CHeldMember::operator=(const CHeldMember& o) {
  if (this == &o) return *this;
  CHeldMember copy(o);
  std::swap(fd_, copy.fd_);
  std::swap(id_, copy.id_);
  return *this;
}

bool CHeldMember::NamedBy(const std::string& path) const {
  struct stat st;
  return fd_ >= 0 && lstat(path.c_str(), &st) == 0 && DeviceMemberId{st.st_dev, st.st_ino} == id_;
}

CHeldMember::CHeldMember(int fd, DeviceMemberId id) : fd_(fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1) {
  if (fd_ >= 0) id_ = id;
}

CHeldMember CDeviceHandle::HoldMember() const {
  return CHeldMember(memberFd_, DeviceMemberId{memberDev_, memberIno_});
}

std::unique_ptr<CDeviceHandle> CDeviceHandle::Open(const std::string& pipePath) {
  auto slash = pipePath.rfind('/');
  if (slash == std::string::npos || slash == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  std::unique_ptr<CDeviceHandle> h(new CDeviceHandle);
  h->pipePath_ = pipePath;
  h->memberPath_ = pipePath.substr(0, slash);
  h->controlPath_ = h->memberPath_ + "/" + DEVICE_CONTROL_SOCKET;
  // The folder is held first, so the sockets found next are the ones in it.
  // Held open, its inode cannot be handed to a later folder of the same
  // name, so a camera put back is never taken for the one that went.
  h->memberFd_ = open(h->memberPath_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat held;
  if (h->memberFd_ < 0 || fstat(h->memberFd_, &held) != 0 || !isSocket(pipePath)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  h->memberDev_ = held.st_dev;
  h->memberIno_ = held.st_ino;
  h->controlFd_ = connectSeqPacket(h->controlPath_);
  if (h->controlFd_ < 0) {
    SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (h->MemberRemoved(true)) {  // it went while we connected
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  h->cancelFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return h;
}

CDeviceHandle::~CDeviceHandle() {
  if (pipeFd_ >= 0) close(pipeFd_);
  if (controlFd_ >= 0) close(controlFd_);
  if (cancelFd_ >= 0) close(cancelFd_);
  if (memberFd_ >= 0) close(memberFd_);
}

bool CDeviceHandle::MemberRemoved(bool lookAtName) {
  if (removed_.load()) return true;
  // A removed folder has no links left: the held descriptor tells that
  // without walking the path. This runs at the start of every transfer
  // (dozens a frame while a camera streams, one for each device-log line).
  struct stat held;
  if (fstat(memberFd_, &held) != 0 || held.st_nlink == 0) {
    removed_.store(true);
    return true;
  }
  // A folder moved away keeps its links, and another may have been made
  // under its name: the name must still lead to the folder the handle was
  // opened in (held open, its inode is not reused). That is looked at on
  // request and otherwise at most once every kRemovalCheckMs.
  const DWORD now = GetTickCount();
  if (!lookAtName && now - lastNameCheck_.load() < kRemovalCheckMs) return false;
  lastNameCheck_.store(now);
  struct stat named;
  if (stat(memberPath_.c_str(), &named) != 0 || named.st_dev != memberDev_ || named.st_ino != memberIno_) {
    removed_.store(true);
  }
  return removed_.load();
}

DeviceIoResult CDeviceHandle::WaitReady(int fd, short events, DWORD timeoutMs, short* revents) {
  pollfd fds[2] = {{fd, static_cast<short>(events | POLLRDHUP), 0}, {cancelFd_, POLLIN, 0}};
  const DWORD start = GetTickCount();
  // The transfer looked at the folder as it began (ConnectPipe,
  // ConnectControl); the wait goes in slices, each followed by another look.
  for (bool first = true;; first = false) {
    if (!first && MemberRemoved(true)) {
      SetLastError(ERROR_DEVICE_NOT_CONNECTED);
      return DeviceIoResult::Failed;
    }
    DWORD slice = kRemovalCheckMs;
    bool last = false;
    if (timeoutMs != INFINITE) {
      const DWORD elapsed = GetTickCount() - start;
      const DWORD left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
      last = left <= slice;
      slice = std::min(slice, left);
    }
    int n = poll(fds, cancelFd_ >= 0 ? 2 : 1, static_cast<int>(slice));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return DeviceIoResult::Failed;
    if (n == 0) {
      if (last) return DeviceIoResult::Timeout;
      continue;
    }
    if (cancelFd_ >= 0 && (fds[1].revents & POLLIN)) {
      uint64_t v;
      (void)!read(cancelFd_, &v, sizeof v);
      SetLastError(ERROR_OPERATION_ABORTED);
      return DeviceIoResult::Failed;
    }
    *revents = fds[0].revents;
    return DeviceIoResult::Ok;
  }
}

bool CDeviceHandle::ConnectPipe() {
  if (MemberRemoved()) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return false;
  }
  std::lock_guard<std::mutex> lock(pipeLock_);
  if (dropPipe_.exchange(false) && pipeFd_ >= 0) {
    // The camera drops what it still had to send on this connection; what
    // already arrived goes with the socket.
    close(pipeFd_);
    pipeFd_ = -1;
  }
  if (pipeFd_ >= 0) return true;
  pipeFd_ = ConnectInMember(pipePath_);
  if (pipeFd_ < 0) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return false;
  }
  return true;
}

int CDeviceHandle::ConnectInMember(const std::string& path) {
  // The socket is reached by its path, and the start's look at the folder's
  // name may be up to kRemovalCheckMs old: the name is looked at once the
  // connection stands, so one made to a folder that took the old one's name
  // is closed before anything is sent on it.
  int fd = connectSeqPacket(path);
  if (fd >= 0 && MemberRemoved(true)) {
    close(fd);
    fd = -1;
  }
  return fd;
}

namespace {

// A transfer that ran out of time or was abandoned through Cancel(): the
// camera may still answer it, so its connection must not be read again.
bool abandoned(DeviceIoResult r) {
  return r == DeviceIoResult::Timeout || (r == DeviceIoResult::Failed && GetLastError() == ERROR_OPERATION_ABORTED);
}

}  // namespace

void CDeviceHandle::DropPipeIfAbandoned(DeviceIoResult r) {
  // Closed at the next transfer's start, on the thread that makes it, so no
  // other transfer can be using the descriptor when it goes.
  if (abandoned(r)) dropPipe_.store(true);
}

DeviceIoResult CDeviceHandle::Read(void* buffer, DWORD size, DWORD* bytesRead, DWORD timeoutMs) {
  ActiveTransfer active(*this);
  *bytesRead = 0;
  if (!ConnectPipe()) return DeviceIoResult::Failed;
  short revents = 0;
  DeviceIoResult r = WaitReady(pipeFd_, POLLIN, timeoutMs, &revents);
  DropPipeIfAbandoned(r);
  if (r != DeviceIoResult::Ok) return r;
  iovec iov{buffer, size};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  ssize_t n = recvmsg(pipeFd_, &msg, MSG_DONTWAIT);
  if (n < 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return DeviceIoResult::Failed;
  }
  if (msg.msg_flags & MSG_TRUNC) {
    SetLastError(ERROR_MORE_DATA);  // the packet did not fit: the read fails
    return DeviceIoResult::Failed;
  }
  if (n == 0 && (revents & (POLLHUP | POLLRDHUP))) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);  // the camera went away
    return DeviceIoResult::Failed;
  }
  *bytesRead = static_cast<DWORD>(n);
  return DeviceIoResult::Ok;
}

DeviceIoResult CDeviceHandle::Write(const void* data, DWORD size, DWORD* bytesWritten, DWORD timeoutMs) {
  ActiveTransfer active(*this);
  *bytesWritten = 0;
  if (!ConnectPipe()) return DeviceIoResult::Failed;
  short revents = 0;
  DeviceIoResult r = WaitReady(pipeFd_, POLLOUT, timeoutMs, &revents);
  DropPipeIfAbandoned(r);
  if (r != DeviceIoResult::Ok) return r;
  if (revents & (POLLHUP | POLLERR)) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return DeviceIoResult::Failed;
  }
  ssize_t n = send(pipeFd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n < 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return DeviceIoResult::Failed;
  }
  *bytesWritten = static_cast<DWORD>(n);
  return DeviceIoResult::Ok;
}

bool CDeviceHandle::ConnectControl() {
  if (MemberRemoved()) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return false;
  }
  std::lock_guard<std::mutex> lock(controlLock_);
  if (dropControl_.exchange(false) && controlFd_ >= 0) {
    close(controlFd_);
    controlFd_ = ConnectInMember(controlPath_);
  }
  if (controlFd_ < 0) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return false;
  }
  return true;
}

DeviceIoResult CDeviceHandle::IoControl(DWORD code, void* outBuffer, DWORD outSize, DWORD* bytesReturned,
                                        DWORD timeoutMs) {
  ActiveTransfer active(*this);
  *bytesReturned = 0;
  if (!ConnectControl()) return DeviceIoResult::Failed;
  uint8_t request[8];
  std::memcpy(request, &code, 4);
  std::memcpy(request + 4, &outSize, 4);
  if (send(controlFd_, request, sizeof request, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request)) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return DeviceIoResult::Failed;
  }
  short revents = 0;
  DeviceIoResult r = WaitReady(controlFd_, POLLIN, timeoutMs, &revents);
  if (abandoned(r)) dropControl_.store(true);  // made again at the next control
  if (r != DeviceIoResult::Ok) return r;
  // The driver text is asked for with every device-log line, so this runs
  // hundreds of times a second while a camera streams: the reply is taken
  // into a buffer on the stack (not allocated and cleared each time), with
  // room past the caller's size to see a longer one, which is cut. Only the
  // bytes the driver says it returned reach the caller, and nothing at all
  // when it failed.
  constexpr size_t kSlack = 64;
  constexpr size_t kStackReply = 8 + 4096 + kSlack;
  uint8_t onStack[kStackReply];
  std::unique_ptr<uint8_t[]> onHeap;
  const size_t replySize = 8 + static_cast<size_t>(outSize) + kSlack;
  uint8_t* reply = onStack;
  if (replySize > kStackReply) {
    onHeap.reset(new (std::nothrow) uint8_t[replySize]);
    if (!onHeap) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return DeviceIoResult::Failed;
    }
    reply = onHeap.get();
  }
  ssize_t n = recv(controlFd_, reply, replySize, MSG_DONTWAIT);
  if (n < 8) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return DeviceIoResult::Failed;
  }
  uint32_t ok, returned;
  std::memcpy(&ok, reply, 4);
  std::memcpy(&returned, reply + 4, 4);
  if (!ok) {
    SetLastError(ERROR_GEN_FAILURE);
    return DeviceIoResult::Failed;
  }
  const size_t available = static_cast<size_t>(n) - 8;
  const size_t copy = std::min<size_t>({returned, available, outSize});
  if (copy && outBuffer) std::memcpy(outBuffer, reply + 8, copy);
  *bytesReturned = static_cast<DWORD>(copy);
  return DeviceIoResult::Ok;
}

void CDeviceHandle::Cancel() {
  // Only transfers waiting now are abandoned; a later one starts afresh.
  uint64_t one = 1;
  if (cancelFd_ >= 0 && active_.load() > 0) (void)!write(cancelFd_, &one, sizeof one);
}

CDeviceHandle::ActiveTransfer::ActiveTransfer(CDeviceHandle& h) : h_(h) {
  if (h_.active_.fetch_add(1) == 0 && h_.cancelFd_ >= 0) {
    uint64_t v;
    (void)!read(h_.cancelFd_, &v, sizeof v);  // drop a cancel that came after its transfer ended
  }
}

CDeviceHandle::ActiveTransfer::~ActiveTransfer() { h_.active_.fetch_sub(1); }

// ----------------------------------------------------------- device watcher

namespace {

// Control connections the watcher keeps to the present members: a camera
// that dies closes its sockets without removing its folder, which the folder
// watch cannot see; its connection's end can. A member whose folder went is
// gone (its handles fail from then on, and the removal has been announced),
// so its connection is dropped then, however long its sockets stay open.
// Members are known by their folder (held, so its identity stays its own),
// not by their name: a camera removed and put back under the same name
// before a rescan is another member, whose connection replaces the old one
// even when the old one has not been seen to end yet.
class CMemberWatch {
 public:
  ~CMemberWatch() { Clear(); }
  void Clear() {
    for (auto& [name, m] : members_) close(m.fd);
    members_.clear();
  }
  // Connects to members that are new and forgets those that went.
  void Rescan(const std::string& folder) {
    std::map<std::string, CHeldMember> present;
    if (DIR* dir = opendir(folder.c_str())) {
      while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        CHeldMember held(folder + "/" + e->d_name);
        if (held.Held()) present.emplace(e->d_name, held);
      }
      closedir(dir);
    }
    for (auto it = members_.begin(); it != members_.end();) {
      auto now = present.find(it->first);
      if (now == present.end() || !now->second.SameAs(it->second.folder)) {
        close(it->second.fd);
        it = members_.erase(it);
      } else {
        ++it;
      }
    }
    for (auto& [name, held] : present) {
      if (members_.count(name)) continue;
      // A camera that takes no connection now is tried at the next change;
      // so is one whose folder was replaced while we connected (the
      // replacement's arrival is that change).
      const std::string path = folder + "/" + name;
      int fd = connectSeqPacket(path + "/" + DEVICE_CONTROL_SOCKET, 0);
      if (fd < 0) continue;
      if (!held.NamedBy(path)) {
        close(fd);
        continue;
      }
      members_.emplace(name, Member{held, fd});
    }
  }
  void AddTo(std::vector<pollfd>* fds) const {
    for (auto& [name, m] : members_) fds->push_back(pollfd{m.fd, POLLIN | POLLRDHUP, 0});
  }
  // After a poll: a connection with anything to read has ended (nothing is
  // ever asked on it). True when a member died.
  bool CheckEnded(const std::vector<pollfd>& fds, size_t first) {
    bool ended = false;
    for (size_t i = first; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      for (auto it = members_.begin(); it != members_.end(); ++it) {
        if (it->second.fd != fds[i].fd) continue;
        close(it->second.fd);
        members_.erase(it);
        ended = true;
        break;
      }
    }
    return ended;
  }

 private:
  struct Member {
    CHeldMember folder;
    int fd = -1;
  };
  std::map<std::string, Member> members_;
};

// The tests' hold on the watcher (HoldDeviceWatcher).
std::mutex g_holdLock;
std::condition_variable g_holdChanged;
bool g_held = false;

void waitWhileHeld() {
  std::unique_lock<std::mutex> lock(g_holdLock);
  g_holdChanged.wait_for(lock, std::chrono::milliseconds(kDeviceWatcherHoldMs), [] { return !g_held; });
}

void watchLoop() {
  int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) return;
  std::string watched;
  int wd = -1;
  bool first = true;
  CMemberWatch members;
  alignas(inotify_event) char buf[4096];
  for (;;) {
    // The device root can change (tests give each case its own): follow it.
    // A class folder that does not exist yet is waited for, never created,
    // so a folder someone removed is not brought back.
    std::string folder = DeviceClassFolder(FOTAVI_DEVICE_CLASS_GUID);
    if (folder != watched || wd < 0) {
      if (wd >= 0) inotify_rm_watch(fd, wd);
      wd = inotify_add_watch(fd, folder.c_str(),
                             IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF);
      members.Clear();
      if (wd >= 0) members.Rescan(folder);
      // A member may have come or gone while nothing was watched. Announced
      // once the watcher holds its connections, so that a camera which dies
      // right after the announcement is still seen to go.
      if (wd >= 0 && !first) BroadcastSystemMessage(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
      watched = wd >= 0 ? folder : std::string();
      first = false;
    }
    std::vector<pollfd> fds{{fd, POLLIN, 0}};
    members.AddTo(&fds);
    const int ready = poll(fds.data(), fds.size(), wd >= 0 ? 250 : 100);
    // Held, what woke the watcher waits with everything after it.
    waitWhileHeld();
    if (ready <= 0) continue;
    bool changed = members.CheckEnded(fds, 1);
    bool rescan = false;
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
      for (char* ptr = buf; ptr < buf + n;) {
        auto* ev = reinterpret_cast<inotify_event*>(ptr);
        if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
          wd = -1;
          changed = true;
        } else if (ev->len > 0 && ev->name[0] != '.') {
          changed = true;
          rescan = true;
        }
        ptr += sizeof(inotify_event) + ev->len;
      }
    }
    if (rescan && wd >= 0) members.Rescan(folder);
    if (changed) BroadcastSystemMessage(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
  }
}

}  // namespace

void StartDeviceWatcher() {
  static std::once_flag once;
  std::call_once(once, [] { std::thread(watchLoop).detach(); });
}

void HoldDeviceWatcher(bool hold) {
  {
    std::lock_guard<std::mutex> lock(g_holdLock);
    g_held = hold;
  }
  g_holdChanged.notify_all();
}

void InjectPowerEvent(WPARAM event) { BroadcastSystemMessage(WM_POWERBROADCAST, event, 0); }

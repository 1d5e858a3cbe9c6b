#include "Emulator.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>

#include "Platform/DeviceInterface.h"
#include "Protocol.h"

namespace fotavi::emu {

const char* const kCommandHelp =
    "Command channel (stdin with --stdin-commands, or the --command-socket; one line in, one line out:\n"
    "\"ok ...\" or \"error ...\"). CMD is a command code such as 0x808E; N is a count of exchanges\n"
    "(default 1; \"always\" until cleared; 0 clears).\n"
    "  unplug [ORDER [GAP-MS [REPLUG-MS]]]  remove the camera. ORDER folder (the default): the member\n"
    "                            folder goes, then the sockets close GAP-MS later (default 0, at once);\n"
    "                            sockets: the sockets close, then the folder goes GAP-MS later. The\n"
    "                            camera comes back REPLUG-MS after the last step (default: --replug-after)\n"
    "  replug | quit | ping | clear (all faults) | card on|off\n"
    "  delay CMD MS [N]          wait MS before the response to CMD (MS 0 clears)\n"
    "  late CMD MS [N]           like delay, but the answer is still sent after the host gave up\n"
    "                            (a reset or a new command does not stop it; a closed pipe does)\n"
    "  late-control CODE MS [N]  answer the control code CODE MS late (on its connection)\n"
    "  drop CMD [N]              answer nothing to CMD\n"
    "  zero-packet CMD K [N]     send an empty packet as the K-th camera packet of the exchange\n"
    "                            (0 = the response, 1 = the first packet after it); nothing follows it\n"
    "  status CMD VALUE [STAGE] [N]  force a status word; STAGE: response (word 1, frame status for\n"
    "                            0x808E), first (0x104/0x107 first reply), final (0x104-0x107 last\n"
    "                            reply), list (0x8105 list status); default by command\n"
    "  bad-frame [N]             frame data that is not a decodable scan\n"
    "  frame-length-zero [N]     frame response announcing 0 bytes\n"
    "  short-frame [N]           frame response announcing 4096 bytes more than are sent\n"
    "  count CMD                 \"ok REQUESTS LAST-PARAMETER\" for CMD\n";

namespace {

std::string HexField(uint32_t v) { return "\"" + HexCode(v) + "\""; }

bool ParseNumber(const std::string& s, uint64_t* value) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = strtoull(s.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || s[0] == '-') return false;
  *value = v;
  return true;
}

bool ParseCode(const std::string& s, uint16_t* code) {
  uint64_t v;
  if (!ParseNumber(s, &v) || v > 0xFFFF) return false;
  *code = static_cast<uint16_t>(v);
  return true;
}

bool ParseCount(const std::string& s, int* count) {
  if (s == "always") {
    *count = -1;
    return true;
  }
  uint64_t v;
  if (!ParseNumber(s, &v) || v > 1000000) return false;
  *count = static_cast<int>(v);
  return true;
}

bool MakeDirs(const std::string& path, mode_t mode) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  auto slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(path.substr(0, slash), mode)) return false;
  return mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

// A folder the camera may put its sockets in: a real folder (not a link) of
// this user that nobody else can write to. Empty when it is, else why not.
std::string FolderRefusal(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return std::string("it cannot be read: ") + strerror(errno);
  if (!S_ISDIR(st.st_mode)) return S_ISLNK(st.st_mode) ? "it is a symbolic link" : "it is not a folder";
  if (st.st_uid != geteuid()) return "it belongs to user " + std::to_string(st.st_uid);
  if ((st.st_mode & 022) != 0) return "other users can write to it";
  return {};
}

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  if (path.size() >= sizeof(addr->sun_path)) return false;
  memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  memcpy(addr->sun_path, path.c_str(), path.size());
  return true;
}

int ListenSocket(const std::string& path, int type, std::string* error) {
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) {
    *error = "socket path too long: " + path;
    return -1;
  }
  int fd = socket(AF_UNIX, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) {
    *error = "cannot listen on " + path + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

bool SocketIsLive(const std::string& path, int type) {
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) return false;
  int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool live = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return live;
}

// Removes a member folder left behind (its sockets and the folder). Only a
// real folder is emptied, never what a link points to.
void RemoveFolder(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* e = readdir(dir)) {
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) unlink((path + "/" + e->d_name).c_str());
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

int gSignalPipe[2] = {-1, -1};

void OnSignalHandler(int sig) {
  int saved = errno;
  char c = static_cast<char>(sig);
  if (gSignalPipe[1] >= 0) (void)!write(gSignalPipe[1], &c, 1);
  errno = saved;
}

std::vector<std::string> Tokens(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> t;
  std::string w;
  while (in >> w) t.push_back(w);
  return t;
}

}  // namespace

std::string HexCode(uint32_t code) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%X", code);
  return buf;
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string DefaultDeviceRoot() {
  if (const char* r = getenv("FOTAVI_DEVICE_ROOT"); r && *r) return r;
  if (const char* x = getenv("XDG_RUNTIME_DIR"); x && *x) return std::string(x) + "/fotavi-devices";
  return "/tmp/fotavi-devices-" + std::to_string(geteuid());
}

std::string ClassFolder(const std::string& root) { return root + "/" + FOTAVI_DEVICE_CLASS_GUID; }

Emulator::Emulator(EmulatorConfig config) : config_(std::move(config)) {
  startNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                 std::chrono::steady_clock::now().time_since_epoch())
                 .count();
  recvBuf_.resize(1 << 20);
}

Emulator::~Emulator() {
  if (Removing()) FinishRemoval();
  if (plugged_) Unplug("exit");
  for (auto& c : commandConns_) close(c.fd);
  if (commandListen_ >= 0) {
    close(commandListen_);
    unlink(config_.commandSocket.c_str());
  }
  if (log_) fclose(log_);
}

int64_t Emulator::NowMs() const {
  int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::steady_clock::now().time_since_epoch())
                    .count();
  return (now - startNs_) / 1000000;
}

void Emulator::Log(const std::string& fields) {
  if (!log_) return;
  fprintf(log_, "{\"t\":%lld,%s}\n", static_cast<long long>(NowMs()), fields.c_str());
  fflush(log_);
}

std::string Emulator::MemberPath() const { return ClassFolder(root_) + "/" + config_.instance; }

void Emulator::InstallSignalHandlers() {
  if (gSignalPipe[0] < 0 && pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnSignalHandler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) sigaction(sig, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool Emulator::Init(std::string* error) {
  root_ = config_.root.empty() ? DefaultDeviceRoot() : config_.root;
  if (config_.instance.empty() || config_.instance[0] == '.' || config_.instance.find('/') != std::string::npos) {
    *error = "bad instance name: " + config_.instance;
    return false;
  }
  if (config_.packetSize < kMinPacketSize || config_.packetSize > kMaxPacketSize) {
    *error = "packet size must be " + std::to_string(kMinPacketSize) + " to " + std::to_string(kMaxPacketSize);
    return false;
  }
  if (!config_.exchangeLog.empty()) {
    log_ = fopen(config_.exchangeLog.c_str(), "w");
    if (!log_) {
      *error = "cannot write exchange log " + config_.exchangeLog;
      return false;
    }
  }
  if (!config_.cardDir.empty()) {
    struct stat st;
    if (stat(config_.cardDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      *error = "card folder does not exist: " + config_.cardDir;
      return false;
    }
    char* real = realpath(config_.cardDir.c_str(), nullptr);
    card_ = std::make_unique<CardFolder>(real ? real : config_.cardDir);
    free(real);
    cardIn_ = true;
  }
  frames_ = std::make_unique<FrameSource>(config_.pictureDir, config_.ringSize);
  if (!frames_->Start(error)) return false;
  for (const auto& line : config_.faultLines) {
    std::string reply = Execute(line);
    if (reply.rfind("ok", 0) != 0) {
      *error = "fault \"" + line + "\": " + reply;
      return false;
    }
  }
  if (!config_.commandSocket.empty()) {
    struct stat st;
    if (lstat(config_.commandSocket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
      if (SocketIsLive(config_.commandSocket, SOCK_STREAM)) {
        *error = "command socket is in use: " + config_.commandSocket;
        return false;
      }
      unlink(config_.commandSocket.c_str());
    }
    commandListen_ = ListenSocket(config_.commandSocket, SOCK_STREAM, error);
    if (commandListen_ < 0) return false;
  }
  stdinOpen_ = config_.stdinCommands;
  parentPid_ = getppid();
  if (config_.unplugAfterMs >= 0) unplugAtMs_ = config_.unplugAfterMs;
  if (config_.startUnplugged) {
    if (config_.replugAfterMs >= 0) replugAtMs_ = config_.replugAfterMs;
    Log("\"event\":\"unplugged\"");
    return true;
  }
  return Plug(error);
}

bool Emulator::Plug(std::string* error) {
  if (Removing()) {
    *error = "the camera is being removed";
    return false;
  }
  if (plugged_) return true;
  const std::string classDir = ClassFolder(root_);
  struct stat st;
  if (stat(root_.c_str(), &st) != 0 && !MakeDirs(root_, 0700)) {
    *error = "cannot create device root " + root_;
    return false;
  }
  // Another user's folder (or one others can write to) would hand the
  // host's traffic, card files included, to whoever controls it.
  if (std::string why = FolderRefusal(root_); !why.empty()) {
    *error = "device root " + root_ + " refused: " + why;
    return false;
  }
  if (!MakeDirs(classDir, 0700)) {
    *error = "cannot create class folder " + classDir;
    return false;
  }
  if (std::string why = FolderRefusal(classDir); !why.empty()) {
    *error = "class folder " + classDir + " refused: " + why;
    return false;
  }
  const std::string member = MemberPath();
  if (lstat(member.c_str(), &st) == 0) {
    if (SocketIsLive(member + "/" + DEVICE_CONTROL_SOCKET, SOCK_SEQPACKET)) {
      *error = "another camera is present as " + member;
      return false;
    }
    RemoveFolder(member);  // left behind by a camera that did not exit cleanly
  }
  const std::string temp = classDir + "/.tmp-" + config_.instance + "-" + std::to_string(getpid());
  RemoveFolder(temp);
  if (mkdir(temp.c_str(), 0700) != 0) {
    *error = "cannot create " + temp + ": " + strerror(errno);
    return false;
  }
  sockaddr_un probe;
  if (!FillAddress(member + "/" + DEVICE_PIPE_SOCKET, &probe)) {
    RemoveFolder(temp);
    *error = "member path too long for a socket: " + member;
    return false;
  }
  pipeListen_ = ListenSocket(temp + "/" + DEVICE_PIPE_SOCKET, SOCK_SEQPACKET, error);
  if (pipeListen_ >= 0) controlListen_ = ListenSocket(temp + "/" + DEVICE_CONTROL_SOCKET, SOCK_SEQPACKET, error);
  if (controlListen_ < 0 || rename(temp.c_str(), member.c_str()) != 0) {
    if (controlListen_ >= 0) *error = "cannot rename " + temp + " to " + member + ": " + strerror(errno);
    if (pipeListen_ >= 0) close(pipeListen_);
    if (controlListen_ >= 0) close(controlListen_);
    pipeListen_ = controlListen_ = -1;
    RemoveFolder(temp);
    return false;
  }
  plugged_ = folderIn_ = socketsOpen_ = true;
  folderFd_ = open(member.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  ++generation_;
  replugAtMs_ = -1;
  Log("\"event\":\"plug\",\"path\":\"" + JsonEscape(member) + "\"");
  return true;
}

void Emulator::Unplug(const char* why) { Unplug(why, Removal()); }

void Emulator::Unplug(const char* why, const Removal& how) {
  if (!plugged_ || Removing()) return;
  removal_ = how;
  const bool folderFirst = how.order == RemovalOrder::FolderFirst;
  Log(std::string("\"event\":\"unplug\",\"why\":\"") + why + "\",\"order\":\"" +
      (folderFirst ? "folder" : "sockets") + "\",\"gap\":" + std::to_string(how.gapMs));
  // By default the folder goes first, so that nobody finds the camera while
  // it closes.
  if (folderFirst) RemoveMemberFolder();
  else CloseSockets();
  if (how.gapMs > 0) {
    nextStepAtMs_ = NowMs() + how.gapMs;  // the sockets stay served (or the folder stays) until then
    return;
  }
  FinishRemoval();
}

void Emulator::FinishRemoval() {
  nextStepAtMs_ = -1;
  if (folderIn_) RemoveMemberFolder();
  if (socketsOpen_) CloseSockets();
  EndRemoval();
}

void Emulator::RemoveMemberFolder() {
  // After its sockets closed, another camera may have cleaned the folder up
  // and taken the name: that one's folder is not ours to remove.
  struct stat held, there;
  const bool ours = folderFd_ < 0 || (fstat(folderFd_, &held) == 0 && lstat(MemberPath().c_str(), &there) == 0 &&
                                      held.st_dev == there.st_dev && held.st_ino == there.st_ino);
  if (ours) RemoveFolder(MemberPath());
  if (folderFd_ >= 0) close(folderFd_);
  folderFd_ = -1;
  folderIn_ = false;
  Log("\"event\":\"folder-removed\"");
}

void Emulator::CloseSockets() {
  ClosePipe("unplug");
  close(pipeListen_);
  close(controlListen_);
  for (int fd : controlConns_) close(fd);
  controlConns_.clear();
  lateControl_.clear();
  pipeListen_ = controlListen_ = -1;
  socketsOpen_ = false;
  ++generation_;
  Log("\"event\":\"sockets-closed\"");
}

void Emulator::EndRemoval() {
  plugged_ = false;
  Log("\"event\":\"unplugged\"");
  const int64_t replugMs = removal_.replugMs >= 0 ? removal_.replugMs : config_.replugAfterMs;
  if (replugMs >= 0 && !quit_) replugAtMs_ = NowMs() + replugMs;
}

void Emulator::ClosePipe(const char* why) {
  ex_ = Exchange{};
  out_.clear();
  if (pipeConn_ < 0) return;
  close(pipeConn_);
  pipeConn_ = -1;
  ++generation_;
  Log(std::string("\"event\":\"pipe-closed\",\"why\":\"") + why + "\"");
}

void Emulator::AcceptPipe() {
  int fd = accept4(pipeListen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  if (pipeConn_ >= 0) {
    // A host that closed its connection and opened a new one at once: the
    // old one may not have been noticed yet.
    pollfd p{pipeConn_, POLLIN, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR))) ClosePipe("host closed");
  }
  if (pipeConn_ >= 0) {
    close(fd);  // one pipe connection at a time
    Log("\"event\":\"pipe-refused\"");
    return;
  }
  int size = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  pipeConn_ = fd;
  ex_ = Exchange{};
  out_.clear();
  ++generation_;
  Log("\"event\":\"pipe-open\"");
}

void Emulator::ReadPipe() {
  for (int i = 0; i < 64 && pipeConn_ >= 0; ++i) {
    ssize_t n = recv(pipeConn_, recvBuf_.data(), recvBuf_.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      ClosePipe("read error");
      return;
    }
    if (n == 0) {
      ClosePipe("host closed");
      return;
    }
    if (static_cast<size_t>(n) > recvBuf_.size()) {
      Log("\"dir\":\"in\",\"error\":\"packet too large\",\"size\":" + std::to_string(n));
      continue;
    }
    OnPipePacket(recvBuf_.data(), static_cast<size_t>(n));
  }
}

void Emulator::FlushPipe() {
  const int64_t now = NowMs();
  while (pipeConn_ >= 0 && !out_.empty() && out_.front().notBeforeMs <= now) {
    OutPacket& p = out_.front();
    // The line goes out before the packet, so that a host that has the packet
    // finds its line in the log.
    if (!p.log.empty()) {
      Log(p.log);
      p.log.clear();
    }
    ssize_t n = send(pipeConn_, p.bytes.data(), p.bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      if (errno == EMSGSIZE) {
        Log("\"dir\":\"out\",\"error\":\"packet too large for the socket\",\"size\":" + std::to_string(p.bytes.size()));
        out_.pop_front();
        continue;
      }
      ClosePipe("write error");
      return;
    }
    out_.pop_front();
  }
}

void Emulator::Queue(std::vector<uint8_t> packet, std::string extra) {
  if (ex_.cut) return;
  std::string fields;
  if (ex_.zeroAt && *ex_.zeroAt == ex_.outIndex) {
    packet.clear();
    ex_.cut = true;
    ex_.stage = Stage::Idle;
    fields = "\"dir\":\"out\",\"size\":0,\"fault\":\"zero-packet\",\"cmd\":" + HexField(ex_.cmd);
  } else {
    fields = "\"dir\":\"out\",\"type\":" + std::to_string(GetU16(packet.data())) +
             ",\"seq\":" + std::to_string(GetU16(packet.data() + 2)) +
             ",\"len\":" + std::to_string(GetU32(packet.data() + 4)) + extra;
  }
  ++ex_.outIndex;
  OutPacket p;
  p.bytes = std::move(packet);
  p.log = std::move(fields);
  p.late = ex_.late;
  if (ex_.delayMs > 0) {
    p.notBeforeMs = NowMs() + ex_.delayMs;
    ex_.delayMs = 0;
  }
  out_.push_back(std::move(p));
}

size_t Emulator::DropUnsent() {
  size_t before = out_.size();
  out_.erase(std::remove_if(out_.begin(), out_.end(), [](const OutPacket& p) { return !p.late; }), out_.end());
  return before - out_.size();
}

void Emulator::SendResponse(uint32_t word0, uint32_t word1, uint32_t word2, const std::string& extra) {
  std::vector<uint8_t> packet = MakeResponse(ex_.seq, word0, word1, word2);
  if (ex_.responseBytes && *ex_.responseBytes < packet.size()) {
    packet.resize(*ex_.responseBytes);
    Log("\"event\":\"fault\",\"kind\":\"short-response\",\"cmd\":" + HexField(ex_.cmd) + ",\"bytes\":" +
        std::to_string(packet.size()));
  }
  Queue(std::move(packet), ",\"cmd\":" + HexField(ex_.cmd) + extra);
}

void Emulator::SendStatusReply(uint32_t status, const char* kind) {
  Queue(MakeResponse(ex_.seq, 0, status, 0),
        ",\"cmd\":" + HexField(ex_.cmd) + ",\"kind\":\"" + kind + "\",\"status\":" + std::to_string(status));
}

void Emulator::SendStream(const std::vector<uint8_t>& prefix, const uint8_t* body, size_t bodySize) {
  const size_t room = config_.packetSize - kHeaderSize;
  size_t total = prefix.size() + bodySize;
  size_t pos = 0;
  while (pos < total && !ex_.cut) {
    size_t chunk = std::min(room, total - pos);
    std::vector<uint8_t> p = MakePacket(kPacketData, ex_.seq, chunk);
    for (size_t i = 0; i < chunk; ++i) {
      size_t at = pos + i;
      p[kHeaderSize + i] = at < prefix.size() ? prefix[at] : body[at - prefix.size()];
    }
    Queue(std::move(p), "");
    pos += chunk;
  }
}

uint32_t Emulator::Forced(uint16_t cmd, StatusStage stage, uint32_t status) {
  if (auto forced = faults_.TakeStatus(cmd, stage)) {
    Log("\"event\":\"fault\",\"kind\":\"status\",\"cmd\":" + HexField(cmd) + ",\"stage\":\"" + StageName(stage) +
        "\",\"status\":" + std::to_string(*forced));
    return *forced;
  }
  return status;
}

void Emulator::OnPipePacket(const uint8_t* p, size_t n) {
  if (n < kHeaderSize) {
    Log("\"dir\":\"in\",\"size\":" + std::to_string(n) + ",\"error\":\"short packet\"");
    return;
  }
  const uint16_t type = GetU16(p);
  const uint16_t seq = GetU16(p + 2);
  const uint32_t len = GetU32(p + 4);
  if (type == kPacketCommand && n >= kCommandPacketSize) {
    const uint16_t cmd = GetU16(p + 8);
    const uint32_t param = GetU32(p + 12);
    Log("\"dir\":\"in\",\"type\":0,\"seq\":" + std::to_string(seq) + ",\"len\":" + std::to_string(len) +
        ",\"cmd\":" + HexField(cmd) + ",\"param\":" + std::to_string(param));
    OnCommand(cmd, seq, param);
    return;
  }
  std::string fields = "\"dir\":\"in\",\"type\":" + std::to_string(type) + ",\"seq\":" + std::to_string(seq) +
                       ",\"len\":" + std::to_string(n - kHeaderSize);
  switch (ex_.stage) {
    case Stage::WaitPath:
      if (n >= kHeaderSize + kPathBytes) {
        Log(fields + ",\"path\":\"" + JsonEscape(FieldText(p + kHeaderSize, kPathBytes)) + "\"");
        OnPath(p, n);
        return;
      }
      break;
    case Stage::WaitRange:
      if (n >= kRangePacketSize) {
        Log(fields + ",\"path\":\"" + JsonEscape(FieldText(p + kHeaderSize, kPathBytes)) +
            "\",\"first\":" + std::to_string(GetU32(p + 44)) + ",\"last\":" + std::to_string(GetU32(p + 48)));
        OnRange(p, n);
        return;
      }
      break;
    case Stage::WaitData:
      Log(fields);
      OnData(p, n);
      return;
    case Stage::Idle:
      break;
  }
  Log(fields + ",\"error\":\"unexpected packet\"");
}

void Emulator::OnCommand(uint16_t cmd, uint16_t seq, uint32_t param) {
  const size_t unsent = out_.size();
  if (unsent > 0) {
    // Replies of an exchange the host has given up (late ones still go).
    size_t dropped = DropUnsent();
    Log("\"event\":\"discard\",\"packets\":" + std::to_string(dropped) +
        (dropped < unsent ? ",\"late\":" + std::to_string(unsent - dropped) : std::string()));
  }
  if (ex_.stage != Stage::Idle) Log("\"event\":\"abandon\",\"cmd\":" + HexField(ex_.cmd));
  ex_ = Exchange{};
  ex_.cmd = cmd;
  ex_.seq = seq;
  ex_.param = param;
  auto& count = counts_[cmd];
  ++count.first;
  count.second = param;
  if (faults_.TakeDrop(cmd)) {
    Log("\"event\":\"fault\",\"kind\":\"drop\",\"cmd\":" + HexField(cmd));
    return;
  }
  ex_.delayMs = faults_.TakeDelay(cmd);
  if (uint32_t late = faults_.TakeLate(cmd)) {
    ex_.delayMs = late;
    ex_.late = true;
    Log("\"event\":\"fault\",\"kind\":\"late\",\"cmd\":" + HexField(cmd) + ",\"ms\":" + std::to_string(late));
  }
  ex_.zeroAt = faults_.TakeZeroPacket(cmd);
  ex_.claim = faults_.TakeClaim(cmd);
  if (ex_.claim)
    Log("\"event\":\"fault\",\"kind\":\"claim\",\"cmd\":" + HexField(cmd) + ",\"value\":" + std::to_string(*ex_.claim));
  ex_.responseBytes = faults_.TakeShortResponse(cmd);

  switch (cmd) {
    case 0x808E: {
      uint32_t frameStatus = Forced(cmd, StatusStage::Response, 0) & 0xFFFF;
      FramePtr frame = frames_->Next();
      std::vector<uint8_t> garbage;
      const uint8_t* data = frame->data();
      size_t size = frame->size();
      uint32_t announced = static_cast<uint32_t>(size);
      std::string fault;
      if (faults_.TakeFrameLengthZero()) {
        size = announced = 0;
        fault = "frame-length-zero";
      } else if (faults_.TakeBadFrame()) {
        garbage.resize(8192);
        uint32_t s = 12345;
        for (auto& b : garbage) {
          s = s * 1103515245u + 12345u;
          b = static_cast<uint8_t>((s >> 16) % 255);  // never 0xFF: no marker at all
        }
        data = garbage.data();
        size = announced = static_cast<uint32_t>(garbage.size());
        fault = "bad-frame";
      } else if (faults_.TakeShortFrame()) {
        announced = static_cast<uint32_t>(size + 4096);
        fault = "short-frame";
      }
      if (ex_.claim) {
        announced = *ex_.claim;
        size = 0;
      }
      if (!fault.empty()) Log("\"event\":\"fault\",\"kind\":\"" + fault + "\",\"cmd\":\"0x808E\"");
      SendResponse(frameStatus, announced, 0,
                   ",\"status\":" + std::to_string(frameStatus) + ",\"length\":" + std::to_string(announced));
      SendStream({}, data, size);
      return;
    }
    case 0x8101:
    case 0x108: {
      uint32_t status = Forced(cmd, StatusStage::Response, CardStatus());
      SendResponse(0, status, 0, ",\"status\":" + std::to_string(status));
      return;
    }
    case 0x8102: {
      std::vector<std::string> entries;
      if (CardStatus() == 0 && !ex_.claim) entries = card_->RootList();
      uint32_t status = Forced(cmd, StatusStage::Response, CardStatus());
      const uint32_t count = ex_.claim.value_or(static_cast<uint32_t>(entries.size()));
      SendResponse(0, status, count, ",\"status\":" + std::to_string(status) + ",\"entries\":" + std::to_string(count));
      std::vector<uint8_t> bytes(entries.size() * kEntrySize, 0);
      for (size_t i = 0; i < entries.size(); ++i) memcpy(&bytes[i * kEntrySize], entries[i].data(), entries[i].size());
      SendStream({}, bytes.data(), bytes.size());
      return;
    }
    case 0x8104:
    case 0x8107:
    case 0x8105:
    case 0x104:
    case 0x105:
    case 0x106:
    case 0x107: {
      uint32_t status = Forced(cmd, StatusStage::Response, CardStatus());
      SendResponse(0, status, 0, ",\"status\":" + std::to_string(status));
      if (!ex_.cut) ex_.stage = cmd == 0x8105 ? Stage::WaitRange : Stage::WaitPath;
      return;
    }
    default: {
      bool remote = cmd == 0xE0 || cmd == 0xE1 || cmd == 0xE2 || cmd == 0xEA || cmd == 0xFA ||
                    (cmd >= 0x201 && cmd <= 0x20E);
      uint32_t status = Forced(cmd, StatusStage::Response, remote ? kStatusDone : kStatusUnknownCommand);
      if (!remote) Log("\"event\":\"unknown-command\",\"cmd\":" + HexField(cmd));
      SendResponse(0, status, 0, ",\"status\":" + std::to_string(status));
      return;
    }
  }
}

void Emulator::OnPath(const uint8_t* p, size_t n) {
  const std::string path = FieldText(p + kHeaderSize, kPathBytes);
  const bool cardOk = CardStatus() == 0;
  ex_.stage = Stage::Idle;
  switch (ex_.cmd) {
    case 0x8104:
    case 0x8107: {
      std::vector<uint8_t> data;
      uint32_t status = cardOk ? card_->ReadFile(path, &data) : kStatusNoCard;
      if (ex_.claim) data.clear();
      std::vector<uint8_t> sub(kFileSubHeaderSize);
      PutU32(sub.data(), kFileSubHeaderTag);
      PutU32(sub.data() + 4, ex_.claim.value_or(static_cast<uint32_t>(data.size())));
      PutU32(sub.data() + 8, status);  // the host only reads the length
      SendStream(sub, data.data(), data.size());
      return;
    }
    case 0x105:
    case 0x106: {
      uint32_t status = kStatusNoCard;
      if (auto forced = faults_.TakeStatus(ex_.cmd, StatusStage::Final)) {
        status = *forced;  // the camera refuses; the card is left alone
        Log("\"event\":\"fault\",\"kind\":\"status\",\"cmd\":" + HexField(ex_.cmd) +
            ",\"stage\":\"final\",\"status\":" + std::to_string(status));
      } else if (cardOk) {
        status = ex_.cmd == 0x105 ? card_->Delete(path) : card_->MakeFolder(path);
      }
      SendStatusReply(status, "final");
      return;
    }
    case 0x104:
    case 0x107: {
      uint32_t first = cardOk ? card_->CheckWrite(path) : kStatusNoCard;
      first = Forced(ex_.cmd, StatusStage::First, first);
      SendStatusReply(first, "first");
      if (!ex_.cut && (first == kStatusDone || (first == kStatusPlaylistSend && ex_.cmd == 0x107))) {
        ex_.stage = Stage::WaitData;
        ex_.path = path;
      }
      return;
    }
    default:
      return;
  }
}

void Emulator::OnRange(const uint8_t* p, size_t n) {
  const std::string path = FieldText(p + kHeaderSize, kPathBytes);
  const uint32_t first = GetU32(p + 44);
  const uint32_t last = GetU32(p + 48);
  ex_.stage = Stage::Idle;
  std::vector<std::string> entries;
  uint32_t status = CardStatus() == 0 ? card_->FolderList(path, &entries) : kStatusNoCard;
  status = Forced(ex_.cmd, StatusStage::List, status);
  if (faults_.TakeFullList()) {
    // A full portion of made-up pictures, wherever the host asks to begin.
    Log("\"event\":\"fault\",\"kind\":\"full-list\",\"first\":" + std::to_string(first));
    std::vector<uint8_t> full(8 + 2048 * kEntrySize, 0);
    PutU32(full.data(), kStatusDone);
    PutU32(full.data() + 4, 2048);
    for (uint32_t i = 0; i < 2048; ++i)
      snprintf(reinterpret_cast<char*>(&full[8 + i * kEntrySize]), kEntrySize, "C:\\DCIM\\100ABCDE\\IMAG%04u.JPG",
               static_cast<unsigned>((first + i) % 10000));
    std::vector<uint8_t> head(full.begin(), full.begin() + 8);
    SendStream(head, full.data() + 8, full.size() - 8);
    return;
  }
  if (ex_.claim) {
    std::vector<uint8_t> head(8, 0);
    PutU32(head.data(), status);
    PutU32(head.data() + 4, *ex_.claim);
    SendStream(head, nullptr, 0);
    return;
  }
  size_t begin = 0, end = 0;
  if (status == kStatusDone && last >= first && first < entries.size()) {
    begin = first;
    end = std::min<size_t>(entries.size(), static_cast<size_t>(last) + 1);
  }
  std::vector<uint8_t> prefix(8 + (end - begin) * kEntrySize, 0);
  PutU32(prefix.data(), status);
  PutU32(prefix.data() + 4, static_cast<uint32_t>(end - begin));
  for (size_t i = begin; i < end; ++i) memcpy(&prefix[8 + (i - begin) * kEntrySize], entries[i].data(), entries[i].size());
  // The first list packet carries status and count even when there are no entries.
  std::vector<uint8_t> head(prefix.begin(), prefix.begin() + 8);
  SendStream(head, prefix.data() + 8, prefix.size() - 8);
}

void Emulator::OnData(const uint8_t* p, size_t n) {
  constexpr uint64_t kMaxWrite = 64ull << 20;
  const uint8_t* payload = p + kHeaderSize;
  size_t size = n - kHeaderSize;
  if (!ex_.gotSubHeader) {
    if (size < kFileSubHeaderSize || GetU32(payload) != kFileSubHeaderTag) {
      Log("\"event\":\"bad-data\",\"cmd\":" + HexField(ex_.cmd));
      ex_.stage = Stage::Idle;
      SendStatusReply(kStatusCardError, "final");
      return;
    }
    ex_.gotSubHeader = true;
    ex_.expected = GetU32(payload + 4);
    ex_.tooBig = ex_.expected > kMaxWrite;
    payload += kFileSubHeaderSize;
    size -= kFileSubHeaderSize;
  }
  ex_.received += size;
  if (!ex_.tooBig) {
    size_t keep = static_cast<size_t>(std::min<uint64_t>(size, ex_.expected - std::min(ex_.expected, ex_.data.size())));
    ex_.data.insert(ex_.data.end(), payload, payload + keep);
  }
  if (ex_.received < ex_.expected) return;
  if (ex_.received > ex_.expected)
    Log("\"event\":\"surplus\",\"bytes\":" + std::to_string(ex_.received - ex_.expected));
  ex_.stage = Stage::Idle;
  uint32_t status;
  if (auto forced = faults_.TakeStatus(ex_.cmd, StatusStage::Final)) {
    status = *forced;
    Log("\"event\":\"fault\",\"kind\":\"status\",\"cmd\":" + HexField(ex_.cmd) +
        ",\"stage\":\"final\",\"status\":" + std::to_string(status));
    if (status == kStatusDone && CardStatus() == 0) card_->WriteFile(ex_.path, ex_.data);
  } else if (ex_.tooBig) {
    status = kStatusFull;
  } else {
    status = CardStatus() == 0 ? card_->WriteFile(ex_.path, ex_.data) : kStatusNoCard;
  }
  ex_.data.clear();
  SendStatusReply(status, "final");
}

void Emulator::OnControl(int fd) {
  uint8_t buf[256];
  ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    close(fd);
    controlConns_.erase(std::remove(controlConns_.begin(), controlConns_.end(), fd), controlConns_.end());
    lateControl_.erase(std::remove_if(lateControl_.begin(), lateControl_.end(),
                                      [fd](const LateControlReply& r) { return r.fd == fd; }),
                       lateControl_.end());
    ++generation_;
    return;
  }
  uint32_t code = n >= 4 ? GetU32(buf) : 0;
  uint32_t outLen = n >= 8 ? GetU32(buf + 4) : 0;
  std::vector<uint8_t> data;
  uint32_t ok = 1;
  if (n < 8) {
    ok = 0;
  } else if (code == kControlReset) {
    if (ex_.stage != Stage::Idle || !out_.empty())
      Log("\"event\":\"reset\",\"abandoned\":" + HexField(ex_.cmd) + ",\"packets\":" + std::to_string(out_.size()));
    ex_ = Exchange{};
    DropUnsent();
  } else if (code == kControlDriverText) {
    std::string text = config_.driverText;
    data.assign(text.begin(), text.end());
    data.push_back(0);  // zero-terminated when the buffer has room for it
    if (data.size() > outLen) data.resize(outLen);
  } else if (code == kControlStatus) {
    if (outLen >= 4) {
      data.resize(4);
      PutU32(data.data(), 1);
    } else {
      ok = 0;
    }
  } else {
    ok = 0;
  }
  std::vector<uint8_t> reply(8 + data.size());
  PutU32(reply.data(), ok);
  PutU32(reply.data() + 4, static_cast<uint32_t>(data.size()));
  if (!data.empty()) memcpy(reply.data() + 8, data.data(), data.size());
  Log("\"dir\":\"control\",\"code\":" + HexField(code) + ",\"outlen\":" + std::to_string(outLen) +
      ",\"ok\":" + std::to_string(ok) + ",\"bytes\":" + std::to_string(data.size()));
  if (uint32_t late = faults_.TakeLateControl(code)) {
    Log("\"event\":\"fault\",\"kind\":\"late-control\",\"code\":" + HexField(code) + ",\"ms\":" +
        std::to_string(late));
    lateControl_.push_back({fd, std::move(reply), NowMs() + late});
    return;
  }
  send(fd, reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void Emulator::FlushLateControl() {
  const int64_t now = NowMs();
  for (auto it = lateControl_.begin(); it != lateControl_.end();) {
    if (it->dueMs > now) {
      ++it;
      continue;
    }
    if (std::find(controlConns_.begin(), controlConns_.end(), it->fd) != controlConns_.end()) {
      send(it->fd, it->bytes.data(), it->bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    it = lateControl_.erase(it);
  }
}

std::string Emulator::Execute(const std::string& line) {
  std::vector<std::string> t = Tokens(line);
  if (t.empty()) return "error empty command";
  std::string reply = ExecuteTokens(t);
  Log("\"event\":\"command\",\"line\":\"" + JsonEscape(line) + "\",\"reply\":\"" + JsonEscape(reply) + "\"");
  return reply;
}

std::string Emulator::ExecuteTokens(const std::vector<std::string>& t) {
  const std::string& verb = t[0];
  const size_t argc = t.size() - 1;
  uint16_t cmd = 0;
  int count = 1;
  uint64_t value = 0;
  auto optionalCount = [&](size_t index) { return argc < index || ParseCount(t[index], &count); };

  if (verb == "ping") return "ok";
  if (verb == "help") return "ok see --help";
  if (verb == "quit") {
    quit_ = true;
    return "ok";
  }
  if (verb == "unplug" && argc <= 3) {
    Removal how;
    if (argc >= 1) {
      if (t[1] == "sockets") how.order = RemovalOrder::SocketsFirst;
      else if (t[1] != "folder") return "error bad argument: " + t[1];
    }
    if (argc >= 2 && (!ParseNumber(t[2], &value) || value > 600000)) return "error bad argument: " + t[2];
    how.gapMs = argc >= 2 ? static_cast<int64_t>(value) : 0;
    if (argc >= 3 && (!ParseNumber(t[3], &value) || value > 600000)) return "error bad argument: " + t[3];
    how.replugMs = argc >= 3 ? static_cast<int64_t>(value) : -1;
    if (Removing()) return "error the camera is being removed";
    Unplug("command", how);
    return "ok";
  }
  if (verb == "replug") {
    std::string error;
    return Plug(&error) ? "ok" : "error " + error;
  }
  if (verb == "clear") {
    faults_.Clear();
    return "ok";
  }
  if (verb == "card" && argc == 1 && (t[1] == "on" || t[1] == "off")) {
    if (t[1] == "on" && !card_) return "error no card folder was given";
    cardIn_ = t[1] == "on";
    return "ok";
  }
  if (verb == "count" && argc == 1 && ParseCode(t[1], &cmd)) {
    auto it = counts_.find(cmd);
    if (it == counts_.end()) return "ok 0 0";
    return "ok " + std::to_string(it->second.first) + " " + std::to_string(it->second.second);
  }
  if (verb == "delay" && (argc == 2 || argc == 3) && ParseCode(t[1], &cmd) && ParseNumber(t[2], &value) &&
      value <= 600000 && optionalCount(3)) {
    faults_.SetDelay(cmd, static_cast<uint32_t>(value), count);
    return "ok";
  }
  if (verb == "late" && (argc == 2 || argc == 3) && ParseCode(t[1], &cmd) && ParseNumber(t[2], &value) &&
      value <= 600000 && optionalCount(3)) {
    faults_.SetLate(cmd, static_cast<uint32_t>(value), count);
    return "ok";
  }
  if (verb == "late-control" && (argc == 2 || argc == 3) && ParseNumber(t[1], &value) && value < 0x100000000ull &&
      optionalCount(3)) {
    const uint32_t code = static_cast<uint32_t>(value);
    if (!ParseNumber(t[2], &value) || value > 600000) return "error bad argument: " + t[2];
    faults_.SetLateControl(code, static_cast<uint32_t>(value), count);
    return "ok";
  }
  if (verb == "drop" && (argc == 1 || argc == 2) && ParseCode(t[1], &cmd) && optionalCount(2)) {
    faults_.SetDrop(cmd, count);
    return "ok";
  }
  if (verb == "zero-packet" && (argc == 2 || argc == 3) && ParseCode(t[1], &cmd) && ParseNumber(t[2], &value) &&
      value < 0x100000000ull && optionalCount(3)) {
    faults_.SetZeroPacket(cmd, static_cast<uint32_t>(value), count);
    return "ok";
  }
  if (verb == "status" && argc >= 2 && argc <= 4 && ParseCode(t[1], &cmd) && ParseNumber(t[2], &value) &&
      value < 0x100000000ull) {
    StatusStage stage = DefaultStage(cmd);
    for (size_t i = 3; i <= argc; ++i) {
      if (auto s = ParseStage(t[i])) stage = *s;
      else if (!ParseCount(t[i], &count)) return "error bad argument: " + t[i];
    }
    if (!StageFits(cmd, stage)) return std::string("error stage ") + StageName(stage) + " does not fit " + HexCode(cmd);
    faults_.SetStatus(cmd, stage, static_cast<uint32_t>(value), count);
    return "ok";
  }
  if (verb == "claim" && (argc == 2 || argc == 3) && ParseCode(t[1], &cmd) && ParseNumber(t[2], &value) &&
      value < 0x100000000ull && optionalCount(3)) {
    if (cmd != 0x808E && cmd != 0x8102 && cmd != 0x8104 && cmd != 0x8107 && cmd != 0x8105)
      return "error claim does not fit " + HexCode(cmd);
    faults_.SetClaim(cmd, static_cast<uint32_t>(value), count);
    return "ok";
  }
  if (verb == "short-response" && (argc == 2 || argc == 3) && ParseCode(t[1], &cmd) && ParseNumber(t[2], &value) &&
      value < 32 && optionalCount(3)) {
    faults_.SetShortResponse(cmd, static_cast<uint32_t>(value), count);
    return "ok";
  }
  if (verb == "full-list" && argc <= 1 && optionalCount(1)) {
    faults_.SetFullList(count);
    return "ok";
  }
  if ((verb == "bad-frame" || verb == "frame-length-zero" || verb == "short-frame") && argc <= 1 &&
      optionalCount(1)) {
    if (verb == "bad-frame") faults_.SetBadFrame(count);
    else if (verb == "frame-length-zero") faults_.SetFrameLengthZero(count);
    else faults_.SetShortFrame(count);
    return "ok";
  }
  return "error unknown or malformed command: " + verb;
}

void Emulator::OnCommandConn(CommandConn& conn) {
  char buf[4096];
  ssize_t n = recv(conn.fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    close(conn.fd);
    conn.fd = -1;
    return;
  }
  conn.in.append(buf, static_cast<size_t>(n));
  size_t nl;
  while (conn.fd >= 0 && (nl = conn.in.find('\n')) != std::string::npos) {
    std::string line = conn.in.substr(0, nl);
    conn.in.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string reply = Execute(line) + "\n";
    send(conn.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
  }
}

void Emulator::OnStdin() {
  char buf[4096];
  ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    stdinOpen_ = false;
    quit_ = true;  // the controlling program has gone
    return;
  }
  stdinBuf_.append(buf, static_cast<size_t>(n));
  size_t nl;
  while ((nl = stdinBuf_.find('\n')) != std::string::npos) {
    std::string line = stdinBuf_.substr(0, nl);
    stdinBuf_.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    printf("%s\n", Execute(line).c_str());
    fflush(stdout);
  }
}

void Emulator::OnSignal() {
  char sigs[32];
  ssize_t n = read(gSignalPipe[0], sigs, sizeof sigs);
  for (ssize_t i = 0; i < n; ++i) {
    switch (sigs[i]) {
      case SIGUSR1:
        Log("\"event\":\"signal\",\"signal\":\"SIGUSR1\"");
        Unplug("signal");
        break;
      case SIGUSR2: {
        Log("\"event\":\"signal\",\"signal\":\"SIGUSR2\"");
        std::string error;
        if (!Plug(&error)) fprintf(stderr, "camera-emulator: replug failed: %s\n", error.c_str());
        break;
      }
      default:
        quit_ = true;
        break;
    }
  }
}

int Emulator::Run() {
  struct Watch {
    int fd;
    short events;
    std::function<void(short)> handler;
  };
  while (!quit_) {
    std::vector<Watch> watches;
    if (gSignalPipe[0] >= 0) watches.push_back({gSignalPipe[0], POLLIN, [this](short) { OnSignal(); }});
    if (stdinOpen_) watches.push_back({STDIN_FILENO, POLLIN, [this](short) { OnStdin(); }});
    if (commandListen_ >= 0)
      watches.push_back({commandListen_, POLLIN, [this](short) {
                           int fd = accept4(commandListen_, nullptr, nullptr, SOCK_CLOEXEC);
                           if (fd >= 0) commandConns_.push_back({fd, {}});
                         }});
    for (size_t i = 0; i < commandConns_.size(); ++i)
      watches.push_back({commandConns_[i].fd, POLLIN, [this, i](short) { OnCommandConn(commandConns_[i]); }});
    if (pipeConn_ >= 0) {
      short ev = POLLIN;
      if (!out_.empty() && out_.front().notBeforeMs <= NowMs()) ev |= POLLOUT;
      watches.push_back({pipeConn_, ev, [this](short re) {
                           if (re & POLLIN) ReadPipe();
                           else if (re & (POLLHUP | POLLERR)) ClosePipe("host closed");
                           if (pipeConn_ >= 0 && (re & POLLOUT)) FlushPipe();
                         }});
    }
    for (int fd : controlConns_) watches.push_back({fd, POLLIN, [this, fd](short) { OnControl(fd); }});
    if (pipeListen_ >= 0) watches.push_back({pipeListen_, POLLIN, [this](short) { AcceptPipe(); }});
    if (controlListen_ >= 0)
      watches.push_back({controlListen_, POLLIN, [this](short) {
                           int fd = accept4(controlListen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                           if (fd >= 0) {
                             controlConns_.push_back(fd);
                             ++generation_;
                           }
                         }});

    int64_t now = NowMs();
    int64_t wake = now + (config_.exitWithParent ? 500 : 5000);
    if (!out_.empty() && pipeConn_ >= 0) wake = std::min(wake, std::max(now, out_.front().notBeforeMs));
    if (unplugAtMs_ >= 0 && TimedUnplugCanRun()) wake = std::min(wake, std::max(now, unplugAtMs_));
    if (nextStepAtMs_ >= 0) wake = std::min(wake, std::max(now, nextStepAtMs_));
    if (replugAtMs_ >= 0) wake = std::min(wake, replugAtMs_);
    for (const LateControlReply& r : lateControl_) wake = std::min(wake, std::max(now, r.dueMs));
    std::vector<pollfd> fds;
    for (auto& w : watches) fds.push_back({w.fd, w.events, 0});
    int r = poll(fds.data(), fds.size(), static_cast<int>(std::max<int64_t>(0, wake - now)));
    if (r < 0 && errno != EINTR) {
      perror("camera-emulator: poll");
      break;
    }
    const uint64_t generation = generation_;
    const size_t commandCount = commandConns_.size();
    for (size_t i = 0; r > 0 && i < fds.size() && !quit_; ++i) {
      if (fds[i].revents == 0) continue;
      watches[i].handler(fds[i].revents);
      // Sockets were opened or closed: poll again with the new set.
      if (generation_ != generation || commandConns_.size() != commandCount) break;
    }
    commandConns_.erase(std::remove_if(commandConns_.begin(), commandConns_.end(),
                                       [](const CommandConn& c) { return c.fd < 0; }),
                        commandConns_.end());
    now = NowMs();
    if (nextStepAtMs_ >= 0 && now >= nextStepAtMs_) FinishRemoval();
    if (unplugAtMs_ >= 0 && now >= unplugAtMs_) {
      // Due while the camera is away or being removed, the timed unplug
      // waits for the camera to be back instead of being lost.
      if (TimedUnplugCanRun()) {
        unplugAtMs_ = -1;
        unplugDeferred_ = false;
        Unplug("timer");
      } else if (!unplugDeferred_) {
        unplugDeferred_ = true;
        Log("\"event\":\"unplug-deferred\",\"why\":\"timer\"");
      }
    }
    if (replugAtMs_ >= 0 && now >= replugAtMs_) {
      replugAtMs_ = -1;
      std::string error;
      if (!Plug(&error)) fprintf(stderr, "camera-emulator: replug failed: %s\n", error.c_str());
    }
    if (config_.exitWithParent && getppid() != parentPid_) quit_ = true;
    FlushPipe();
    FlushLateControl();
  }
  if (Removing()) FinishRemoval();
  Unplug("quit");
  return 0;
}

}  // namespace fotavi::emu

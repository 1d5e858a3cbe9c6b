#include "EmulatorProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace fotavi::test {

namespace {

constexpr const char* kClassGuid = "{30091DC9-1A0E-41F1-BC70-C7C3A9142BC6}";

bool IsSocket(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

template <class Pred>
bool WaitFor(int timeoutMs, Pred pred) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

std::string MakeTempDir(const std::string& prefix) {
  const char* tmp = getenv("TMPDIR");
  std::string base = (tmp && *tmp) ? tmp : "/tmp";
  std::string pattern = base + "/" + prefix + "XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return {};
  return buf.data();
}

void RemoveTree(const std::string& path) {
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* e = readdir(dir)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        RemoveTree(path + "/" + e->d_name);
      }
      closedir(dir);
    }
    chmod(path.c_str(), 0700);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

EmulatorProcess::EmulatorProcess(EmulatorOptions options) : options_(std::move(options)) {}

EmulatorProcess::~EmulatorProcess() { Stop(); }

std::string EmulatorProcess::BinaryPath() {
  if (const char* env = getenv("FOTAVI_EMULATOR"); env && *env) return env;
#ifdef FOTAVI_EMULATOR_BINARY
  return FOTAVI_EMULATOR_BINARY;
#else
  return "camera-emulator";
#endif
}

std::string EmulatorProcess::DevicePath() const {
  return options_.deviceRoot + "/" + kClassGuid + "/" + options_.instance;
}

bool EmulatorProcess::Running() {
  if (pid_ <= 0) return false;
  int status;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

bool EmulatorProcess::WaitPresent(bool present, int timeoutMs) const {
  const std::string dev = DevicePath();
  return WaitFor(timeoutMs, [&] {
    bool there = IsSocket(dev + "/FotaviZ5") && IsSocket(dev + "/control");
    return there == present;
  });
}

bool EmulatorProcess::Start(int timeoutMs) {
  if (pid_ > 0) return false;
  if (options_.deviceRoot.empty()) return false;  // never the user's own device root
  commandDir_ = MakeTempDir("fotavi-emu-cmd-");
  if (commandDir_.empty()) return false;
  commandSocket_ = commandDir_ + "/command";
  std::vector<std::string> args = {BinaryPath(),
                                   "--root", options_.deviceRoot,
                                   "--instance", options_.instance,
                                   "--packet-size", std::to_string(options_.packetSize),
                                   "--command-socket", commandSocket_,
                                   "--exit-with-parent"};
  if (!options_.cardDir.empty()) {
    args.push_back("--card");
    args.push_back(options_.cardDir);
  } else {
    args.push_back("--no-card");
  }
  if (!options_.pictureDir.empty()) {
    args.push_back("--pictures");
    args.push_back(options_.pictureDir);
  }
  if (!options_.exchangeLog.empty()) {
    args.push_back("--exchange-log");
    args.push_back(options_.exchangeLog);
  }
  if (options_.startUnplugged) args.push_back("--unplugged");
  args.insert(args.end(), options_.extraArgs.begin(), options_.extraArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, STDIN_FILENO);
    // No descriptor of the test may live on in the emulator: a socket kept
    // open there would hide the test's own close from its peer.
    if (close_range(3, ~0U, 0) != 0) {
      for (int fd = 3; fd < 1024; ++fd) close(fd);
    }
    execv(argv[0], argv.data());
    fprintf(stderr, "cannot run %s: %s\n", argv[0], strerror(errno));
    _exit(127);
  }
  pid_ = pid;
  bool ready = WaitFor(timeoutMs, [&] { return !Running() || Command("ping"); });
  if (!ready || !Running()) {
    Stop();
    return false;
  }
  if (!options_.startUnplugged && !WaitPresent(true, timeoutMs)) {
    Stop();
    return false;
  }
  return true;
}

void EmulatorProcess::Stop() {
  if (pid_ > 0) {
    Command("quit");
    if (!WaitFor(5000, [&] { return !Running(); })) {
      kill(pid_, SIGTERM);
      if (!WaitFor(2000, [&] { return !Running(); })) {
        kill(pid_, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
        pid_ = -1;
      }
    }
  }
  if (!commandDir_.empty()) {
    RemoveTree(commandDir_);
    commandDir_.clear();
  }
}

bool EmulatorProcess::Command(const std::string& line, std::string* reply) {
  if (reply) reply->clear();
  if (commandSocket_.empty()) return false;
  sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (commandSocket_.size() >= sizeof addr.sun_path) return false;
  memcpy(addr.sun_path, commandSocket_.c_str(), commandSocket_.size());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  timeval tv{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  std::string answer;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  if (ok) {
    std::string out = line + "\n";
    ok = send(fd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size());
  }
  while (ok) {
    char c;
    ssize_t n = recv(fd, &c, 1, 0);
    if (n <= 0) {
      ok = false;
      break;
    }
    if (c == '\n') break;
    answer += c;
  }
  close(fd);
  if (reply) *reply = answer;
  return ok && answer.rfind("ok", 0) == 0;
}

bool EmulatorProcess::Unplug(int timeoutMs) { return Command("unplug") && WaitPresent(false, timeoutMs); }

bool EmulatorProcess::Replug(int timeoutMs) { return Command("replug") && WaitPresent(true, timeoutMs); }

std::vector<std::string> EmulatorProcess::ExchangeLog() const {
  std::vector<std::string> lines;
  if (options_.exchangeLog.empty()) return lines;
  std::ifstream in(options_.exchangeLog);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace fotavi::test

// SIGTERM and SIGINT end both programs through their exit, as their Exit
// command does: each program is started as a process of its own (offscreen,
// no camera), sent the signal once its handler is in place, and must end by
// returning from its exit road with status 0, not be killed by the signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "TestEnv.h"

namespace {

struct ExitCase {
  const char* name;
  const char* program;
  int signal;
};

// The signals the process catches, from /proc (SigCgt); 0 when unknown.
unsigned long long CaughtSignals(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
  }
  return 0;
}

// Waits at most `limitMs` for the child to end; true with its status.
bool WaitForChild(pid_t pid, int* status, int limitMs) {
  for (int waited = 0; waited < limitMs; waited += 20) {
    if (waitpid(pid, status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class ProgramExit : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ProgramExit, ASignalClosesTheProgramThroughItsExit) {
  const std::string root = fotavi_test::IsolateEnvironment("exit-signal");
  // No camera: an empty device root of the user's own.
  std::filesystem::create_directories(root + "/devices");
  std::filesystem::permissions(root + "/devices", std::filesystem::perms::owner_all);
  setenv("FOTAVI_DEVICE_ROOT", (root + "/devices").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(GetParam().program, GetParam().program, static_cast<char*>(nullptr));
    _exit(127);
  }
  const unsigned long long bit = 1ull << (GetParam().signal - 1);
  bool caught = false;
  for (int waited = 0; waited < 30000 && !caught; waited += 20) {
    caught = (CaughtSignals(pid) & bit) != 0;
    if (!caught) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  int status = 0;
  if (!caught) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "the program never caught the signal";
  }
  ASSERT_EQ(kill(pid, GetParam().signal), 0);
  if (!WaitForChild(pid, &status, 60000)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "the program did not end";
  }
  EXPECT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::filesystem::remove_all(root);
}

// Starts `program` and waits until it catches `signal`; -1 when it never did.
pid_t StartCatching(const char* program, int signal) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    execl(program, program, static_cast<char*>(nullptr));
    _exit(127);
  }
  const unsigned long long bit = 1ull << (signal - 1);
  for (int waited = 0; waited < 30000; waited += 20) {
    if ((CaughtSignals(pid) & bit) != 0) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  int status = 0;
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

// True once `pid` holds the program's machine-wide mutex (a listening
// abstract socket of that name), that is once its start has taken it.
bool HoldsProgramMutex(pid_t pid) {
  std::set<std::string> inodes;
  std::error_code ec;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
    if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  std::ifstream unix("/proc/net/unix");
  std::string line;
  while (std::getline(unix, line)) {
    std::istringstream fields(line);
    std::string f[8];
    for (auto& x : f) fields >> x;
    if (inodes.count(f[6]) && f[7].rfind("@fotavi-mutex/", 0) == 0) return true;
  }
  return false;
}

// Sends `signal` and waits for the end; the exit status, or -1 (killed, by
// the signal or after the limit).
int EndBy(pid_t pid, int signal) {
  int status = 0;
  if (kill(pid, signal) != 0) return -1;
  if (!WaitForChild(pid, &status, 60000)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A second start shows its refusal in a box before the program's loop runs:
// the signal closes the box, and the start ends as that refusal does (status
// 1), never left standing. The first instance ends as before.
TEST_P(ProgramExit, ASignalDuringTheStartUpsBoxEndsTheStart) {
  const std::string root = fotavi_test::IsolateEnvironment("exit-signal-box");
  std::filesystem::create_directories(root + "/devices");
  std::filesystem::permissions(root + "/devices", std::filesystem::perms::owner_all);
  setenv("FOTAVI_DEVICE_ROOT", (root + "/devices").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const pid_t first = StartCatching(GetParam().program, GetParam().signal);
  ASSERT_GT(first, 0) << "the program never caught the signal";
  bool held = false;
  for (int waited = 0; waited < 30000 && !(held = HoldsProgramMutex(first)); waited += 20)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (!held) EndBy(first, SIGKILL);
  ASSERT_TRUE(held) << "the first start never took the program's mutex";
  const pid_t second = StartCatching(GetParam().program, GetParam().signal);
  if (second < 0) EndBy(first, SIGKILL);
  ASSERT_GT(second, 0) << "the second start never caught the signal";
  EXPECT_EQ(EndBy(second, GetParam().signal), 1);
  EXPECT_EQ(EndBy(first, GetParam().signal), 0);
  std::filesystem::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(Table, ProgramExit,
                         ::testing::Values(ExitCase{"PresentationOnSigterm", FOTAVI_PRESENTATION_PROGRAM, SIGTERM},
                                           ExitCase{"PresentationOnSigint", FOTAVI_PRESENTATION_PROGRAM, SIGINT},
                                           ExitCase{"MovieOnSigterm", FOTAVI_MOVIE_PROGRAM, SIGTERM},
                                           ExitCase{"MovieOnSigint", FOTAVI_MOVIE_PROGRAM, SIGINT}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// How a host without Qt ends after the source showed a window: the plain
// host (PlainHost.cpp) runs as a child process, again and again, and every
// exit must be a normal one with status 0. With a screen (run under
// xvfb-run) the dialog and the "already launched" box are real windows, the
// box answered with a key press as a user would; on a platform without a
// screen the box's text goes to standard error and the open fails at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CommonFunc.h"
#include "IsolatedCamera.h"
#include "TestEnv.h"

extern char** environ;

namespace {

constexpr const char* kAlreadyLaunched = "Fotavi or Tiryx TWAIN DS is already launched.";
constexpr int kRuns = 20;
constexpr int kChildLimitMs = 30000;  // a child that takes longer hangs
// Under valgrind, whose exit alone can take that long on a loaded machine
// (the tests run in parallel): four such runs still fit the test's 300 s.
constexpr int kWrappedChildLimitMs = 60000;
constexpr int kCyclesLimitMs = 200000;  // the host with 200 dialogs

std::unique_ptr<twain_test::IsolatedCamera> g_camera;

class ExitEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_camera = std::make_unique<twain_test::IsolatedCamera>("twainexit");
    ASSERT_TRUE(g_camera->Start());
  }
  void TearDown() override { g_camera.reset(); }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new ExitEnvironment);

bool ScreenShown() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const char* display = std::getenv("DISPLAY");
  return display && *display && (!platform || std::string(platform) == "xcb");
}

// Presses Return on every shown window titled like the source's boxes.
void AnswerBoxes() {
  std::system("xdotool search --name '^Tiryx TWAIN DS \\(K27\\)$' windowfocus --sync key Return >/dev/null 2>&1");
}

// Closes the capture dialog as a user does with the keyboard (Escape).
void CloseTheDialog() {
  std::system("xdotool search --name '^Tiryx TWAIN DS \\(K27\\)$' windowfocus --sync key Escape >/dev/null 2>&1");
}

struct HostRun {
  bool exited = false;  // a normal exit (no signal, no hang)
  int status = -1;
  std::string signalName;
  std::string errors;   // its standard error
};

// Runs the plain host with `session` and `ending`; `environment` entries
// replace the inherited ones (an empty value removes the variable).
HostRun RunHost(const std::string& session, const std::map<std::string, std::string>& environment = {},
                void (*user)() = nullptr, const std::vector<std::string>& wrapper = {},
                const std::string& ending = "return", int limitMs = 0) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (!environment.count(entry.substr(0, entry.find('=')))) env.push_back(entry);
  }
  for (const auto& [name, value] : environment) {
    if (!value.empty()) env.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = wrapper;
  args.insert(args.end(), {TWAIN_PLAIN_HOST, TWAIN_DS_MODULE, session, ending});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string errors = g_camera->Root() + "/host-errors.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  HostRun run;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  if (limitMs == 0) limitMs = wrapper.empty() ? kChildLimitMs : kWrappedChildLimitMs;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      run.signalName = "hang";
      run.errors = fotavi_test::ReadFile(errors);
      return run;
    }
    if (user) user();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  run.errors = fotavi_test::ReadFile(errors);
  if (WIFSIGNALED(status)) {
    run.signalName = strsignal(WTERMSIG(status));
    return run;
  }
  run.exited = WIFEXITED(status);
  run.status = WEXITSTATUS(status);
  return run;
}

// The camera in use by another program, as Fotavi holds it.
std::unique_ptr<CNamedMutex> HoldTheCamera() {
  std::unique_ptr<CNamedMutex> held;
  EXPECT_EQ(CreateAppMutex(APP_MUTEX_NAME, true, &held), APPMUTEX_CREATED);
  return held;
}

}  // namespace

TEST(PlainHostExit, IsCleanEveryTimeAfterTheCaptureDialog) {
  for (int i = 0; i < kRuns; ++i) {
    const HostRun run = RunHost("dialog");
    ASSERT_TRUE(run.exited) << "run " << i << ": " << run.signalName << "\n" << run.errors;
    ASSERT_EQ(run.status, 0) << "run " << i << "\n" << run.errors;
  }
}

TEST(PlainHostExit, IsCleanEveryTimeAfterTheAlreadyLaunchedBox) {
  auto held = HoldTheCamera();
  for (int i = 0; i < kRuns; ++i) {
    const HostRun run = RunHost("refused", {}, ScreenShown() ? AnswerBoxes : nullptr);
    ASSERT_TRUE(run.exited) << "run " << i << ": " << run.signalName << "\n" << run.errors;
    ASSERT_EQ(run.status, 0) << "run " << i << "\n" << run.errors;
    EXPECT_EQ(run.errors.find("Timers cannot be stopped from another thread"), std::string::npos) << run.errors;
  }
}

// A host that calls exit() inside the source's close request, which comes
// on the thread of the source's window: the process ends at once and
// cleanly, though that thread cannot take part in its own ending; also when
// a session object of the host takes the source's user interface down in
// its exit-time destructor, after Qt's globals are gone.
TEST(PlainHostExit, EndsAtOnceWhenTheHostExitsInsideTheCloseRequest) {
  if (!ScreenShown()) GTEST_SKIP() << "needs an X display";
  // An exit that waits for the window's thread (30 s) is still in that wait
  // when the host's main thread gives up on the dialog after 25 s (status 5).
  for (const char* session : {"exit-on-close", "exit-on-close-disabling-late"}) {
    for (int i = 0; i < 3; ++i) {
      const HostRun run = RunHost(session, {}, CloseTheDialog);
      ASSERT_TRUE(run.exited) << session << " run " << i << ": " << run.signalName << "\n" << run.errors;
      ASSERT_NE(run.errors.find("close request: exit(0)"), std::string::npos)
          << session << " run " << i << ": the dialog was not closed\n" << run.errors;
      ASSERT_EQ(run.status, 0) << session << " run " << i << ": the exit in the close request waited\n" << run.errors;
      EXPECT_EQ(run.errors.find("Timers cannot be stopped from another thread"), std::string::npos) << run.errors;
    }
  }
}

// A host that ends without closing the source: the dialog is still shown
// when the process exits; then a host after the box. Under valgrind (its path in $FOTAVI_VALGRIND) the
// exit's timing stretches, so the window may still be drawing meanwhile.
TEST(PlainHostExit, IsCleanUnderValgrindWithTheDialogStillOpenAndAfterTheBox) {
  const char* valgrind = std::getenv("FOTAVI_VALGRIND");
  if (!valgrind || !*valgrind || !ScreenShown()) GTEST_SKIP() << "needs valgrind and an X display";
  const std::vector<std::string> wrapper = {valgrind, "--error-exitcode=9", "--child-silent-after-fork=yes",
                                            "--suppressions=" TWAIN_VALGRIND_SUPPRESSIONS};
  for (int i = 0; i < 3; ++i) {
    const HostRun run = RunHost("left-open", {}, nullptr, wrapper);
    ASSERT_TRUE(run.exited) << "run " << i << ": " << run.signalName << "\n" << run.errors;
    ASSERT_EQ(run.status, 0) << "run " << i << "\n" << run.errors;
  }
  // And after the "already launched" box, answered.
  auto held = HoldTheCamera();
  const HostRun run = RunHost("refused", {}, AnswerBoxes, wrapper);
  ASSERT_TRUE(run.exited) << run.signalName << "\n" << run.errors;
  EXPECT_EQ(run.status, 0) << run.errors;
}

// A platform that draws into memory only: the box would wait for an answer
// nobody can give.
class PlainHostWithoutScreen : public ::testing::TestWithParam<const char*> {};

TEST_P(PlainHostWithoutScreen, RefusesTheOpenAtOnceWithTheBoxTextOnStandardError) {
  auto held = HoldTheCamera();
  const HostRun run = RunHost("refused", {{"QT_QPA_PLATFORM", GetParam()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  ASSERT_TRUE(run.exited) << run.signalName << "\n" << run.errors;
  EXPECT_EQ(run.status, 0) << "TWCC_NODS expected\n" << run.errors;
  EXPECT_NE(run.errors.find(kAlreadyLaunched), std::string::npos) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(Platforms, PlainHostWithoutScreen, ::testing::Values("offscreen", "minimal"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// An X display that hangs up at once, as a display server does while it
// resets after its last client left: the source's look for a display writes
// into a connection that takes nothing more, which raises SIGPIPE. The fake
// server shuts the connection's reading side first and only then lets the
// client read its authority file (a FIFO), so the client's first write
// always meets the shut connection.
class HangingUpDisplay {
 public:
  explicit HangingUpDisplay(const std::string& folder) : m_Authority(folder + "/hangup-authority") {
    mkfifo(m_Authority.c_str(), 0600);
    for (int n = 4000 + getpid() % 1000; n < 6000 && m_Listener < 0; ++n) {
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      const std::string name = "/tmp/.X11-unix/X" + std::to_string(n);  // abstract: no file is made
      std::memcpy(addr.sun_path + 1, name.data(), name.size());
      const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
      if (bind(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0 && listen(fd, 4) == 0) {
        m_Listener = fd;
        m_Display = ":" + std::to_string(n);
      } else {
        close(fd);
      }
    }
    m_Server = std::thread([this] { Serve(); });
  }
  ~HangingUpDisplay() {
    m_Server.join();
    if (m_Connection >= 0) close(m_Connection);
    if (m_Listener >= 0) close(m_Listener);
    unlink(m_Authority.c_str());
  }
  const std::string& Display() const { return m_Display; }
  const std::string& Authority() const { return m_Authority; }

 private:
  void Serve() {
    pollfd waiting{m_Listener, POLLIN, 0};
    if (m_Listener < 0 || poll(&waiting, 1, 10000) != 1) return;
    // The connection stays, but takes nothing more: the client's writes fail.
    m_Connection = accept(m_Listener, nullptr, nullptr);
    if (m_Connection >= 0) shutdown(m_Connection, SHUT_RD);
    // The client reads its authority file after connecting: an empty one.
    for (int i = 0; i < 200; ++i) {
      const int fd = open(m_Authority.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        close(fd);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  std::string m_Authority;
  std::string m_Display;
  int m_Listener = -1;
  int m_Connection = -1;
  std::thread m_Server;
};

TEST(PlainHostExit, SurvivesADisplayThatHangsUpAndRefusesTheOpenWithTheBoxTextOnStandardError) {
  HangingUpDisplay display(g_camera->Root());
  ASSERT_FALSE(display.Display().empty());
  auto held = HoldTheCamera();
  const HostRun run = RunHost("refused", {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display.Display()},
                                          {"XAUTHORITY", display.Authority()}, {"WAYLAND_DISPLAY", ""}});
  ASSERT_TRUE(run.exited) << run.signalName << "\n" << run.errors;
  EXPECT_EQ(run.status, 0) << "TWCC_NODS expected\n" << run.errors;
  EXPECT_NE(run.errors.find(kAlreadyLaunched), std::string::npos) << run.errors;
}

// Every way a host ends after the capture dialog, with and without the
// version box before (opened with Alt+A, closed with Escape, under a
// screen), the source closed first or still open: main's return, exit()
// from the main thread, a host that does its TWAIN work on a worker thread
// and returns from main, exit() from a second thread.
struct Ending {
  const char* session;
  const char* ending;
};

void PrintTo(const Ending& e, std::ostream* os) { *os << e.session << " " << e.ending; }

class PlainHostEnds : public ::testing::TestWithParam<Ending> {};

TEST_P(PlainHostEnds, CleanlyEveryTime) {
  const Ending& e = GetParam();
  const bool about = std::string(e.session).rfind("about", 0) == 0;
  if (about && !ScreenShown()) GTEST_SKIP() << "the version box needs an X display";
  for (int i = 0; i < kRuns; ++i) {
    const HostRun run = RunHost(e.session, {}, nullptr, {}, e.ending);
    ASSERT_TRUE(run.exited) << "run " << i << ": " << run.signalName << "\n" << run.errors;
    ASSERT_EQ(run.status, 0) << "run " << i << "\n" << run.errors;
    if (about) {
      ASSERT_NE(run.errors.find("version box opened and closed"), std::string::npos) << run.errors;
    }
  }
}

std::vector<Ending> AllEndings() {
  std::vector<Ending> all;
  for (const char* session : {"dialog", "about", "left-open", "about-left-open"}) {
    for (const char* ending : {"return", "exit", "worker", "second-thread"}) all.push_back({session, ending});
  }
  return all;
}

std::string EndingName(const ::testing::TestParamInfo<Ending>& info) {
  std::string name = std::string(info.param.session) + "_" + info.param.ending;
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Endings, PlainHostEnds, ::testing::ValuesIn(AllEndings()), EndingName);

// A host that ends inside a notice the source's window sent (the close
// request after Escape, the transfer after STILL and TRANSFER), on that
// window's thread, with and without the version box before.
class PlainHostEndsInANotice : public ::testing::TestWithParam<const char*> {};

TEST_P(PlainHostEndsInANotice, CleanlyEveryTime) {
  if (!ScreenShown()) GTEST_SKIP() << "needs an X display";
  const std::string session = GetParam();
  const bool onClose = session.find("close") != std::string::npos;
  for (int i = 0; i < kRuns; ++i) {
    const HostRun run = RunHost(session, {}, session == "exit-on-close" ? CloseTheDialog : nullptr);
    ASSERT_TRUE(run.exited) << "run " << i << ": " << run.signalName << "\n" << run.errors;
    ASSERT_EQ(run.status, 0) << "run " << i << "\n" << run.errors;
    ASSERT_NE(run.errors.find(onClose ? "close request: exit(0)" : "transfer notice: picture taken"), std::string::npos)
        << run.errors;
  }
}

INSTANTIATE_TEST_SUITE_P(Notices, PlainHostEndsInANotice,
                         ::testing::Values("exit-on-close", "about-exit-on-close", "exit-on-transfer",
                                           "about-exit-on-transfer"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

// A host that acquires all day: the source's exit handlers stay as many as
// after its first ten dialogs, the first close and open among them (the
// host counts the registrations made by the source's code).
TEST(PlainHostExit, TwoHundredDialogCyclesAddNoExitHandler) {
  const HostRun run = RunHost("cycles", {}, nullptr, {}, "return", kCyclesLimitMs);
  ASSERT_TRUE(run.exited) << run.signalName << "\n" << run.errors;
  EXPECT_EQ(run.status, 0) << run.errors;
  if (run.errors.find("exit handlers") != std::string::npos)
    std::printf("%s", run.errors.substr(run.errors.find("exit handlers")).c_str());
  EXPECT_NE(run.errors.find("after 200 rounds"), std::string::npos) << run.errors;
}

// An X display that takes the connection and never answers (a server
// that hangs): the capture dialog is refused within the source's start
// limit, which the child's own limit is well above, and the host goes on.
class SilentDisplay {
 public:
  SilentDisplay() {
    for (int n = 6000 + getpid() % 1000; n < 8000 && m_Listener < 0; ++n) {
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      const std::string name = "/tmp/.X11-unix/X" + std::to_string(n);  // abstract: no file is made
      std::memcpy(addr.sun_path + 1, name.data(), name.size());
      const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
      if (bind(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0 && listen(fd, 4) == 0) {
        m_Listener = fd;
        m_Display = ":" + std::to_string(n);
      } else {
        close(fd);
      }
    }
  }
  ~SilentDisplay() {
    if (m_Listener >= 0) close(m_Listener);
  }
  SilentDisplay(const SilentDisplay&) = delete;
  SilentDisplay& operator=(const SilentDisplay&) = delete;
  const std::string& Display() const { return m_Display; }

 private:
  int m_Listener = -1;  // never accepts: the client's connection waits in its queue
  std::string m_Display;
};

TEST(PlainHostExit, ADisplayThatNeverAnswersRefusesTheDialogAndTheHostGoesOn) {
  SilentDisplay display;
  ASSERT_FALSE(display.Display().empty());
  const HostRun run = RunHost("dialog-refused", {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display.Display()},
                                                 {"XAUTHORITY", g_camera->Root() + "/no-authority"},
                                                 {"WAYLAND_DISPLAY", ""}});
  ASSERT_TRUE(run.exited) << run.signalName << "\n" << run.errors;
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_NE(run.errors.find("dialog refused: condition code 2"), std::string::npos) << run.errors;
}

// A host whose exit-time destructor closes the source after the device
// library's globals are gone: the close harms nothing (under valgrind
// when it is installed, unless the build runs under a sanitizer itself).
TEST(PlainHostExit, ACloseAfterTheDeviceLibrarysEndReturnsCleanly) {
  std::vector<std::string> wrapper;
#if defined(TWAIN_VALGRIND) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  wrapper = {TWAIN_VALGRIND, "--error-exitcode=9", "--child-silent-after-fork=yes",
             "--suppressions=" TWAIN_VALGRIND_SUPPRESSIONS};
#endif
  const HostRun run = RunHost("close-at-exit", {}, nullptr, wrapper);
  ASSERT_TRUE(run.exited) << run.signalName << "\n" << run.errors;
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_NE(run.errors.find("closed at exit: 0"), std::string::npos) << run.errors;
}

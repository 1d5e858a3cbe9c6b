// A TWAIN host that is no Qt program, as most TWAIN applications are. It
// loads the source, runs one session and ends through exit(); its exit
// status is 0 when the source answered as expected:
//   PlainHost <source.ds> dialog    open, the capture dialog shown, disable,
//                                   close
//   PlainHost <source.ds> left-open open, the capture dialog shown, and the
//                                   process ends with the source still open
//   PlainHost <source.ds> acquire   open, one picture without the user
//                                   interface by native transfer, close
//   PlainHost <source.ds> refused   an open the source refuses (another
//                                   program holds the camera): TWCC_NODS
//   PlainHost <source.ds> exit-on-close
//                                   open, the capture dialog shown; the
//                                   source's close request (the user closed
//                                   the dialog) ends the process with exit(0)
//                                   from inside the notice
//   PlainHost <source.ds> exit-on-close-disabling-late
//                                   the same, and a session object of the
//                                   host's takes the source's user
//                                   interface down in its exit-time destructor
//   PlainHost <source.ds> about     open, the capture dialog shown, its
//                                   version box opened (Alt+A) and closed
//                                   (Escape) as a user does (xdotool),
//                                   disable, close
//   PlainHost <source.ds> about-left-open
//                                   the same, and the process ends with the
//                                   source still open
//   PlainHost <source.ds> [about-]exit-on-transfer
//                                   (the version box first,) a still picture
//                                   (Alt+I) and TRANSFER (Alt+T); the host
//                                   takes the picture inside the transfer
//                                   notice and ends there with exit(0)
//   PlainHost <source.ds> about-exit-on-close
//                                   the version box first, then Escape on
//                                   the dialog: exit(0) in the close request
//   PlainHost <source.ds> cycles    200 rounds of the capture dialog shown
//                                   and disabled (every tenth with a close
//                                   and an open after it); the exit handlers
//                                   the source registers are counted after
//                                   the first ten rounds (the first close
//                                   and open among them) and after the
//                                   last, and must be as many
//   PlainHost <source.ds> dialog-refused
//                                   open, and the capture dialog refused
//                                   (no display answers): TWCC_LOWMEMORY;
//                                   disable, close
//   PlainHost <source.ds> close-at-exit
//                                   open, and a session object of the
//                                   host's, made before the open, closes the
//                                   source in its exit-time destructor, after
//                                   the device library's globals are gone
// A third argument says how the process ends after the session:
//   return (main returns its status, the default), exit (exit() from the
//   main thread), worker (the session runs on a worker thread, main joins
//   it and returns), second-thread (a second thread calls exit() while the
//   main thread waits for it).
// Whatever the source made in this process must end cleanly at that exit;
// in the worker and second-thread endings no exit handler of Qt's registered
// before the session had settled may run before the source's own (status 97
// when one does).
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TwainHost.h"

using twain_test::CTwainHost;

namespace {

// Exit handlers registered by code of the source module, counted as they
// are registered (this program's __cxa_atexit stands in front of the C
// library's for every module of the process).
std::atomic<int> g_sourceExitHandlers{0};
bool g_countHandlers = false;  // the module's path is known from the load on

// The order the exit keeps. Every handler registered after the load runs
// through OrderedHandler. Once the session has settled, every handler of
// Qt's registered so far is one of a global the source's GUI thread may
// still use: none may run before the source's own exit handler has (it
// parks that thread; registered with atexit, so with no argument, unlike
// the module's static destructors). One that does ends the host at once
// with status 97, naming its module.
constexpr int kOutOfOrderStatus = 97;
struct Registered {
  void (*fn)(void*);
  void* arg;
  bool source;
  bool qt;
  unsigned long seq;
  const char* module;
};
std::atomic<unsigned long> g_registrations{0};
std::atomic<unsigned long> g_settledAt{0};  // registrations when the session had settled; 0: no check yet
std::atomic<bool> g_sourceRegistered{false};
std::atomic<bool> g_sourceRan{false};

// The records go from the registering thread to the exiting one through the
// C library's exit list, whose lock the thread sanitizer cannot see: they are
// made and read under a lock of this program's own.
std::mutex g_recordsLock;

void OrderedHandler(void* p) {
  std::unique_lock<std::mutex> held(g_recordsLock);
  auto* r = static_cast<Registered*>(p);
  if (r->source) {
    g_sourceRan = true;
  } else if (r->qt && r->seq < g_settledAt.load() && g_sourceRegistered && !g_sourceRan) {
    char line[512];
    const int n = std::snprintf(line, sizeof line, "exit handler of %s ran before the source's\n", r->module);
    if (n > 0) (void)!write(2, line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
    _exit(kOutOfOrderStatus);
  }
  const Registered handler = *r;
  delete r;
  held.unlock();
  handler.fn(handler.arg);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int __cxa_atexit(void (*fn)(void*), void* arg, void* dso) {
  using Register = int (*)(void (*)(void*), void*, void*);
  static const auto real = reinterpret_cast<Register>(dlvsym(RTLD_NEXT, "__cxa_atexit", "GLIBC_2.2.5"));
  if (!g_countHandlers) return real(fn, arg, dso);
  Dl_info info{};
  const bool known = dladdr(reinterpret_cast<void*>(fn), &info) && info.dli_fname;
  std::lock_guard<std::mutex> held(g_recordsLock);
  auto* r = new Registered{fn, arg, known && std::strstr(info.dli_fname, ".ds") != nullptr,
                           known && std::strstr(info.dli_fname, "libQt6") != nullptr, ++g_registrations,
                           known ? info.dli_fname : "an unknown module"};
  if (r->source) ++g_sourceExitHandlers;
  r->source = r->source && !arg;
  if (r->source) g_sourceRegistered = true;
  return real(OrderedHandler, r, dso);
}

namespace {

constexpr const char* kWindowName = "'^Tiryx TWAIN DS \\(K27\\)$'";
constexpr int kWindowWaitSteps = 400;  // 50 ms each: what a window is given to come or go

// The source's shown windows (the capture dialog, the version box), as X ids.
std::vector<std::string> ShownWindows() {
  std::vector<std::string> ids;
  const std::string command = std::string("timeout 10 xdotool search --onlyvisible --name ") + kWindowName + " 2>/dev/null";
  FILE* out = popen(command.c_str(), "r");
  if (!out) return ids;
  char line[64];
  while (std::fgets(line, sizeof line, out)) {
    std::string id = line;
    while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
    if (!id.empty()) ids.push_back(id);
  }
  pclose(out);
  return ids;
}

bool WaitForWindows(size_t count, std::vector<std::string>* ids) {
  for (int i = 0; i < kWindowWaitSteps; ++i) {
    *ids = ShownWindows();
    if (ids->size() == count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::fprintf(stderr, "%zu windows shown, %zu expected\n", ids->size(), count);
  return false;
}

// Keys typed into a window, given the focus first, as a user does.
bool Type(const std::string& window, const char* keys) {
  const std::string command = "timeout 20 xdotool windowfocus --sync " + window + " key " + keys + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// The version box opened with Alt+A on the shown dialog and closed with
// Escape; the dialog's X id in *dialog.
bool OpenAndCloseTheVersionBox(std::string* dialog) {
  std::vector<std::string> ids;
  if (!WaitForWindows(1, &ids)) return false;
  *dialog = ids[0];
  if (!Type(*dialog, "alt+a") || !WaitForWindows(2, &ids)) return false;
  const std::string box = ids[0] == *dialog ? ids[1] : ids[0];
  if (!Type(box, "Escape") || !WaitForWindows(1, &ids)) return false;
  std::fprintf(stderr, "version box opened and closed\n");
  return ids[0] == *dialog;
}

int About(CTwainHost& host, bool close) {
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  if (host.Enable(true) != TWRC_SUCCESS) return 4;
  std::string dialog;
  if (!OpenAndCloseTheVersionBox(&dialog)) return 5;
  if (!close) return 0;
  if (host.Disable() != TWRC_SUCCESS) return 6;
  if (host.CloseDS() != TWRC_SUCCESS) return 7;
  return 0;
}

int ExitOnTransfer(CTwainHost& host, bool about) {
  // The application takes the picture inside the notice, on the thread of
  // the source's window, and ends right there.
  host.onNotice = [&host](TW_UINT16 msg) {
    if (msg != MSG_XFERREADY) return;
    std::vector<TW_UINT8> dib;
    const TW_UINT16 rc = host.TransferNative(&dib);
    std::fprintf(stderr, "transfer notice: %s, exit(0)\n", rc == TWRC_XFERDONE ? "picture taken" : "no picture");
    std::exit(rc == TWRC_XFERDONE ? 0 : 8);
  };
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  if (host.Enable(true) != TWRC_SUCCESS) return 4;
  std::string dialog;
  std::vector<std::string> ids;
  if (about ? !OpenAndCloseTheVersionBox(&dialog) : !WaitForWindows(1, &ids)) return 5;
  if (!about) dialog = ids[0];
  if (!Type(dialog, "alt+i")) return 6;
  // TRANSFER is offered once the still picture is held: pressed until it is.
  for (int i = 0; i < kWindowWaitSteps; ++i) {
    Type(dialog, "alt+t");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 7;  // no transfer notice
}

int Dialog(CTwainHost& host) {
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  if (host.Enable(true) != TWRC_SUCCESS) return 4;
  // The window is up and drawn for a moment, as a user would see it.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  if (host.Disable() != TWRC_SUCCESS) return 5;
  if (host.CloseDS() != TWRC_SUCCESS) return 6;
  return 0;
}

int LeftOpen(CTwainHost& host) {
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  if (host.Enable(true) != TWRC_SUCCESS) return 4;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return 0;
}

int Acquire(CTwainHost& host) {
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  if (host.Enable(false) != TWRC_SUCCESS) return 4;
  if (!host.WaitNotice(MSG_XFERREADY, 1, 10000)) return 5;
  std::vector<TW_UINT8> dib;
  if (host.TransferNative(&dib) != TWRC_XFERDONE || dib.size() <= 40) return 6;
  std::printf("picture of %zu bytes\n", dib.size());
  TW_UINT16 count = 9;
  if (host.EndTransfer(&count) != TWRC_SUCCESS || count != 0) return 7;
  if (host.Disable() != TWRC_SUCCESS) return 8;
  if (host.CloseDS() != TWRC_SUCCESS) return 9;
  return 0;
}

int ExitOnClose(CTwainHost& host, bool about = false) {
  // Many hosts end at once when the source asks to be closed, right in the
  // notice, which arrives on the thread of the source's window.
  host.onNotice = [](TW_UINT16 msg) {
    if (msg != MSG_CLOSEDSREQ) return;
    std::fprintf(stderr, "close request: exit(0)\n");
    std::exit(0);
  };
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  if (host.Enable(true) != TWRC_SUCCESS) return 4;
  if (about) {
    std::string dialog;
    if (!OpenAndCloseTheVersionBox(&dialog) || !Type(dialog, "Escape")) return 6;
  }
  std::this_thread::sleep_for(std::chrono::seconds(25));
  return 5;  // nobody closed the dialog
}

int Cycles(CTwainHost& host) {
  // Every tenth round also closes and opens the source again, which ends the
  // source's Qt runtime and makes a new one.
  constexpr int kCycles = 200;
  int first = -1;
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  for (int i = 0; i < kCycles; ++i) {
    if (host.Enable(true) != TWRC_SUCCESS) return 4;
    if (host.Disable() != TWRC_SUCCESS) return 5;
    if (i % 10 == 9 && (host.CloseDS() != TWRC_SUCCESS || host.OpenDS(true) != TWRC_SUCCESS)) return 6;
    if (i == 9) first = g_sourceExitHandlers.load();
  }
  if (host.CloseDS() != TWRC_SUCCESS) return 7;
  const int last = g_sourceExitHandlers.load();
  std::fprintf(stderr, "exit handlers of the source: %d after the first ten rounds, %d after %d rounds\n", first,
               last, kCycles);
  return first == last ? 0 : 10;
}

int DialogRefused(CTwainHost& host) {
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  if (host.Enable(true) != TWRC_FAILURE) return 4;
  const TW_UINT16 cc = host.Status();
  std::fprintf(stderr, "dialog refused: condition code %u\n", cc);
  if (cc != TWCC_LOWMEMORY) return 5;
  if (host.CloseDS() != TWRC_SUCCESS) return 6;
  return 0;
}

// A host's session object whose exit-time destructor closes the source:
// made before the open loads the device library, it runs after that
// library's globals are gone.
CTwainHost* g_closingHost = nullptr;
struct ClosesAtExit {
  ~ClosesAtExit() {
    if (g_closingHost) std::fprintf(stderr, "closed at exit: %u\n", g_closingHost->CloseDS());
  }
};

int CloseAtExit(CTwainHost& host) {
  static ClosesAtExit closer;
  g_closingHost = &host;
  if (host.OpenDS(true) != TWRC_SUCCESS) return 3;
  return 0;
}

// A host's session object whose exit-time destructor takes the source's
// user interface down: made before the source is loaded, it runs after
// Qt's globals are gone.
CTwainHost* g_disablingHost = nullptr;
struct DisablesAtExit {
  ~DisablesAtExit() {
    if (g_disablingHost) g_disablingHost->Disable();
  }
};

int ExitOnCloseDisablingLate(CTwainHost& host) {
  static DisablesAtExit disabler;
  g_disablingHost = &host;
  return ExitOnClose(host);
}

int Refused(CTwainHost& host) {
  if (host.OpenDS(true) != TWRC_FAILURE) return 3;
  const TW_UINT16 cc = host.Status();
  std::printf("condition code %u\n", cc);
  return cc == TWCC_NODS ? 0 : 4;
}

int RunSession(CTwainHost& host, const std::string& session) {
  if (session == "dialog") return Dialog(host);
  if (session == "acquire") return Acquire(host);
  if (session == "left-open") return LeftOpen(host);
  if (session == "refused") return Refused(host);
  if (session == "exit-on-close") return ExitOnClose(host);
  if (session == "exit-on-close-disabling-late") return ExitOnCloseDisablingLate(host);
  if (session == "about") return About(host, true);
  if (session == "about-left-open") return About(host, false);
  if (session == "about-exit-on-close") return ExitOnClose(host, true);
  if (session == "exit-on-transfer") return ExitOnTransfer(host, false);
  if (session == "about-exit-on-transfer") return ExitOnTransfer(host, true);
  if (session == "cycles") return Cycles(host);
  if (session == "dialog-refused") return DialogRefused(host);
  if (session == "close-at-exit") return CloseAtExit(host);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s <source.ds> <session> [return|exit|worker|second-thread]\n", argv[0]);
    return 2;
  }
  static CTwainHost host;  // outlives the session objects of the exit-time tests
  std::string error;
  if (!host.Load(argv[1], &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  g_countHandlers = true;
  if (!host.Scan()) return 2;
  const std::string session = argv[2];
  const std::string ending = argc == 4 ? argv[3] : "return";
  // What the session's windows still do once it has returned (a first
  // painting) is given this long before the exit's order is held to. Only
  // where the exiting thread never called the source: the main thread's
  // own exit parks the GUI thread before any exit handler runs.
  const auto settle = [&ending] {
    if (ending != "worker" && ending != "second-thread") return;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    g_settledAt = g_registrations.load() + 1;
  };
  if (ending == "worker") {
    int status = 2;
    std::thread worker([&] { status = RunSession(host, session); });
    worker.join();
    settle();
    return status;
  }
  const int status = RunSession(host, session);
  settle();
  if (ending == "exit") std::exit(status);
  if (ending == "second-thread") {
    std::thread([status] { std::exit(status); }).join();
    return 99;  // never reached: the process ends in the other thread
  }
  return status;
}

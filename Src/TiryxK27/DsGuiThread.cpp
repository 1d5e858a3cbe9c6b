// The data source's Qt runtime for hosts without one.
//
// A host that is no Qt program gets a QApplication from the source, made,
// run and destroyed on one thread of the source's own. Its end at process
// exit follows two rules of Qt's exit-time destructors:
// - Qt's globals are destroyed in the reverse order of their making, so the
//   QApplication and its windows must go before any global made while they
//   were in use. The exit handler that ends them is registered anew after
//   every call into the thread and after a window's first painting, which
//   puts it ahead of the globals made so far.
// - Qt's plugins (platform, input context) and their instances are destroyed
//   last, when Qt's libraries are unloaded, and they keep pointers into the
//   Qt data of the thread that loaded them. That thread therefore never
//   returns: once its QApplication is destroyed it stays parked, holding
//   nothing, until the process is gone. (The source itself is never unloaded,
//   so nothing of its code goes away under it.)
#include "DsGuiThread.h"

#include <QApplication>
#include <QThread>

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Platform/Sync.h"

namespace {

constexpr unsigned kStartLimitMs = 15000;  // making the QApplication and its display connection

std::mutex g_Lock;
QObject* g_OwnContext = nullptr;      // lives on the thread the source started
std::shared_ptr<CEvent> g_OwnEnded;   // set once that thread's QApplication is destroyed
std::thread::id g_OwnThread;          // that thread
bool g_Ended = false;                 // the own thread was ended (process exit): never again
std::atomic<unsigned> g_CallLimitMs{30000};

// The platforms that draw into memory only: nobody sees their windows.
bool HeadlessPlatform(const std::string& name) { return name == "offscreen" || name == "minimal"; }

// The plugin QT_QPA_PLATFORM names (before its options and fallbacks).
std::string NamedPlatform() {
  const char* named = std::getenv("QT_QPA_PLATFORM");
  std::string platform = named ? named : "";
  return platform.substr(0, platform.find_first_of(":;"));
}

// While it lives, a write of this thread into a connection the other side
// has shut raises no SIGPIPE, whose default action would end the host: a
// display server that resets (after its last client left) hangs up on the
// probe between its connect and its first write. A SIGPIPE the writes raised
// is taken back before the thread's signal mask is restored.
class SigPipeHeld {
 public:
  SigPipeHeld() {
    sigemptyset(&m_Pipe);
    sigaddset(&m_Pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    m_bWasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &m_Pipe, &m_Old);
  }
  SigPipeHeld(const SigPipeHeld&) = delete;
  SigPipeHeld& operator=(const SigPipeHeld&) = delete;
  ~SigPipeHeld() {
    if (!m_bWasPending) {
      const timespec none{0, 0};
      while (sigtimedwait(&m_Pipe, nullptr, &none) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &m_Old, nullptr);
  }

 private:
  sigset_t m_Pipe;
  sigset_t m_Old;
  bool m_bWasPending = false;
};

// Whether Qt's platform plugin will find a display: Qt ends the process
// when it cannot open one, and this process is the host's. A plugin named
// in QT_QPA_PLATFORM that needs no display server is trusted; X11 and
// Wayland are tried with their client libraries, loaded only for the probe.
// The probe's connection stays open until Qt has its own: a display server
// with no other client resets when its last client leaves, and refuses
// connections meanwhile.
class DisplayProbe {
 public:
  DisplayProbe() = default;
  DisplayProbe(const DisplayProbe&) = delete;
  DisplayProbe& operator=(const DisplayProbe&) = delete;
  ~DisplayProbe() {
    if (m_pConnection) m_Disconnect(m_pConnection);
    if (m_pLib) dlclose(m_pLib);
  }

  bool Reachable() {
    const std::string platform = NamedPlatform();
    const bool wayland = platform.rfind("wayland", 0) == 0;
    if (!platform.empty() && platform.rfind("xcb", 0) != 0 && !wayland) return true;
    return wayland ? ConnectWayland() : ConnectX();
  }

 private:
  bool ConnectWayland() {
    m_pLib = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!m_pLib) return false;
    using Connect = void* (*)(const char*);
    auto connect = reinterpret_cast<Connect>(dlsym(m_pLib, "wl_display_connect"));
    m_Disconnect = reinterpret_cast<Disconnect>(dlsym(m_pLib, "wl_display_disconnect"));
    if (!connect || !m_Disconnect) return false;
    m_pConnection = connect(nullptr);  // WAYLAND_DISPLAY, else the default socket
    return m_pConnection != nullptr;
  }

  bool ConnectX() {
    const char* x = std::getenv("DISPLAY");
    if (!x || !*x) return false;
    m_pLib = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!m_pLib) return false;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    auto connect = reinterpret_cast<Connect>(dlsym(m_pLib, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(m_pLib, "xcb_connection_has_error"));
    m_Disconnect = reinterpret_cast<Disconnect>(dlsym(m_pLib, "xcb_disconnect"));
    if (!connect || !hasError || !m_Disconnect) return false;
    SigPipeHeld held;
    m_pConnection = connect(x, nullptr);  // never NULL: an error connection instead
    return m_pConnection && hasError(m_pConnection) == 0;
  }

  using Disconnect = void (*)(void*);
  void* m_pLib = nullptr;
  void* m_pConnection = nullptr;
  Disconnect m_Disconnect = nullptr;
};

// What the own thread hands back once its QApplication runs.
struct Start {
  CEvent ready{true, false};
  QObject* context = nullptr;
  std::thread::id thread;
};

// The own thread: its QApplication from making to destruction, then parked.
void RunOwnThread(std::shared_ptr<Start> start, std::shared_ptr<CEvent> ended) {
  static int argc = 1;
  static char name[] = "TiryxK27";
  static char* argv[] = {name, nullptr};
  auto* app = new QApplication(argc, argv);
  app->setQuitOnLastWindowClosed(false);
  auto* context = new QObject;
  start->context = context;
  start->thread = std::this_thread::get_id();
  start->ready.Set();
  app->exec();
  {
    // No call is posted to the context from here on.
    std::lock_guard<std::mutex> g(g_Lock);
    g_OwnContext = nullptr;
  }
  delete context;
  delete app;
  ended->Set();
  // Parked for the rest of the process: see the top of this file.
  for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

// At process exit: ends the own thread's Qt objects (windows, the
// QApplication) on that thread, and waits for them with a limit.
void EndAtExit() {
  std::shared_ptr<CEvent> ended;
  {
    std::lock_guard<std::mutex> g(g_Lock);
    const bool first = !g_Ended;
    g_Ended = true;
    // The handler is registered more than once; only its first run ends.
    if (!first || !g_OwnEnded) return;
    // The process is ending from inside the window's own thread (a host
    // that exits in a notice the window sent): that thread cannot run its
    // event loop to its end, so nothing is waited for. Its windows and
    // QApplication outlive Qt's globals then; every later call (a host's
    // own exit-time destructor disabling the source) finds no GUI thread, so
    // none of them touches a window again.
    if (std::this_thread::get_id() == g_OwnThread) {
      g_OwnContext = nullptr;
      return;
    }
    ended = g_OwnEnded;
    // exit(), not quit(): quit() first asks the windows to close, and the
    // capture dialog answers that by asking the application instead.
    if (g_OwnContext) QMetaObject::invokeMethod(g_OwnContext, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  }
  // Outside the lock: the thread takes it on its way out.
  ended->Wait(g_CallLimitMs.load());
}

// The host's main thread leaving through exit() (or main's return) ends
// the own thread's Qt objects before anything else of the exit runs: the C
// library calls the exiting thread's thread_local destructors ahead of every
// exit handler and global destructor, so no Qt global has gone yet however
// late it was made (a window may be halfway through its first painting).
// The exit handler stays for a host that exits from another thread.
struct MainThreadExitGuard {
  ~MainThreadExitGuard() { EndAtExit(); }
};

void GuardMainThreadExit() {
  if (static_cast<pid_t>(syscall(SYS_gettid)) != getpid()) return;
  static thread_local MainThreadExitGuard guard;  // its destructor is noted at its making
  (void)guard;
}

// An object that lives on the GUI thread, NULL when there is none. Called
// with g_Lock held.
QObject* GuiContextLocked() {
  if (g_OwnEnded) return g_OwnContext;
  if (g_Ended) return nullptr;
  if (QCoreApplication* host = QCoreApplication::instance()) {
    // Widgets need a QApplication; a host with a plain Qt core or GUI
    // application would be ended by the first one. There can be no second
    // application object, so such a host gets no windows.
    return qobject_cast<QApplication*>(host) ? host : nullptr;
  }
  // Without a display Qt would end the process: no window then.
  DisplayProbe probe;
  if (!probe.Reachable()) return nullptr;
  // The host runs no Qt event loop: run one on a thread of our own.
  auto start = std::make_shared<Start>();
  auto ended = std::make_shared<CEvent>(true, false);
  std::thread(RunOwnThread, start, ended).detach();
  if (start->ready.Wait(kStartLimitMs) != WAIT_OBJECT_0) {
    g_Ended = true;  // no second try: it may still come up, and then runs idle
    return nullptr;
  }
  g_OwnContext = start->context;
  g_OwnThread = start->thread;
  g_OwnEnded = ended;
  std::atexit(EndAtExit);
  return g_OwnContext;
}

}  // namespace

unsigned DsGuiCallLimit() { return g_CallLimitMs.load(); }

void SetDsGuiCallLimit(unsigned timeoutMs) { g_CallLimitMs = timeoutMs; }

bool DsScreenAvailable() {
  if (QCoreApplication::instance() && qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    return !HeadlessPlatform(QGuiApplication::platformName().toStdString());
  if (HeadlessPlatform(NamedPlatform())) return false;
  std::lock_guard<std::mutex> g(g_Lock);
  return GuiContextLocked() != nullptr;
}

bool RunOnDsGuiThread(std::function<void()> fn, unsigned timeoutMs) {
  struct Call {
    std::function<void()> fn;
    CEvent done{true, false};
  };
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  bool here = false;
  GuardMainThreadExit();
  {
    // Posted under the lock, so the own thread's context cannot go meanwhile.
    std::lock_guard<std::mutex> g(g_Lock);
    QObject* context = GuiContextLocked();
    if (!context) return false;
    here = QThread::currentThread() == context->thread();
    if (!here && !QMetaObject::invokeMethod(context, [call] {
          call->fn();
          call->done.Set();
        }, Qt::QueuedConnection))
      return false;
  }
  bool done = true;
  if (here) call->fn();
  else done = call->done.Wait(timeoutMs) == WAIT_OBJECT_0;
  // Whatever the call did may have made Qt globals.
  DsGuiMayHaveMadeGlobals();
  return done;
}

void DsGuiMayHaveMadeGlobals() {
  std::lock_guard<std::mutex> g(g_Lock);
  if (g_OwnEnded && !g_Ended) std::atexit(EndAtExit);
}

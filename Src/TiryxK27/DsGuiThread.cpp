// The data source's Qt runtime for hosts without one.
//
// A host that is no Qt program gets a QApplication from the source, made,
// run and destroyed on one thread of the source's own. The runtime lives
// from the first call that needs a window to the source's close: there, on
// that thread, its windows and the QApplication are destroyed while every
// Qt global still stands. The next call that needs a window makes a new one
// on the same thread.
//
// What still runs when the process exits is never destroyed in the exit
// sequence: Qt destroys its globals there in the reverse order of their
// making, and globals made by late GUI work (the version box, a message box,
// a window's first painting) would go before anything the source could
// register. Instead the runtime is marked abandoned and the GUI thread is
// parked inside a call of its own, so it touches nothing of Qt while Qt's
// globals go; the process's end takes the rest. That is done by the host's
// main thread's exit (a thread_local guard: the C library runs the exiting
// thread's thread_local destructors before every exit handler) and, for
// exits from other threads, by an exit handler. Exit handlers run in the
// reverse order of their registration, and Qt registers the destructor of
// each of its globals when it first makes it, on the GUI thread: while the
// application object is made, and when a kind of window is first painted.
// So the handler is registered when the own thread starts, and again on the
// GUI thread once the first application object stands, after the first
// painting of each kind of window and after the first runtime's end: a fixed
// number per process (the kinds of window are the source's few), each after
// the globals that work made.
//
// The thread itself never returns: Qt's plugins (platform, input context)
// and their instances are destroyed last, when Qt's libraries are unloaded,
// and they keep pointers into the Qt data of the thread that loaded them.
// Between runtimes it waits, holding nothing, for the next start. (The
// source itself is never unloaded, so nothing of its code goes away under
// it.)
#include "DsGuiThread.h"

#include <QApplication>
#include <QEvent>
#include <QOpenGLContext>
#include <QThread>
#include <QWidget>

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "Platform/Sync.h"

namespace {

constexpr unsigned kStartLimitMs = 15000;  // the display's answer and the QApplication's making

// The source's own runtime, all under g_Lock; g_Changed tells of every change.
enum class Runtime { Idle, Starting, Running, Ending };

// Never destroyed: the own thread waits on them for the rest of the
// process, and a condition variable's destruction at exit would wait for it.
std::mutex& g_Lock = *new std::mutex;
std::condition_variable& g_Changed = *new std::condition_variable;
bool g_ThreadMade = false;            // the own thread, started once per process
Runtime g_State = Runtime::Idle;
std::uint64_t g_StartsAsked = 0;      // starts asked for ...
std::uint64_t g_StartsAnswered = 0;   // ... and answered by the own thread (running, or no display)
QObject* g_OwnContext = nullptr;      // lives on the own thread while calls may be posted to it
std::thread::id g_OwnThread;          // that thread
bool g_Abandoned = false;             // the process is exiting: the runtime is left as it stands
bool g_Parked = false;                // the GUI thread has stopped for the rest of the process
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

// Waits, with the lock released meanwhile, until `done` holds; FALSE when
// the limit ran out first.
template <typename Done>
bool WaitLocked(std::unique_lock<std::mutex>& l, unsigned limitMs, Done done) {
  return g_Changed.wait_for(l, std::chrono::milliseconds(limitMs), done);
}

void AbandonAtExit();

// Registers the exit handler that leaves the runtime as it stands.
void RegisterAbandonAtExit() { std::atexit(AbandonAtExit); }

// On the own thread, for its runtime: registers the exit handler again after
// the first painting of each kind of window in this process, from the next
// turn, once the painting (the window's and its children's) is over.
class ExitOrderKeeper : public QObject {
 public:
  explicit ExitOrderKeeper(QObject* parent) : QObject(parent) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow()) {
      const char* kind = watched->metaObject()->className();  // static text of the class
      // Counted once registered: a turn lost with its runtime is asked again.
      if (!PaintedKinds().count(std::string_view(kind))) {
        QMetaObject::invokeMethod(this, [kind = std::string(kind)] {
          if (PaintedKinds().insert(kind).second) RegisterAbandonAtExit();
        }, Qt::QueuedConnection);
      }
    }
    return false;
  }

 private:
  // The kinds painted so far in this process (the own thread's only).
  // Looked up without a copy: every later painting of a window asks.
  static std::set<std::string, std::less<>>& PaintedKinds() {
    static std::set<std::string, std::less<>>& kinds = *new std::set<std::string, std::less<>>;
    return kinds;
  }
};

// The own thread: one runtime after another, each from its QApplication's
// making to its destruction, then waiting for the next start.
void RunOwnThread() {
  static bool registeredAfterMaking = false;  // the own thread's only
  static bool registeredAfterEnding = false;
  static int argc = 1;
  static char name[] = "TiryxK27";
  static char* argv[] = {name, nullptr};
  std::unique_lock<std::mutex> l(g_Lock);
  g_OwnThread = std::this_thread::get_id();
  for (;;) {
    // Idle between runtimes; once the runtime is abandoned, for good.
    g_Changed.wait(l, [] { return !g_Abandoned && g_StartsAnswered < g_StartsAsked; });
    g_State = Runtime::Starting;
    l.unlock();
    // The display's answer takes as long as the display does: the caller
    // waits for it with the start limit, not holding the lock.
    auto probe = std::make_unique<DisplayProbe>();
    const bool reachable = probe->Reachable();
    QApplication* app = nullptr;
    QObject* context = nullptr;
    if (reachable) {
      app = new QApplication(argc, argv);
      app->setQuitOnLastWindowClosed(false);
      context = new QObject;
      app->installEventFilter(new ExitOrderKeeper(context));  // goes with the context
      if (!registeredAfterMaking) {
        registeredAfterMaking = true;
        // The first window's destruction asks for the thread's current GL
        // context, whose global Qt makes on that first asking: made now, so
        // that it, too, goes after the handler runs.
        (void)QOpenGLContext::currentContext();
        RegisterAbandonAtExit();  // after the globals the application object made
      }
    }
    // Qt has its own connection now.
    probe.reset();
    l.lock();
    g_StartsAnswered = g_StartsAsked;  // this runtime, or its failure, answers every start asked so far
    if (!app || g_Abandoned) {
      g_State = Runtime::Idle;
      g_Changed.notify_all();
      continue;
    }
    g_OwnContext = context;
    g_State = Runtime::Running;
    g_Changed.notify_all();
    l.unlock();
    app->exec();
    l.lock();
    // No call is posted to the context from here on.
    g_OwnContext = nullptr;
    if (g_Abandoned) continue;  // the process is exiting: nothing is destroyed
    g_State = Runtime::Ending;
    l.unlock();
    // What was queued before the end still runs (a window's late deletion).
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete context;
    delete app;
    if (!registeredAfterEnding) {
      registeredAfterEnding = true;
      RegisterAbandonAtExit();  // after the globals the first end made, for the runtimes after it
    }
    l.lock();
    g_State = Runtime::Idle;
    g_Changed.notify_all();
  }
}

// At process exit: the runtime is left as it stands. The GUI thread, unless
// it is the one exiting, is parked inside a call of its own (waited for with
// the call limit), so nothing of Qt runs on it while Qt's globals go.
void AbandonAtExit() {
  std::unique_lock<std::mutex> l(g_Lock);
  if (g_Abandoned) return;
  g_Abandoned = true;
  g_Changed.notify_all();
  QObject* context = g_OwnContext;
  g_OwnContext = nullptr;
  // A host that exits inside a notice the window sent exits on the GUI
  // thread: it runs no event loop any more, and every later call (a host's
  // own exit-time destructor disabling the source) finds no GUI thread.
  if (std::this_thread::get_id() == g_OwnThread) return;
  if (g_State == Runtime::Ending) {
    // A close is destroying the runtime on its thread: that ends while
    // every Qt global still stands, so the exit waits for it.
    WaitLocked(l, g_CallLimitMs.load(), [] { return g_State != Runtime::Ending; });
    return;
  }
  if (!context) return;
  QMetaObject::invokeMethod(context, [] {
    std::unique_lock<std::mutex> parked(g_Lock);
    g_Parked = true;
    g_Changed.notify_all();
    for (;;) g_Changed.wait(parked);
  }, Qt::QueuedConnection);
  g_Changed.wait_for(l, std::chrono::milliseconds(g_CallLimitMs.load()), [] { return g_Parked; });
}

// The host's main thread leaving through exit() (or main's return) abandons
// the runtime before anything else of the exit runs: the C library calls the
// exiting thread's thread_local destructors ahead of every exit handler and
// global destructor, so no Qt global has gone yet, however late it was made.
struct MainThreadExitGuard {
  ~MainThreadExitGuard() { AbandonAtExit(); }
};

void GuardMainThreadExit() {
  if (static_cast<pid_t>(syscall(SYS_gettid)) != getpid()) return;
  static thread_local MainThreadExitGuard guard;  // its destructor is noted at its making
  (void)guard;
}

// An object that lives on the GUI thread, NULL when there is none. Called
// with g_Lock held (in `l`), which it releases while it waits for the own
// runtime to end or start.
QObject* GuiContextLocked(std::unique_lock<std::mutex>& l) {
  if (g_Abandoned) return nullptr;
  const bool onOwnThread = g_ThreadMade && std::this_thread::get_id() == g_OwnThread;
  if (g_State == Runtime::Ending) {
    // The last runtime is going away; a new one follows it.
    if (onOwnThread || !WaitLocked(l, g_CallLimitMs.load(), [] { return g_Abandoned || g_State != Runtime::Ending; }))
      return nullptr;
    if (g_Abandoned) return nullptr;
  }
  if (g_State == Runtime::Running) return g_OwnContext;
  if (g_State == Runtime::Idle) {
    if (QCoreApplication* host = QCoreApplication::instance()) {
      // Widgets need a QApplication; a host with a plain Qt core or GUI
      // application would be ended by the first one. There can be no second
      // application object, so such a host gets no windows.
      return qobject_cast<QApplication*>(host) ? host : nullptr;
    }
  }
  if (onOwnThread) return nullptr;
  // The host runs no Qt event loop: the own thread runs one. It looks for
  // the display first: without one Qt would end the process.
  if (!g_ThreadMade) {
    g_ThreadMade = true;
    std::thread(RunOwnThread).detach();
    // First when there is first a runtime to leave (an exit while it starts).
    RegisterAbandonAtExit();
  }
  const std::uint64_t asked = ++g_StartsAsked;
  g_Changed.notify_all();
  // A display that does not answer holds only this wait, and no longer than
  // the start limit; a start that comes up later serves the next call.
  WaitLocked(l, kStartLimitMs, [asked] { return g_Abandoned || g_StartsAnswered >= asked || g_State == Runtime::Running; });
  return !g_Abandoned && g_State == Runtime::Running ? g_OwnContext : nullptr;
}

}  // namespace

unsigned DsGuiCallLimit() { return g_CallLimitMs.load(); }

void SetDsGuiCallLimit(unsigned timeoutMs) { g_CallLimitMs = timeoutMs; }

bool DsScreenAvailable() {
  {
    std::lock_guard<std::mutex> g(g_Lock);
    const bool own = g_State != Runtime::Idle;  // the application object there is the source's
    if (!own && QCoreApplication::instance() && qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
      return !HeadlessPlatform(QGuiApplication::platformName().toStdString());
  }
  if (HeadlessPlatform(NamedPlatform())) return false;
  GuardMainThreadExit();
  std::unique_lock<std::mutex> l(g_Lock);
  return GuiContextLocked(l) != nullptr;
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
    std::unique_lock<std::mutex> l(g_Lock);
    QObject* context = GuiContextLocked(l);
    if (!context) return false;
    here = QThread::currentThread() == context->thread();
    if (!here && !QMetaObject::invokeMethod(context, [call] {
          call->fn();
          call->done.Set();
        }, Qt::QueuedConnection))
      return false;
  }
  if (here) {
    call->fn();
    return true;
  }
  return call->done.Wait(timeoutMs) == WAIT_OBJECT_0;
}

void EndDsGuiThread() {
  std::unique_lock<std::mutex> l(g_Lock);
  if (g_Abandoned || g_State != Runtime::Running || !g_OwnContext) return;
  // exit(), not quit(): quit() first asks the windows to close, and the
  // capture dialog answers that by asking the application instead.
  QMetaObject::invokeMethod(g_OwnContext, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  // Nothing is posted behind the end.
  g_OwnContext = nullptr;
  g_State = Runtime::Ending;
  if (std::this_thread::get_id() == g_OwnThread) return;
  WaitLocked(l, g_CallLimitMs.load(), [] { return g_Abandoned || g_State != Runtime::Ending; });
}

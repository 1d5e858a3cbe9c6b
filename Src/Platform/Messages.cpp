#include "Messages.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "DeviceInterface.h"
#include "Time.h"

namespace {

// One message queue per known thread.
struct Queue {
  std::mutex m;
  std::condition_variable cv;
  std::deque<MSG> messages;
  std::function<void()> wakeHook;
  bool closed = false;
};

struct WindowEntry {
  DWORD ownerThread = 0;
  UINT flags = 0;
  std::string title;
  std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> proc;
};

// Process-wide tables: thread queues by id and windows by handle value.
struct Registry {
  std::mutex m;
  std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;
  std::map<uintptr_t, std::shared_ptr<WindowEntry>> windows;
  DWORD nextThreadId = 1000;
  uintptr_t nextWindow = 0x10000;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: threads may outlive static destruction
  return *r;
}

// Per-thread registration; unregisters the queue when the thread ends.
struct ThreadSlot {
  DWORD id = 0;
  std::shared_ptr<Queue> queue;
  bool platformThread = false;  // started through CPlatformThread
  ~ThreadSlot() {
    if (id != 0) {
      Registry& r = registry();
      std::lock_guard<std::mutex> lock(r.m);
      r.queues.erase(id);
      queue->closed = true;
    }
  }
};

thread_local ThreadSlot t_slot;

DWORD allocateThreadId(std::shared_ptr<Queue>* queueOut) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.m);
  DWORD id = r.nextThreadId++;
  if (r.nextThreadId == 0) r.nextThreadId = 1000;
  auto q = std::make_shared<Queue>();
  r.queues[id] = q;
  *queueOut = q;
  return id;
}

Queue& currentQueue() {
  if (t_slot.id == 0) t_slot.id = allocateThreadId(&t_slot.queue);
  return *t_slot.queue;
}

std::shared_ptr<Queue> findQueue(DWORD id) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.m);
  auto it = r.queues.find(id);
  return it == r.queues.end() ? nullptr : it->second;
}

std::shared_ptr<WindowEntry> findWindow(HWND hwnd) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.m);
  auto it = r.windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == r.windows.end() ? nullptr : it->second;
}

bool appendMessage(const std::shared_ptr<Queue>& q, const MSG& msg) {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(q->m);
    if (q->closed) return false;
    q->messages.push_back(msg);
    hook = q->wakeHook;
  }
  q->cv.notify_one();
  if (hook) hook();
  return true;
}

MSG makeMsg(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG m;
  m.hwnd = hwnd;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = GetTickCount();
  return m;
}

}  // namespace

DWORD GetCurrentThreadId() {
  currentQueue();
  return t_slot.id;
}

BOOL PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto q = findQueue(threadId);
  if (!q || !appendMessage(q, makeMsg(nullptr, msg, wParam, lParam))) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return TRUE;
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (hwnd == nullptr) {
    currentQueue();
    return appendMessage(t_slot.queue, makeMsg(nullptr, msg, wParam, lParam)) ? TRUE : FALSE;
  }
  auto w = findWindow(hwnd);
  std::shared_ptr<Queue> q = w ? findQueue(w->ownerThread) : nullptr;
  if (!q || !appendMessage(q, makeMsg(hwnd, msg, wParam, lParam))) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  currentQueue();
  appendMessage(t_slot.queue, makeMsg(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0));
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = findWindow(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return w->proc(hwnd, msg, wParam, lParam);
}

DWORD GetMessageTimeout(MSG* msg, DWORD timeoutMs) {
  Queue& q = currentQueue();
  std::unique_lock<std::mutex> lock(q.m);
  auto ready = [&] { return !q.messages.empty(); };
  if (timeoutMs == INFINITE) {
    q.cv.wait(lock, ready);
  } else if (!q.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return WAIT_TIMEOUT;
  }
  *msg = q.messages.front();
  q.messages.pop_front();
  // A platform thread's loop ends with the WM_QUIT it takes, whichever loop
  // it runs: from now on a post to it fails instead of waiting in a queue
  // that nobody reads. What came before stays queued for the thread's own
  // drain.
  if (msg->message == WM_QUIT && t_slot.platformThread) q.closed = true;
  return WAIT_OBJECT_0;
}

BOOL GetMessage(MSG* msg) {
  GetMessageTimeout(msg, INFINITE);
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessage(MSG* msg, BOOL remove) {
  Queue& q = currentQueue();
  std::lock_guard<std::mutex> lock(q.m);
  if (q.messages.empty()) return FALSE;
  *msg = q.messages.front();
  if (remove) q.messages.pop_front();
  return TRUE;
}

LRESULT DispatchMessage(const MSG* msg) {
  if (msg->hwnd == nullptr) return 0;
  auto w = findWindow(msg->hwnd);
  if (!w) return 0;
  return w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

size_t GetQueueLength() {
  Queue& q = currentQueue();
  std::lock_guard<std::mutex> lock(q.m);
  return q.messages.size();
}

void SetThreadWakeHook(std::function<void()> hook) {
  Queue& q = currentQueue();
  bool pending;
  {
    std::lock_guard<std::mutex> lock(q.m);
    q.wakeHook = hook;
    pending = !q.messages.empty();
  }
  // Messages posted before the hook existed still need a drain.
  if (hook && pending) hook();
}

size_t DrainMessages(const std::function<void(const MSG&)>& onThreadMessage, bool* quit) {
  size_t handled = 0;
  if (quit) *quit = false;
  MSG msg;
  while (PeekMessage(&msg, TRUE)) {
    if (msg.message == WM_QUIT) {
      if (quit) *quit = true;
      break;
    }
    ++handled;
    if (msg.hwnd != nullptr) {
      DispatchMessage(&msg);
    } else if (onThreadMessage) {
      onThreadMessage(msg);
    }
  }
  return handled;
}

int RunMessageLoop(const std::function<void(const MSG&)>& onThreadMessage) {
  MSG msg;
  while (GetMessage(&msg)) {
    if (msg.hwnd != nullptr) {
      DispatchMessage(&msg);
    } else if (onThreadMessage) {
      onThreadMessage(msg);
    }
  }
  // In a platform thread GetMessage has closed the queue with the WM_QUIT.
  return static_cast<int>(msg.wParam);
}

// ---------------------------------------------------------------- threads

struct CPlatformThread::State {
  DWORD id = 0;
  std::shared_ptr<Queue> queue;
  std::function<void()> body;
  std::thread thread;
  std::mutex m;
  std::condition_variable cv;
  bool started = false;
  bool ended = false;
  std::string name;
};

CPlatformThread::CPlatformThread(std::function<void()> body, bool suspended, std::string name)
    : state_(std::make_shared<State>()) {
  state_->body = std::move(body);
  state_->name = std::move(name);
  state_->id = allocateThreadId(&state_->queue);
  if (!suspended) Resume();
}

CPlatformThread::~CPlatformThread() {
  if (!state_->started) {
    // Never ran: drop its queue so posts to it fail from now on.
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.m);
    r.queues.erase(state_->id);
    state_->queue->closed = true;
    return;
  }
  if (state_->thread.joinable()) {
    if (HasEnded()) {
      state_->thread.join();
    } else {
      state_->thread.detach();
    }
  }
}

DWORD CPlatformThread::id() const { return state_->id; }

bool CPlatformThread::Resume() {
  std::lock_guard<std::mutex> lock(state_->m);
  if (state_->started) return false;
  state_->started = true;
  std::shared_ptr<State> st = state_;
  st->thread = std::thread([st] {
    // Named for the system's tools (top, gdb, perf, /proc), cut to the
    // 15 characters a thread name holds.
    if (!st->name.empty()) pthread_setname_np(pthread_self(), st->name.substr(0, 15).c_str());
    t_slot.id = st->id;
    t_slot.queue = st->queue;
    t_slot.platformThread = true;
    st->body();
    // Unregister before signalling the end, so posts after Join() fail.
    {
      Registry& r = registry();
      std::lock_guard<std::mutex> lock(r.m);
      r.queues.erase(st->id);
      std::lock_guard<std::mutex> qlock(st->queue->m);
      st->queue->closed = true;
      st->queue->messages.clear();
    }
    t_slot.id = 0;
    t_slot.queue.reset();
    t_slot.platformThread = false;
    {
      std::lock_guard<std::mutex> lock(st->m);
      st->ended = true;
    }
    st->cv.notify_all();
  });
  return true;
}

bool CPlatformThread::Join(DWORD timeoutMs) {
  {
    std::unique_lock<std::mutex> lock(state_->m);
    if (!state_->started) return false;
    auto ended = [&] { return state_->ended; };
    if (timeoutMs == INFINITE) {
      state_->cv.wait(lock, ended);
    } else if (!state_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended)) {
      return false;
    }
  }
  if (state_->thread.joinable() && state_->thread.get_id() != std::this_thread::get_id()) state_->thread.join();
  return true;
}

bool CPlatformThread::HasEnded() const {
  std::lock_guard<std::mutex> lock(state_->m);
  return state_->ended;
}

// ---------------------------------------------------------------- windows

HWND CreateWindowTarget(std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> proc, const std::string& title,
                        UINT flags) {
  auto entry = std::make_shared<WindowEntry>();
  entry->ownerThread = GetCurrentThreadId();
  entry->flags = flags;
  entry->title = title;
  entry->proc = std::move(proc);
  HWND hwnd;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.m);
    uintptr_t value = r.nextWindow;
    r.nextWindow += 4;
    r.windows[value] = entry;
    hwnd = reinterpret_cast<HWND>(value);
  }
  if (entry->proc(hwnd, WM_CREATE, 0, 0) == -1) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.m);
    r.windows.erase(reinterpret_cast<uintptr_t>(hwnd));
    return nullptr;
  }
  if (flags & WTF_TOPLEVEL) StartDeviceWatcher();
  return hwnd;
}

HWND CreateWindowTarget(IWindowProc* proc, const std::string& title, UINT flags) {
  if (proc == nullptr) return nullptr;
  return CreateWindowTarget(
      [proc](HWND h, UINT m, WPARAM w, LPARAM l) { return proc->WindowProc(h, m, w, l); }, title, flags);
}

BOOL DestroyWindow(HWND hwnd) {
  auto w = findWindow(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  w->proc(hwnd, WM_DESTROY, 0, 0);
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.m);
  r.windows.erase(reinterpret_cast<uintptr_t>(hwnd));
  return TRUE;
}

BOOL IsWindow(HWND hwnd) { return findWindow(hwnd) ? TRUE : FALSE; }

DWORD GetWindowThreadId(HWND hwnd) {
  auto w = findWindow(hwnd);
  return w ? w->ownerThread : 0;
}

std::string GetWindowTitle(HWND hwnd) {
  auto w = findWindow(hwnd);
  return w ? w->title : std::string();
}

HWND FindWindowByTitle(const std::string& title) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.m);
  for (auto& [value, entry] : r.windows) {
    if (entry->title == title) return reinterpret_cast<HWND>(value);
  }
  return nullptr;
}

int BroadcastSystemMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  std::vector<HWND> targets;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.m);
    for (auto& [value, entry] : r.windows) {
      if (entry->flags & WTF_TOPLEVEL) targets.push_back(reinterpret_cast<HWND>(value));
    }
  }
  int reached = 0;
  for (HWND h : targets) reached += PostMessage(h, msg, wParam, lParam) ? 1 : 0;
  return reached;
}

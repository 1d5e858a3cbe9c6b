// Threads with message queues, message targets ("windows") and posted
// messages. Built on std::thread and condition variables; works in a process
// without any GUI toolkit.
//
// Every thread known to the platform has one message queue. A thread becomes
// known when it is created through CPlatformThread (its queue exists before it
// runs, so early posts are kept) or, for threads the platform did not start,
// on its first call to GetCurrentThreadId(), CreateWindowTarget() or a message
// function. A known thread's queue is removed when the thread ends; later
// posts to it fail. A CPlatformThread stops taking messages as soon as its
// loop (RunMessageLoop, GetMessage or GetMessageTimeout) has taken WM_QUIT:
// from then on posts to it fail, so a post
// is either handled (by the loop or the drain that follows it) or refused,
// never accepted and lost.
//
// A window handle (HWND) names a message target owned by the thread that
// created it. PostMessage appends to the owner's queue; the owner's message
// loop hands the message to the target's procedure. Handles are never reused,
// so posting to a destroyed target fails cleanly.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Types.h"

struct MSG {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;
};

// ---------------------------------------------------------------- threads

// Platform thread id of the caller (registers the caller's queue on first use).
FOTAVI_PLATFORM_API DWORD GetCurrentThreadId();

// Appends a thread message (hwnd NULL) to the queue of thread `threadId`.
// FALSE with ERROR_INVALID_THREAD_ID when no such thread has a queue (never
// existed or has ended).
FOTAVI_PLATFORM_API BOOL PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);

// Appends a message for `hwnd` to the queue of the thread that owns it.
// hwnd NULL posts a thread message to the calling thread's own queue.
// FALSE with ERROR_INVALID_WINDOW_HANDLE when the handle is unknown or destroyed.
FOTAVI_PLATFORM_API BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Posts WM_QUIT with the given exit code to the calling thread's queue.
FOTAVI_PLATFORM_API void PostQuitMessage(int exitCode);

// Calls the target's procedure directly on the calling thread. Returns 0 when
// the handle is not a window.
FOTAVI_PLATFORM_API LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Waits for the next message of the calling thread's queue. Returns FALSE when
// the message is WM_QUIT, TRUE otherwise. In a CPlatformThread, taking WM_QUIT
// (here or in GetMessageTimeout) closes the queue: later posts fail, and the
// messages already queued stay for the thread to drain.
FOTAVI_PLATFORM_API BOOL GetMessage(MSG* msg);

// Like GetMessage but waits at most `timeoutMs`; returns WAIT_OBJECT_0 with the
// message, or WAIT_TIMEOUT.
FOTAVI_PLATFORM_API DWORD GetMessageTimeout(MSG* msg, DWORD timeoutMs);

// Takes the next message without waiting. FALSE when the queue is empty.
FOTAVI_PLATFORM_API BOOL PeekMessage(MSG* msg, BOOL remove = TRUE);

// Hands a message addressed to a window to that window's procedure (on the
// calling thread). Thread messages (hwnd NULL) and messages for destroyed
// windows are dropped; returns the procedure's result or 0.
FOTAVI_PLATFORM_API LRESULT DispatchMessage(const MSG* msg);

// Number of messages waiting in the calling thread's queue.
FOTAVI_PLATFORM_API size_t GetQueueLength();

// Wake hook for a thread that runs someone else's event loop (the Qt GUI
// thread). After each post to that thread's queue the hook is called, on the
// posting thread. The hook typically schedules a drain of the queue inside the
// foreign loop. Pass an empty function to remove it.
FOTAVI_PLATFORM_API void SetThreadWakeHook(std::function<void()> hook);

// Drains the calling thread's queue: window messages are dispatched, thread
// messages go to `onThreadMessage` when given (else they are dropped).
// Returns the number of messages handled. Stops early (leaving the rest) when
// WM_QUIT is met; the WM_QUIT is consumed and `*quit` set when given.
FOTAVI_PLATFORM_API size_t DrainMessages(const std::function<void(const MSG&)>& onThreadMessage = {},
                                         bool* quit = nullptr);

// A thread with its own message queue. The body usually runs a message loop
// until WM_QUIT. The queue exists from construction, so posts made before the
// thread runs (or while created suspended) are kept.
class FOTAVI_PLATFORM_API CPlatformThread {
 public:
  CPlatformThread(std::function<void()> body, bool suspended = false, std::string name = {});
  ~CPlatformThread();  // joins when the thread has ended, otherwise detaches
  CPlatformThread(const CPlatformThread&) = delete;
  CPlatformThread& operator=(const CPlatformThread&) = delete;

  DWORD id() const;
  // Starts a thread created suspended. FALSE when it already runs.
  bool Resume();
  // Waits at most `timeoutMs` for the thread to end. TRUE when it has ended.
  bool Join(DWORD timeoutMs = INFINITE);
  bool HasEnded() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// The standard loop for a thread body: waits for messages until WM_QUIT;
// window messages are dispatched, thread messages go to `onThreadMessage`.
// Returns WM_QUIT's exit code. In a CPlatformThread the queue is closed when
// the loop ends: later posts fail, and the messages already queued stay for
// the body to drain (DrainMessages) before it returns; whatever is left when
// the body returns is discarded.
FOTAVI_PLATFORM_API int RunMessageLoop(const std::function<void(const MSG&)>& onThreadMessage);

// ---------------------------------------------------------------- windows

class IWindowProc {
 public:
  virtual ~IWindowProc() = default;
  virtual LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

// Flags for CreateWindowTarget.
constexpr UINT WTF_TOPLEVEL = 0x1;        // receives system broadcasts (device change, power)

// Creates a message target owned by the calling thread. The procedure must
// outlive the target (DestroyWindow before deleting it). WM_CREATE is sent to
// the procedure before the handle is returned; a result of -1 destroys the
// target again and returns NULL.
FOTAVI_PLATFORM_API HWND CreateWindowTarget(IWindowProc* proc, const std::string& title, UINT flags = 0);
// Same with a callable as procedure.
FOTAVI_PLATFORM_API HWND CreateWindowTarget(std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> proc,
                                            const std::string& title, UINT flags = 0);
// Sends WM_DESTROY to the procedure and removes the handle. Messages still
// queued for it are dropped when they come up.
FOTAVI_PLATFORM_API BOOL DestroyWindow(HWND hwnd);
FOTAVI_PLATFORM_API BOOL IsWindow(HWND hwnd);
// Platform thread id of the window's owner, 0 when not a window.
FOTAVI_PLATFORM_API DWORD GetWindowThreadId(HWND hwnd);
FOTAVI_PLATFORM_API std::string GetWindowTitle(HWND hwnd);
// First window with this title, NULL when none.
FOTAVI_PLATFORM_API HWND FindWindowByTitle(const std::string& title);

// Posts a system broadcast (WM_DEVICECHANGE, WM_POWERBROADCAST) to every
// top-level target. Returns how many targets it reached.
FOTAVI_PLATFORM_API int BroadcastSystemMessage(UINT msg, WPARAM wParam, LPARAM lParam);

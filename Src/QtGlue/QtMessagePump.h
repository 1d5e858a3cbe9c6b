// Drains the platform message queue of a Qt GUI thread inside Qt's event
// loop: a post to the GUI thread's platform queue calls the thread's wake
// hook, which schedules one queued Qt call that dispatches every waiting
// platform message. So device-library completions and other platform
// messages reach program windows on the GUI thread.
#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "Platform/Messages.h"

class QtMessagePump : public QObject {
  Q_OBJECT
 public:
  // Attaches the calling thread (which must be this object's thread, normally
  // the GUI thread) to the platform. `onThreadMessage` receives thread
  // messages (hwnd NULL); window messages go to their targets.
  explicit QtMessagePump(std::function<void(const MSG&)> onThreadMessage = {}, QObject* parent = nullptr);
  // Waits for a post that is scheduling a drain on another thread; posts
  // after it schedule nothing (their messages stay queued for the thread's
  // next pump or loop).
  ~QtMessagePump() override;

  // Handles everything waiting now (also called by the scheduled drain).
  size_t Drain();

 private:
  void Schedule();

  // Shared with the wake hook, which runs on posting threads: the hook
  // schedules under the lock, and the destructor clears the pump under it,
  // so no post can be inside Schedule() once the destructor goes on.
  struct Cell {
    std::mutex lock;
    QtMessagePump* pump = nullptr;
  };

  std::function<void(const MSG&)> onThreadMessage_;
  std::atomic<bool> scheduled_{false};
  std::shared_ptr<Cell> cell_;
};

// Drains the platform message queue of a Qt GUI thread inside Qt's event
// loop: a post to the GUI thread's platform queue calls the thread's wake
// hook, which schedules one queued Qt call that dispatches every waiting
// platform message. So device-library completions and other platform
// messages reach program windows on the GUI thread.
#pragma once

#include <QObject>

#include <atomic>
#include <functional>

#include "Platform/Messages.h"

class QtMessagePump : public QObject {
  Q_OBJECT
 public:
  // Attaches the calling thread (which must be this object's thread, normally
  // the GUI thread) to the platform. `onThreadMessage` receives thread
  // messages (hwnd NULL); window messages go to their targets.
  explicit QtMessagePump(std::function<void(const MSG&)> onThreadMessage = {}, QObject* parent = nullptr);
  ~QtMessagePump() override;

  // Handles everything waiting now (also called by the scheduled drain).
  size_t Drain();

 private:
  void Schedule();

  std::function<void(const MSG&)> onThreadMessage_;
  std::atomic<bool> scheduled_{false};
  std::shared_ptr<std::atomic<QtMessagePump*>> self_;
};

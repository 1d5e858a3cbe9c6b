#include "QtMessagePump.h"

#include <QCoreApplication>
#include <QMetaObject>

QtMessagePump::QtMessagePump(std::function<void(const MSG&)> onThreadMessage, QObject* parent)
    : QObject(parent),
      onThreadMessage_(std::move(onThreadMessage)),
      self_(std::make_shared<std::atomic<QtMessagePump*>>(this)) {
  // The hook runs on posting threads; it only schedules, and holds a shared
  // cell so a post racing with destruction finds NULL instead of a dead object.
  auto cell = self_;
  SetThreadWakeHook([cell] {
    if (QtMessagePump* pump = cell->load()) pump->Schedule();
  });
}

QtMessagePump::~QtMessagePump() {
  self_->store(nullptr);
  SetThreadWakeHook({});
}

void QtMessagePump::Schedule() {
  // At most one drain is scheduled at a time; it handles every message.
  if (scheduled_.exchange(true)) return;
  QMetaObject::invokeMethod(this, [this] {
    scheduled_.store(false);
    Drain();
  }, Qt::QueuedConnection);
}

size_t QtMessagePump::Drain() {
  bool quit = false;
  size_t n = DrainMessages(onThreadMessage_, &quit);
  if (quit) QCoreApplication::quit();
  return n;
}

#include "QtMessagePump.h"

#include <QCoreApplication>
#include <QMetaObject>

QtMessagePump::QtMessagePump(std::function<void(const MSG&)> onThreadMessage, QObject* parent)
    : QObject(parent), onThreadMessage_(std::move(onThreadMessage)), cell_(std::make_shared<Cell>()) {
  cell_->pump = this;
  // The hook runs on posting threads and only schedules (a queued call, which
  // never waits for the GUI thread), so holding the cell's lock through it
  // cannot stall the destructor for long.
  auto cell = cell_;
  SetThreadWakeHook([cell] {
    std::lock_guard<std::mutex> lock(cell->lock);
    if (cell->pump) cell->pump->Schedule();
  });
}

QtMessagePump::~QtMessagePump() {
  {
    std::lock_guard<std::mutex> lock(cell_->lock);
    cell_->pump = nullptr;
  }
  SetThreadWakeHook({});
  // A drain scheduled before this point is a posted event of this object,
  // which QObject's destructor discards.
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

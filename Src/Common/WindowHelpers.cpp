#include "WindowHelpers.h"

#include <QAbstractScrollArea>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QWidget>
#include <QWindow>

#include <algorithm>

QRect GetClientRectNoScroll(const QWidget* window) {
  if (!window) return {};
  const auto* area = qobject_cast<const QAbstractScrollArea*>(window);
  if (!area) return window->rect();
  QRect rect = area->viewport()->rect();
  if (area->horizontalScrollBar() && area->horizontalScrollBar()->isVisible()) {
    rect.setBottom(rect.bottom() + area->horizontalScrollBar()->height());
  }
  if (area->verticalScrollBar() && area->verticalScrollBar()->isVisible()) {
    rect.setRight(rect.right() + area->verticalScrollBar()->width());
  }
  return rect;
}

void FitWindowIntoScreen(QWidget* window) {
  if (!window) return;
  const QWidget* over = window->parentWidget() ? window->parentWidget()->window() : nullptr;
  QScreen* screen = over ? over->screen() : QGuiApplication::screenAt(QCursor::pos());
  if (!screen) screen = window->screen();
  if (!screen) return;
  // The frame the window manager puts round it: as round the window (its
  // native window is made for that, which shows nothing), else as round the
  // window it belongs to.
  if (!window->windowHandle()) window->winId();
  QMargins frame;
  for (const QWidget* w : {static_cast<const QWidget*>(window), over}) {
    if (!w || !w->windowHandle()) continue;
    const QMargins m = w->windowHandle()->frameMargins();
    frame = QMargins(std::max(frame.left(), m.left()), std::max(frame.top(), m.top()),
                     std::max(frame.right(), m.right()), std::max(frame.bottom(), m.bottom()));
  }
  const QRect room = screen->availableGeometry().marginsRemoved(frame);
  // No smaller than the layout allows: the controls are never cut.
  window->resize(window->size().boundedTo(room.size()).expandedTo(window->minimumSizeHint()));
  QRect placed(QPoint(), window->size());
  placed.moveCenter(over && over->isVisible() ? over->geometry().center() : room.center());
  placed.moveLeft(std::max(room.left(), std::min(placed.left(), room.right() + 1 - placed.width())));
  placed.moveTop(std::max(room.top(), std::min(placed.top(), room.bottom() + 1 - placed.height())));
  window->setScreen(screen);
  // A window's position is its frame's.
  window->move(placed.topLeft() - QPoint(frame.left(), frame.top()));
}

#include "WindowHelpers.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
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

int CaptionWidth(const QWidget* window) {
  if (!window) return 0;
  // Window managers draw the title in a bold face of the desktop's font;
  // reckon with that, the icon and three caption buttons.
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  const int title = QFontMetrics(font).horizontalAdvance(window->windowTitle());
  const int button = std::max(24, QFontMetrics(font).height() + 8);
  return title + 4 * button + 32;
}

void FitWidthToCaption(QWidget* window) {
  if (!window) return;
  const int wanted = CaptionWidth(window);
  if (auto* box = qobject_cast<QMessageBox*>(window)) {
    // A message box sizes itself from its texts: a spacer in its grid
    // widens it.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
      grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
                    grid->columnCount());
    return;
  }
  if (window->minimumWidth() < wanted) window->setMinimumWidth(wanted);
}

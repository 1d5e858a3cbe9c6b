#include "WindowHelpers.h"

#include <QAbstractScrollArea>
#include <QScrollBar>

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

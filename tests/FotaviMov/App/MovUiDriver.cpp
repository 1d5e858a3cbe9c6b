#include "MovUiDriver.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>

#include "MovTestSupport.h"

namespace movtest {

namespace {

QAction* FindAction(const QList<QAction*>& actions, const QString& text) {
  for (QAction* a : actions) {
    if (a->text() == text) return a;
  }
  return nullptr;
}

// Runs `click` and reports whether `action` was triggered by it.
template <class Click>
bool Triggers(QAction* action, Click click) {
  bool triggered = false;
  const auto link = QObject::connect(action, &QAction::triggered, [&] { triggered = true; });
  click();
  WaitFor([&] { return triggered; }, 500);
  QObject::disconnect(link);
  return triggered;
}

}  // namespace

bool ChooseMenu(QMainWindow* frame, const QStringList& path) {
  if (path.size() < 2) return false;
  QMenuBar* bar = frame->menuBar();
  QAction* title = FindAction(bar->actions(), path[0]);
  if (!title || !title->menu()) return false;
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(title).center());
  QMenu* menu = title->menu();
  if (!WaitFor([&] { return menu->isVisible(); }, 2000)) return false;
  for (int i = 1; i < path.size(); ++i) {
    QAction* item = FindAction(menu->actions(), path[i]);
    if (!item) {
      menu->close();
      return false;
    }
    if (item->menu()) {
      QMenu* sub = item->menu();
      QTest::mouseMove(menu, menu->actionGeometry(item).center());
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
      if (!WaitFor([&] { return sub->isVisible(); }, 2000)) return false;
      menu = sub;
      continue;
    }
    if (i != path.size() - 1) return false;
    QMenu* shown = menu;
    const bool triggered =
        Triggers(item, [&] { QTest::mouseClick(shown, Qt::LeftButton, {}, shown->actionGeometry(item).center()); });
    // A disabled item leaves its menu open, as it does for a user.
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* open = qobject_cast<QMenu*>(w); open && open->isVisible()) open->close();
    }
    return triggered;
  }
  return false;
}

bool ClickToolButton(QToolBar* bar, QAction* action) {
  QWidget* button = bar->widgetForAction(action);
  if (!button || !button->isVisible()) return false;
  return Triggers(action, [&] { QTest::mouseClick(button, Qt::LeftButton); });
}

QRect ScreenRect(const QWidget* widget) { return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()); }

}  // namespace movtest

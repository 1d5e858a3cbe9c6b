// Drives the shown main window of the movie program as a user does: menu
// items chosen with the mouse from the menu bar (through submenus), tool-bar
// buttons clicked, and the geometry of what is shown read back.
#pragma once

#include <QRect>
#include <QStringList>

class QAction;
class QMainWindow;
class QToolBar;
class QWidget;

namespace movtest {

// Opens the menu bar's menu named path[0] with a click, then clicks each
// further item (a submenu item opens its submenu). True when the last item
// was enabled and got triggered.
bool ChooseMenu(QMainWindow* frame, const QStringList& path);
// Clicks the tool-bar button of `action`. True when it was triggered.
bool ClickToolButton(QToolBar* bar, QAction* action);
// A shown widget's place on the screen.
QRect ScreenRect(const QWidget* widget);

}  // namespace movtest

// "File Conversion" wired into the main frame (on the program's scripted
// device): the command opens the conversion dialog modally, with the live
// monitor held while it is open and resumed after it closes.
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "CardHost.h"
#include "ConvertDialogs.h"
#include "Resource.h"
#include "TestSupport.h"

namespace fotavi::test {
namespace {

class ConvertWiring : public AppFixture {
 protected:
  // Tools > File Conversion chosen with the mouse on the shown main window;
  // `inDialog` runs on the open conversion dialog and must close it.
  void RunFromMenu(const std::function<void(CPptDlg*)>& inDialog) {
    QMenuBar* bar = Main()->menuBar();
    QAction* toolsMenu = nullptr;
    for (QAction* a : bar->actions())
      if (a->text() == "&Tools") toolsMenu = a;
    ASSERT_NE(toolsMenu, nullptr);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(toolsMenu).center());
    QMenu* tools = toolsMenu->menu();
    ASSERT_TRUE(WaitFor([&] { return tools->isVisible(); }));
    QAction* item = nullptr;
    for (QAction* a : tools->actions())
      if (a->text() == "&File Conversion") item = a;
    ASSERT_NE(item, nullptr);
    bool ran = false;
    auto* poll = new QTimer(Main());
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
      auto* dialog = qobject_cast<CPptDlg*>(QApplication::activeModalWidget());
      if (!dialog || !dialog->isVisible()) return;
      poll->stop();
      ran = true;
      inDialog(dialog);
    });
    poll->start(20);
    QTest::mouseClick(tools, Qt::LeftButton, {}, tools->actionGeometry(item).center());
    delete poll;
    EXPECT_TRUE(ran);
  }
  static QAbstractButton* Button(QWidget* window, const char* caption) {
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
      if (b->text() == caption) return b;
    ADD_FAILURE() << caption;
    return nullptr;
  }
  static void Click(QWidget* window, const char* caption) {
    // A radio button takes clicks on its mark and text only: it is clicked
    // on its mark.
    QAbstractButton* b = Button(window, caption);
    if (!b) return;
    const QPoint at = qobject_cast<QRadioButton*>(b) ? QPoint(6, b->height() / 2) : b->rect().center();
    QTest::mouseClick(b, Qt::LeftButton, {}, at);
  }
};

TEST_F(ConvertWiring, TheCommandHoldsTheLiveMonitorAroundTheModalDialog) {
  ASSERT_TRUE(Start());
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_TRUE(WaitFor([&] { return Main()->IsLiveRunning() != FALSE; }));
  Main()->UpdateCommandUI();
  ASSERT_TRUE(Main()->IsCommandEnabled(ID_TOOL_CONVERT));
  bool sawDialog = false, heldWhileOpen = false, toolOpen = false, commandsOff = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CPptDlg*>(QApplication::activeModalWidget());
    if (!dialog) return;
    sawDialog = true;
    heldWhileOpen = Main()->IsLiveHeld() != FALSE;
    toolOpen = Main()->IsToolWindowOpen();
    commandsOff = !Main()->IsCommandEnabled(ID_TOOL_TRANSFER) && !Main()->IsCommandEnabled(ID_TOOL_CONVERT);
    dialog->reject();
  });
  Main()->OnCommand(ID_TOOL_CONVERT);
  EXPECT_TRUE(sawDialog);
  EXPECT_TRUE(heldWhileOpen);
  EXPECT_TRUE(toolOpen);
  EXPECT_TRUE(commandsOff);
  EXPECT_FALSE(Main()->IsToolWindowOpen());
  EXPECT_TRUE(WaitFor([&] { return !Main()->IsLiveHeld() && Main()->IsLiveRunning(); }));
  EXPECT_EQ(CardHost().mainWnd, Main()->GetSafeHwnd());
  EXPECT_TRUE(ui.Texts().empty());
  CardHost() = CCardHost{};
}

TEST_F(ConvertWiring, TheDialogKeepsItsTwoChoicesFromOneRunToTheNextAndReadsThePathsAgain) {
  ASSERT_TRUE(Start());
  Main()->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Main()));
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_TRUE(WaitFor([&] { return Main()->IsLiveRunning() != FALSE; }));
  Main()->UpdateCommandUI();

  CPptDlg* first = nullptr;
  RunFromMenu([&](CPptDlg* dialog) {
    first = dialog;
    EXPECT_TRUE(Button(dialog, "&File select:")->isChecked());
    EXPECT_TRUE(Button(dialog, "Loc&al Folder:")->isChecked());
    Click(dialog, "Folder se&lect:");
    Click(dialog, "S&D:");
    dialog->SourceFolderEdit()->setText("/pictures/talk");
    Click(dialog, "Close");
  });
  EXPECT_TRUE(WaitFor([&] { return !Main()->IsLiveHeld() && Main()->IsLiveRunning(); }));

  RunFromMenu([&](CPptDlg* dialog) {
    EXPECT_EQ(dialog, first);
    EXPECT_TRUE(Button(dialog, "Folder se&lect:")->isChecked());
    EXPECT_FALSE(Button(dialog, "&File select:")->isChecked());
    EXPECT_TRUE(Button(dialog, "S&D:")->isChecked());
    EXPECT_FALSE(Button(dialog, "Loc&al Folder:")->isChecked());
    // The controls follow the choices.
    EXPECT_TRUE(dialog->SourceFolderEdit()->isEnabled());
    EXPECT_FALSE(dialog->SourceFileEdit()->isEnabled());
    EXPECT_TRUE(dialog->SDEdit()->isEnabled());
    EXPECT_FALSE(dialog->OutputEdit()->isEnabled());
    // The paths come from the settings again; the card folder is not kept.
    EXPECT_EQ(dialog->SourceFolderEdit()->text(), "/pictures/talk");
    EXPECT_TRUE(dialog->SDEdit()->text().isEmpty());
    Click(dialog, "Close");
  });
  EXPECT_TRUE(WaitFor([&] { return !Main()->IsLiveHeld() && Main()->IsLiveRunning(); }));
  EXPECT_TRUE(ui.Texts().empty());
  CardHost() = CCardHost{};
}

}  // namespace
}  // namespace fotavi::test

// "File Conversion" wired into the main frame (on the program's scripted
// device): the command opens the conversion dialog modally, with the live
// monitor held while it is open and resumed after it closes.
#include <QApplication>
#include <QTimer>

#include "CardHost.h"
#include "ConvertDialogs.h"
#include "Resource.h"
#include "TestSupport.h"

namespace fotavi::test {
namespace {

class ConvertWiring : public AppFixture {};

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

}  // namespace
}  // namespace fotavi::test

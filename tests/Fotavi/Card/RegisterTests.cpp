// The card tools wired into the main frame (on the scripted device of the
// program's tests): the commands are enabled and run the card check.
#include "CardHost.h"
#include "CardTools.h"
#include "Resource.h"
#include "TestSupport.h"

namespace fotavi::test {
namespace {

class CardToolsWiring : public AppFixture {};

TEST_F(CardToolsWiring, CommandsAreEnabledAndACardCheckFailureOpensNoTool) {
  // Start-up registers the card tools.
  ASSERT_TRUE(Start());
  Main()->UpdateCommandUI();
  ASSERT_TRUE(Main()->IsDeviceOpen());
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_TOOL_VIEWER));
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_TOOL_TRANSFER));
  // The scripted device answers no card command: the check says so and
  // nothing opens; the live monitor is not left held.
  for (int id : {ID_TOOL_VIEWER, ID_TOOL_TRANSFER}) {
    ui.texts.clear();
    Main()->OnCommand(id);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to access to SD memory."}) << id;
    EXPECT_FALSE(Main()->IsToolWindowOpen()) << id;
    EXPECT_FALSE(Main()->IsLiveHeld()) << id;
    EXPECT_EQ(CardHost().mainWnd, Main()->GetSafeHwnd()) << id;
  }
  CardHost() = CCardHost{};
}

}  // namespace
}  // namespace fotavi::test

// "Slide Show Settings" wired into the main frame (on the scripted device of
// the program's tests): the command is enabled and runs the card check.
#include "CardHost.h"
#include "Resource.h"
#include "TestSupport.h"

namespace fotavi::test {
namespace {

class SlideShowWiring : public AppFixture {};

TEST_F(SlideShowWiring, CommandIsEnabledAndACardCheckFailureOpensNothingAndLeavesTheLiveMonitor) {
  ASSERT_TRUE(Start());
  Main()->UpdateCommandUI();
  ASSERT_TRUE(Main()->IsDeviceOpen());
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_TOOL_SLIDESHOW));
  // The scripted device answers no card command: the check says so, no
  // dialog opens and the live monitor is not left held.
  ui.texts.clear();
  Main()->OnCommand(ID_TOOL_SLIDESHOW);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to access to SD memory."});
  EXPECT_FALSE(Main()->IsToolWindowOpen());
  EXPECT_FALSE(Main()->IsLiveHeld());
  EXPECT_EQ(CardHost().mainWnd, Main()->GetSafeHwnd());
  CardHost() = CCardHost{};
}

}  // namespace
}  // namespace fotavi::test

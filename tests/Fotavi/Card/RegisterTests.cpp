// The card tools wired into the main frame (on the scripted device of the
// program's tests): the commands are enabled and run the card check.
#include <QCloseEvent>
#include <QWidget>

#include "CardHost.h"
#include "CardTools.h"
#include "Resource.h"
#include "Platform/Messages.h"
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

// A tool window that refuses to close and whose destruction pumps events:
// the main frame's destroy must survive what runs meanwhile.
class ReadingViewer : public QWidget {
 public:
  explicit ReadingViewer(bool* destroyed) : m_pDestroyed(destroyed) {}
  ~ReadingViewer() override {
    Pump(200);
    *m_pDestroyed = true;
  }

 protected:
  void closeEvent(QCloseEvent* event) override { event->ignore(); }

 private:
  bool* m_pDestroyed;
};

class CardToolsTeardown : public AppFixture {
 protected:
  void TearDown() override {
    CardHost() = CCardHost{};
    RegisterCardParts();
    AppFixture::TearDown();
  }
  // Opens a reading viewer through the main frame's viewer command.
  void OpenReadingViewer() {
    CMainFrame::RegisterToolFactory(ID_TOOL_VIEWER, [this](CMainFrame*) -> QWidget* {
      return new ReadingViewer(&destroyed);
    });
    Main()->OnCommand(ID_TOOL_VIEWER);
  }
  bool destroyed = false;
};

TEST_F(CardToolsTeardown, UnplugDestroysAViewerThatIsReading) {
  ASSERT_TRUE(Start());
  OpenReadingViewer();
  ASSERT_TRUE(Main()->IsToolWindowOpen());
  device->connected = false;
  PostMessage(Main()->GetSafeHwnd(), WM_FOTAVI_DEVICESTATE, FOTAVI_DEVICE_GONE, 0);
  EXPECT_TRUE(WaitFor([&] { return destroyed; }, 5000));
  EXPECT_FALSE(Main()->IsToolWindowOpen());
}

TEST_F(CardToolsTeardown, DestroyWhileTheViewerPumpsSurvivesItsClosedMessage) {
  ASSERT_TRUE(Start());
  OpenReadingViewer();
  ASSERT_TRUE(Main()->IsToolWindowOpen());
  // The viewer's own close request is still queued when the program ends;
  // it arrives while the viewer's destructor pumps.
  PostMessage(Main()->GetSafeHwnd(), WM_VIEWER_CLOSED, 0, 0);
  Main()->close();
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(Main()->IsToolWindowOpen());
}

}  // namespace
}  // namespace fotavi::test

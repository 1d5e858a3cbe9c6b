// The presentation program on the real device library and the camera
// emulator: live monitor, unplug and replug, still capture.
#include <QMdiArea>

#include "AnimeFrame.h"
#include "AnimeView.h"
#include "EmulatorProcess.h"
#include "Platform/GlobalMemory.h"
#include "Resource.h"
#include "TestSupport.h"

using namespace fotavi::test;

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    env = std::make_unique<IsolatedEnv>();
    root = env->dir() + "/devices";
    setenv("FOTAVI_DEVICE_ROOT", root.c_str(), 1);
    EmulatorOptions options;
    options.deviceRoot = root;
    emulator = std::make_unique<EmulatorProcess>(options);
    ASSERT_TRUE(emulator->Start());
    SetUserInterfaceService(&ui);
    app = std::make_unique<CFotaviApp>();
    ASSERT_TRUE(app->InitInstance());
    Pump(20);
  }
  void TearDown() override {
    if (app) app->ExitInstance();
    app.reset();
    emulator.reset();
    SetUserInterfaceService(nullptr);
    unsetenv("FOTAVI_DEVICE_ROOT");
    env.reset();
  }
  CMainFrame* Main() { return app->GetMainFrame(); }
  CAnimeFrame* Frame() { return Main()->GetLiveFrame(); }
  uint64_t Painted() {
    return Frame() && Frame()->GetAnimeView() ? Frame()->GetAnimeView()->GetStats().framesPainted.load() : 0;
  }

  std::unique_ptr<IsolatedEnv> env;
  std::string root;
  std::unique_ptr<EmulatorProcess> emulator;
  RecordingUi ui;
  std::unique_ptr<CFotaviApp> app;
};

class EndToEndSizes : public EndToEnd, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(EndToEndSizes, TheCamerasPictureMovesAtEachStep) {
  ASSERT_TRUE(Main()->IsDeviceOpen());
  Main()->OnCommand(GetParam().first);
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_NE(Frame(), nullptr);
  ASSERT_TRUE(WaitFor([&] { return Painted() >= 10; }, 10000));
  const int step = GetParam().second;
  EXPECT_EQ(Frame()->GetDocument()->GetPictureWidth(), 1024 / step);
  EXPECT_EQ(Frame()->windowTitle().toStdString(),
            "Live Monitor " + std::to_string(1024 / step) + "x" + std::to_string(768 / step) + " 100%");
  EXPECT_TRUE(ui.Texts().empty());
}
INSTANTIATE_TEST_SUITE_P(Steps, EndToEndSizes,
                         ::testing::Values(std::make_pair(ID_LIVE_SIZE25, 4), std::make_pair(ID_LIVE_SIZE50, 2),
                                           std::make_pair(ID_LIVE_SIZE100, 1)));

TEST_F(EndToEnd, UnplugClosesTheMonitorAndReplugBringsStartBack) {
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_TRUE(WaitFor([&] { return Painted() >= 3; }, 10000));
  ASSERT_TRUE(emulator->Unplug());
  ASSERT_TRUE(WaitFor([&] { return Frame() == nullptr; }, 10000));
  EXPECT_TRUE(WaitFor([&] { return Main()->GetStatusText() == "Unable to use the main unit."; }, 5000));
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_LIVE_START));
  ASSERT_TRUE(emulator->Replug());
  ASSERT_TRUE(WaitFor([&] { return Main()->IsCommandEnabled(ID_LIVE_START); }, 10000));
  EXPECT_EQ(Main()->GetStatusText(), "Ready");
  Main()->OnCommand(ID_LIVE_START);
  EXPECT_TRUE(WaitFor([&] { return Painted() >= 3; }, 10000));
}

TEST_F(EndToEnd, StillCaptureBringsAFullSizePicture) {
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  EXPECT_TRUE(ui.Texts().empty());
  EXPECT_EQ(Main()->GetUntitledCount(), 1);
}

TEST_F(EndToEnd, StopAndCloseLeaveNoDataBlockBehind) {
  const size_t blocks = GlobalBlockCount();
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_TRUE(WaitFor([&] { return Painted() >= 5; }, 10000));
  Main()->OnCommand(ID_LIVE_STOP);
  Pump(300);
  Frame()->close();
  Pump(100);
  EXPECT_EQ(Frame(), nullptr);
  EXPECT_EQ(GlobalBlockCount(), blocks);
}

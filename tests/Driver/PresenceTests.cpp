// The presence window: device arrival and removal, suspend and resume.
#include <signal.h>
#include <sys/stat.h>

#include "DriverFixture.h"

namespace fotavi::test {
namespace {

class PresenceTest : public DriverTest {
 protected:
  // The platform's device watcher looks at the device root of the current
  // test only after its next poll (at most 250 ms).
  void LetTheWatcherFollow() { PumpFor(400); }
  std::vector<WPARAM> States() const {
    std::vector<WPARAM> out;
    for (const Received& r : ReceivedOf(WM_FOTAVI_DEVICESTATE)) out.push_back(r.wParam);
    return out;
  }
};

TEST_F(PresenceTest, UnplugWhileOpenClosesTheInterfaceAndTellsOnce) {
  ASSERT_TRUE(StartEmulator());
  ASSERT_TRUE(CreateInterface());
  EXPECT_NE(device_->bIsConnected(), 0u);
  ASSERT_TRUE(Open());
  LetTheWatcherFollow();
  ASSERT_TRUE(emulator_->Unplug());
  ASSERT_TRUE(PumpUntil([&] { return !States().empty(); }));
  PumpFor(500);
  EXPECT_EQ(States(), std::vector<WPARAM>({FOTAVI_DEVICE_GONE}));
  EXPECT_EQ(device_->bIsConnected(), 0u);
  DWORD err = 0;
  EXPECT_FALSE(device_->bClose(&err));
  EXPECT_EQ(err, ERR_FOTAVI_NOOPEN) << "the library closed itself";
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_SD_STATUS);
  HGLOBAL h;
  DWORD size;
  EXPECT_FALSE(device_->bRequest(&cmd, &h, &size, &err));
  EXPECT_EQ(err, ERR_FOTAVI_NOOPEN);
}

TEST_F(PresenceTest, PlugInWhileClosedTellsPresentAndLeavesTheInterfaceClosed) {
  emulator_ = std::make_unique<EmulatorProcess>([&] {
    EmulatorOptions o = Options();
    o.startUnplugged = true;
    return o;
  }());
  ASSERT_TRUE(emulator_->Start());
  ASSERT_TRUE(CreateInterface());
  EXPECT_EQ(device_->bIsConnected(), 0u);
  ASSERT_TRUE(device_->bSetNotifyWindow(client_));
  LetTheWatcherFollow();
  ASSERT_TRUE(emulator_->Replug());
  ASSERT_TRUE(PumpUntil([&] { return !States().empty(); }));
  PumpFor(300);
  EXPECT_EQ(States(), std::vector<WPARAM>({FOTAVI_DEVICE_PRESENT}));
  EXPECT_NE(device_->bIsConnected(), 0u);
  DWORD err = 0;
  EXPECT_FALSE(device_->bClose(&err));
  EXPECT_EQ(err, ERR_FOTAVI_NOOPEN);
  ASSERT_TRUE(emulator_->Unplug());
  ASSERT_TRUE(PumpUntil([&] { return States().size() == 2; }));
  EXPECT_EQ(States().back(), FOTAVI_DEVICE_GONE);
}

TEST_F(PresenceTest, WithoutNotificationWindowChangesAreIgnored) {
  ASSERT_TRUE(StartEmulator());
  ASSERT_TRUE(CreateInterface());
  EXPECT_NE(device_->bIsConnected(), 0u);
  LetTheWatcherFollow();
  ASSERT_TRUE(emulator_->Unplug());
  PumpFor(600);
  EXPECT_TRUE(States().empty());
  EXPECT_NE(device_->bIsConnected(), 0u) << "the presence is not updated without a notification window";
}

TEST_F(PresenceTest, SetNotifyWindowRefusesWhatIsNotAWindow) {
  ASSERT_TRUE(CreateInterface());
  EXPECT_FALSE(device_->bSetNotifyWindow(reinterpret_cast<HWND>(0x7)));
  EXPECT_TRUE(device_->bSetNotifyWindow(nullptr));
  EXPECT_TRUE(device_->bSetNotifyWindow(client_));
}

TEST_F(PresenceTest, SuspendClosesAndTellsGoneResumeTellsPresent) {
  ASSERT_TRUE(StartEmulator());
  ASSERT_TRUE(CreateInterface());
  ASSERT_TRUE(Open());
  InjectPowerEvent(PBT_APMSUSPEND);
  ASSERT_TRUE(PumpUntil([&] { return !States().empty(); }));
  EXPECT_EQ(States(), std::vector<WPARAM>({FOTAVI_DEVICE_GONE}));
  EXPECT_EQ(device_->bIsConnected(), 0u);
  DWORD err = 0;
  EXPECT_FALSE(device_->bClose(&err));
  EXPECT_EQ(err, ERR_FOTAVI_NOOPEN);
  InjectPowerEvent(PBT_APMSUSPEND);
  ASSERT_TRUE(PumpUntil([&] { return States().size() == 2; }));
  EXPECT_EQ(States()[1], FOTAVI_DEVICE_GONE) << "gone is told even when the presence was already 0";
  InjectPowerEvent(PBT_APMRESUMESUSPEND);
  ASSERT_TRUE(PumpUntil([&] { return States().size() == 3; }));
  EXPECT_EQ(States()[2], FOTAVI_DEVICE_PRESENT);
  EXPECT_TRUE(Open()) << "the client decides to open again";
}

// A camera whose process died leaves its folder behind with sockets that
// refuse connections. It is gone: the open interface closes itself and tells
// so once, the presence is 0, and a new open finds no camera.
TEST_F(PresenceTest, CameraThatDiedWithoutRemovingItsFolderIsGone) {
  ASSERT_TRUE(StartEmulator());
  ASSERT_TRUE(CreateInterface());
  ASSERT_TRUE(Open());
  LetTheWatcherFollow();
  const std::string pipe = emulator_->DevicePath() + "/FotaviZ5";
  ASSERT_EQ(kill(emulator_->pid(), SIGKILL), 0);
  ASSERT_TRUE(PumpUntil([&] { return !States().empty(); }));
  PumpFor(500);
  EXPECT_TRUE(FileExists(pipe)) << "the folder stays behind";
  EXPECT_EQ(States(), std::vector<WPARAM>({FOTAVI_DEVICE_GONE}));
  EXPECT_EQ(device_->bIsConnected(), 0u);
  DWORD err = 0;
  EXPECT_FALSE(device_->bOpen(client_, &err));
  EXPECT_EQ(err, ERR_FOTAVI_NODEVICE) << std::hex << err;
  emulator_.reset();
}

// A device root that another user can write to is refused with a device-log
// line that names it, and the camera in it is never reached.
TEST_F(PresenceTest, DeviceRootOthersCanWriteToIsRefusedWithALogLine) {
  ASSERT_TRUE(StartEmulator());
  ASSERT_EQ(chmod(deviceRoot_.c_str(), 0777), 0);
  ASSERT_TRUE(CreateInterface());
  EXPECT_EQ(device_->bIsConnected(), 0u);
  DWORD err = 0;
  EXPECT_FALSE(device_->bOpen(client_, &err));
  EXPECT_EQ(err, ERR_FOTAVI_INITDEVICE) << std::hex << err;
  EXPECT_TRUE(LogLines({"\"dir\":\"in\""}).empty()) << "nothing was sent to the camera";
  ReleaseInterface();  // ends the log thread: every line is written
  const std::string log = ReadFileText(installDir_ + "/Logs/Device0.log");
  EXPECT_NE(log.find("device folder " + deviceRoot_ + " refused: other users can write to it"), std::string::npos)
      << log;
  ASSERT_EQ(chmod(deviceRoot_.c_str(), 0700), 0);
}

}  // namespace
}  // namespace fotavi::test

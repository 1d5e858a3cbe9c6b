// The presence window: device arrival and removal, suspend and resume.
#include <signal.h>
#include <sys/stat.h>

#include <optional>

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
  LetTheWatcherFollow();  // its look at this test's camera comes before the suspend
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

// The camera is removed (folder and sockets in a given order and spacing)
// and put back. Whatever the order, the client hears of each change of
// presence once: gone, then present; the interface open at the removal
// closed itself, and the camera put back can be opened and used, and is
// watched: when it dies later, that is seen too.
// In the held cases the device watcher takes nothing in from before the
// removal until the camera is back, so it reads the removal and the return
// (under the same name) at once, as a watcher held up by load does.
struct ReplugCase {
  const char* removal;  // name part
  const char* how;      // the emulator's unplug order and gap
  DWORD replugMs;       // back this long after the removal ended
  bool held;            // the watcher is held until the camera is back
  bool open;            // the interface is open at the removal
};

void PrintTo(const ReplugCase& c, std::ostream* os) {
  *os << c.removal << ", back after " << c.replugMs << " ms, " << (c.held ? "watcher held, " : "")
      << (c.open ? "open" : "closed");
}

std::string ReplugCaseName(const ::testing::TestParamInfo<ReplugCase>& info) {
  return std::string(info.param.removal) + "_BackAfter" + std::to_string(info.param.replugMs) + "ms" +
         (info.param.held ? "_ReadInOneBatch" : "") + (info.param.open ? "_Open" : "_Closed");
}

std::vector<ReplugCase> ReplugCases() {
  struct Removal {
    const char* name;
    const char* how;
  };
  const Removal removals[] = {{"FolderThenSocketsHalfASecondLater", "folder 500"},
                              {"SocketsThenFolderHalfASecondLater", "sockets 500"},
                              {"FolderAndSocketsAtOnce", "folder 0"}};
  struct Return {
    DWORD replugMs;
    bool held;
  };
  const Return returns[] = {{100, false}, {500, false}, {2000, false}, {0, true}};
  std::vector<ReplugCase> cases;
  for (const Removal& r : removals) {
    for (const Return& back : returns) {
      for (bool open : {true, false}) cases.push_back({r.name, r.how, back.replugMs, back.held, open});
    }
  }
  return cases;
}

// Holds the device watcher for as long as it lives.
struct WatcherHold {
  WatcherHold() { HoldDeviceWatcher(true); }
  ~WatcherHold() { Release(); }
  void Release() { HoldDeviceWatcher(false); }
};

class RemovalAndReplugTest : public PresenceTest, public ::testing::WithParamInterface<ReplugCase> {};

TEST_P(RemovalAndReplugTest, EachChangeOfPresenceIsToldOnce) {
  const ReplugCase& c = GetParam();
  ASSERT_TRUE(StartEmulator());
  ASSERT_TRUE(CreateInterface());
  if (c.open) {
    ASSERT_TRUE(Open());
  } else {
    ASSERT_TRUE(device_->bSetNotifyWindow(client_));
  }
  LetTheWatcherFollow();
  {
    std::optional<WatcherHold> hold;
    if (c.held) hold.emplace();
    Command(std::string("unplug ") + c.how + " " + std::to_string(c.replugMs));
    if (c.held) {
      ASSERT_TRUE(PumpUntil([&] { return LogLines({"\"event\":\"plug\""}).size() == 2; }, 10000))
          << "the camera is back";
      EXPECT_TRUE(States().empty()) << "nothing is told while the watcher is held";
    }
  }
  ASSERT_TRUE(PumpUntil([&] { return States().size() >= 2; }, 10000))
      << "notices: " << ::testing::PrintToString(States());
  PumpFor(1000);  // a late notice would come now
  EXPECT_EQ(States(), std::vector<WPARAM>({FOTAVI_DEVICE_GONE, FOTAVI_DEVICE_PRESENT}));
  EXPECT_NE(device_->bIsConnected(), 0u);
  DWORD err = 0;
  if (c.open) {
    EXPECT_FALSE(device_->bClose(&err));
    EXPECT_EQ(err, ERR_FOTAVI_NOOPEN) << "the interface closed itself at the removal";
  }
  ASSERT_TRUE(Open()) << "the camera put back is there to be opened";
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_SD_STATUS);
  HGLOBAL h = nullptr;
  DWORD size = 0;
  EXPECT_TRUE(device_->bRequest(&cmd, &h, &size, &err)) << std::hex << err;
  if (h) GlobalFree(h);
  // Dying without removing its folder, the camera put back is seen to go
  // only through the watcher's connection to it.
  ASSERT_EQ(kill(emulator_->pid(), SIGKILL), 0);
  ASSERT_TRUE(PumpUntil([&] { return States().size() >= 3; }, 10000))
      << "notices: " << ::testing::PrintToString(States());
  PumpFor(500);
  EXPECT_EQ(States(), std::vector<WPARAM>({FOTAVI_DEVICE_GONE, FOTAVI_DEVICE_PRESENT, FOTAVI_DEVICE_GONE}));
  EXPECT_EQ(device_->bIsConnected(), 0u);
  emulator_.reset();
}

INSTANTIATE_TEST_SUITE_P(Removals, RemovalAndReplugTest, ::testing::ValuesIn(ReplugCases()), ReplugCaseName);

// Once its folder has gone the camera is gone, although its sockets still
// answer: a request on the open interface fails, and the removal is told
// once, before the sockets close.
TEST_F(PresenceTest, RequestsFailOnceTheFolderHasGone) {
  ASSERT_TRUE(StartEmulator());
  ASSERT_TRUE(CreateInterface());
  ASSERT_TRUE(Open());
  LetTheWatcherFollow();
  DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_SD_STATUS);
  HGLOBAL h = nullptr;
  DWORD size = 0;
  DWORD err = 0;
  ASSERT_TRUE(device_->bRequest(&cmd, &h, &size, &err)) << std::hex << err;  // the pipe is connected
  Command("unplug folder 20000");
  ASSERT_FALSE(FileExists(emulator_->DevicePath()));
  EXPECT_FALSE(device_->bRequest(&cmd, &h, &size, &err));
  if (h) GlobalFree(h);
  ASSERT_TRUE(PumpUntil([&] { return !States().empty(); }));
  PumpFor(500);
  EXPECT_EQ(States(), std::vector<WPARAM>({FOTAVI_DEVICE_GONE}));
  EXPECT_EQ(device_->bIsConnected(), 0u);
  EXPECT_TRUE(LogLines({"\"event\":\"sockets-closed\""}).empty()) << "the sockets are still open";
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

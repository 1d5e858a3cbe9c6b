// The live-picture thread and its hidden window, on a scripted camera and
// on the real device library with the camera emulator.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <filesystem>

#include <memory>
#include <mutex>
#include <vector>

#include "EmulatorProcess.h"
#include "MovFakeDevice.h"
#include "MovTestSupport.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Library.h"
#include "Platform/Settings.h"
#include "TestEnv.h"
#include "SemiAnimationThread.h"

using namespace movtest;

namespace {

// The view's side: a window on the test thread that counts the thread's
// notices, and the thread started the way the view starts it.
class LiveRig {
 public:
  explicit LiveRig(CDeviceInterface* device) : device_(device) {
    view_ = CreateWindowTarget(
        [this](HWND, UINT msg, WPARAM w, LPARAM) -> LRESULT {
          if (msg == WM_SEMIANIMATION_ERROR) errors.push_back(w);
          if (msg == WM_SEMIANIMATION_DRAW) {
            ++draws;
            if (thread) thread->ClearDrawPending();
          }
          return 0;
        },
        "view");
  }
  ~LiveRig() {
    End();
    if (view_) DestroyWindow(view_);
  }
  bool Start(int width = 512, int height = 384) {
    thread = std::make_unique<CSemiAnimationThread>(device_, &jpeg);
    thread->SetWaitEvent(&waitEvent);
    thread->GetMessageWnd().SetOwner(thread.get());
    thread->SetDecodeSize(width, height);
    thread->SetDrawSize(width, height);
    CEvent init(true, false);
    ANIMATIONINITPARAM param{view_, &init};
    thread->ResumeThread();
    if (!thread->PostThreadMessage(WM_SEMIANIMATION_INIT, reinterpret_cast<WPARAM>(&param), 0)) return false;
    if (init.Wait(5000) != WAIT_OBJECT_0 || !thread->GetMessageHwnd()) return false;
    return thread->PostThreadMessage(WM_JPEG_READ, 0, 0) != FALSE;
  }
  // Posts the end and waits for the thread; true when it ended in time.
  bool End(DWORD limitMs = LIVE_END_WAIT_MS + 5000) {
    if (!thread) return true;
    thread->PostThreadMessage(WM_SEMIANIMATION_END, 0, 0);
    const bool ended = thread->WaitForEnd(limitMs);
    thread.reset();
    return ended;
  }

  CDeviceInterface* device_;
  CJpeg jpeg;
  CEvent waitEvent{true, false};
  std::unique_ptr<CSemiAnimationThread> thread;
  HWND view_ = nullptr;
  std::vector<WPARAM> errors;
  int draws = 0;
};

}  // namespace

class LiveFake : public MovFixture {
 protected:
  void SetUp() override {
    MovFixture::SetUp();
    baseline = GlobalBlockCount();
    device = std::make_unique<MovFakeDevice>();
    rig = std::make_unique<LiveRig>(device.get());
  }
  void TearDown() override {
    rig.reset();
    // Hand-backs are posted to the camera's dispatcher thread: give it time to take them.
    EXPECT_TRUE(WaitFor([&] { return device->Outstanding() == 0; }, 5000)) << "a lent record did not come back";
    EXPECT_EQ(device->returnedWithData.load(), 0) << "a record came back with its data block";
    device.reset();
    EXPECT_EQ(GlobalBlockCount(), baseline) << "a data block was not freed";
    MovFixture::TearDown();
  }
  std::unique_ptr<MovFakeDevice> device;
  std::unique_ptr<LiveRig> rig;
  size_t baseline = 0;
};

TEST_F(LiveFake, GoodFramesAreHeldAtTheDecodeSizeAndCopiedAtAnySize) {
  EXPECT_TRUE(rig->Start(512, 384));
  ASSERT_TRUE(WaitFor([&] { return rig->draws >= 5; }));
  EXPECT_TRUE(rig->waitEvent.IsSet());
  EXPECT_EQ(device->lastTarget(), rig->thread->GetMessageHwnd());
  const CBitmap24 same = rig->thread->CopyPicture(512, 384);
  ASSERT_FALSE(same.isNull());
  EXPECT_EQ(same.size(), QSize(512, 384));
  EXPECT_EQ(same.format(), BITMAP24_FORMAT);
  EXPECT_EQ(rig->thread->CopyPicture(256, 192).size(), QSize(256, 192));
  EXPECT_TRUE(rig->thread->CopyPicture(0, 10).isNull());
  EXPECT_TRUE(rig->errors.empty());
  EXPECT_TRUE(rig->End());
  EXPECT_TRUE(WaitFor([&] { return device->handedBack.load() == device->repliesPosted.load(); }, 5000));
}

TEST_F(LiveFake, DrawPaintsTheHeldPictureAtItsOffsetAndSize) {
  EXPECT_TRUE(rig->Start(512, 384));
  ASSERT_TRUE(WaitFor([&] { return rig->draws >= 1; }));
  rig->thread->SetDrawSize(256, 192);
  EXPECT_EQ(rig->thread->SetDrawOffset(10, 20), 10);
  QImage canvas(400, 300, QImage::Format_RGB32);
  canvas.fill(Qt::black);
  {
    QPainter painter(&canvas);
    rig->thread->Draw(painter);
  }
  // The camera's frame is filled with (30, 90, 150); JPEG keeps it close.
  const QColor inside = canvas.pixelColor(20, 30);
  EXPECT_NEAR(inside.red(), 30, 8);
  EXPECT_NEAR(inside.green(), 90, 8);
  EXPECT_NEAR(inside.blue(), 150, 8);
  EXPECT_EQ(canvas.pixelColor(5, 5), QColor(Qt::black));
  EXPECT_EQ(canvas.pixelColor(10 + 256 + 5, 20 + 10), QColor(Qt::black));
  EXPECT_EQ(canvas.pixelColor(20, 20 + 192 + 5), QColor(Qt::black));
}

TEST_F(LiveFake, NothingIsHeldBeforeTheFirstPicture) {
  device->after = Reply::Never;
  EXPECT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return device->requests.load() == 1; }));
  EXPECT_TRUE(rig->thread->CopyPicture(512, 384).isNull());
  EXPECT_FALSE(rig->waitEvent.IsSet());
}

struct ScriptCase {
  const char* name;
  std::vector<Reply> script;
  WPARAM error;  // 0: the loop goes on
};
class LiveScript : public LiveFake, public ::testing::WithParamInterface<ScriptCase> {};
TEST_P(LiveScript, LoopGoesOnOrStopsOnce) {
  for (Reply r : GetParam().script) device->Script({r});
  const int scripted = int(GetParam().script.size());
  EXPECT_TRUE(rig->Start());
  if (GetParam().error == 0) {
    // Past the script, and still drawing.
    ASSERT_TRUE(WaitFor([&] { return device->requests.load() >= scripted + 3 && rig->draws >= 2; }));
    EXPECT_TRUE(rig->errors.empty());
    EXPECT_FALSE(rig->thread->IsStopped());
  } else {
    ASSERT_TRUE(WaitFor([&] { return !rig->errors.empty(); }));
    Pump(150);
    EXPECT_EQ(rig->errors, std::vector<WPARAM>{GetParam().error});
    // The reply that stopped the loop was the last one asked for.
    EXPECT_EQ(device->requests.load(), scripted);
    EXPECT_TRUE(rig->thread->IsStopped());
    // A recording waiting for the first picture is released.
    EXPECT_TRUE(rig->waitEvent.IsSet());
  }
  EXPECT_TRUE(rig->End());
}
// The case's name: the test's name and its printed parameter.
std::string ScriptCaseName(const ScriptCase& c) { return std::string(c.name); }
void PrintTo(const ScriptCase& c, std::ostream* os) { *os << ScriptCaseName(c); }

INSTANTIATE_TEST_SUITE_P(
    Table, LiveScript,
    ::testing::Values(
        ScriptCase{"TwoFailuresThenAGoodReplyResetTheCount",
                   {Reply::Failed, Reply::Failed, Reply::Good, Reply::Failed, Reply::Failed, Reply::Good},
                   0},
        ScriptCase{"ThirdFailureInARowStops",
                   {Reply::Good, Reply::Failed, Reply::Failed, Reply::Failed},
                   SEMIANIMATION_FAILED},
        ScriptCase{"ReadZeroRepliesAreNotCounted",
                   {Reply::Failed, Reply::ReadZero, Reply::ReadZero, Reply::Failed, Reply::ReadZero, Reply::Good},
                   0},
        ScriptCase{"TwoBadFramesAreSkipped",
                   {Reply::Corrupt, Reply::Corrupt, Reply::Good, Reply::Corrupt, Reply::Corrupt, Reply::Good},
                   0},
        ScriptCase{"ThirdBadFrameInARowStops", {Reply::Corrupt, Reply::Corrupt, Reply::Corrupt}, SEMIANIMATION_FAILED},
        ScriptCase{"EmptyReplyStopsSilently", {Reply::Good, Reply::Empty}, SEMIANIMATION_EMPTY},
        ScriptCase{"EmptyFirstReplyStopsSilently", {Reply::Empty}, SEMIANIMATION_EMPTY}),
    [](const auto& info) { return ScriptCaseName(info.param); });

TEST_F(LiveFake, BadFrameKeepsTheLastGoodPicture) {
  device->Script({Reply::Good, Reply::Corrupt});
  device->after = Reply::Never;
  EXPECT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return device->requests.load() == 3; }));
  EXPECT_EQ(rig->draws, 1);
  EXPECT_EQ(rig->thread->CopyPicture(512, 384).size(), QSize(512, 384));
}

TEST_F(LiveFake, AFailedFirstReplyStillSetsTheWaitEvent) {
  device->Script({Reply::Failed});
  device->after = Reply::Never;
  EXPECT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return rig->waitEvent.IsSet(); }));
  EXPECT_TRUE(rig->errors.empty());
  EXPECT_EQ(device->requests.load(), 2);
}

struct PostCase {
  const char* name;
  bool connected;
  int requests;
};
class UnpostableRequest : public LiveFake, public ::testing::WithParamInterface<PostCase> {};
TEST_P(UnpostableRequest, RetriesWhileConnectedThenStops) {
  // The trace log goes to <InstallPath>/Logs, which the writer never creates.
  std::filesystem::create_directories(Dir() + "/install/Logs");
  ASSERT_TRUE(SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters",
                                  "InstallPath", Dir() + "/install"));
  device->asyncFailures = 10;
  device->connected = GetParam().connected;
  EXPECT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return !rig->errors.empty(); }));
  Pump(300);
  EXPECT_EQ(rig->errors, std::vector<WPARAM>{SEMIANIMATION_FAILED});
  EXPECT_EQ(device->requests.load(), GetParam().requests);
  EXPECT_TRUE(rig->waitEvent.IsSet());
  EXPECT_TRUE(rig->End());
  const std::string log = fotavi_test::ReadFile(Dir() + "/install/Logs/FotaviMovTrc.log");
  const bool discontinued = log.find("Because the device was a unconnection, retrying was discontinued.") !=
                            std::string::npos;
  EXPECT_EQ(discontinued, !GetParam().connected);
  EXPECT_NE(log.find("ErrorCount = " + std::to_string(GetParam().requests)), std::string::npos);
  EXPECT_NE(log.find("It faied in bRequestAsync dwError[0x81010001]"), std::string::npos);
}
// The case's name: the test's name and its printed parameter.
std::string PostCaseName(const PostCase& c) { return std::string(c.name); }
void PrintTo(const PostCase& c, std::ostream* os) { *os << PostCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Table, UnpostableRequest,
                         ::testing::Values(PostCase{"Connected", true, 3}, PostCase{"Gone", false, 1}),
                         [](const auto& info) { return PostCaseName(info.param); });

TEST_F(LiveFake, EndWaitsForTheReplyInFlightAndHandsItBack) {
  device->replyDelayMs = 400;
  EXPECT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return rig->thread->IsInFlight(); }));
  rig->thread->PostThreadMessage(WM_SEMIANIMATION_END, 0, 0);
  ASSERT_TRUE(rig->thread->WaitForEnd(LIVE_END_WAIT_MS + 5000));
  EXPECT_TRUE(WaitFor([&] { return device->handedBack.load() == 1; }, 5000));
  EXPECT_EQ(device->requests.load(), 1);
  EXPECT_TRUE(rig->waitEvent.IsSet());
}

TEST_F(LiveFake, EndWithAReplyThatNeverComesIsBounded) {
  device->after = Reply::Never;
  EXPECT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return rig->thread->IsInFlight(); }));
  QElapsedTimer timer;
  timer.start();
  EXPECT_TRUE(rig->End(LIVE_END_WAIT_MS + 10000));
  EXPECT_LT(timer.elapsed(), qint64(LIVE_END_WAIT_MS + 10000));
  // Released for a recording that waited for the first picture.
  EXPECT_TRUE(rig->waitEvent.IsSet());
}

TEST_F(LiveFake, EndWithTheCameraGoneDoesNotWaitForItsReply) {
  device->after = Reply::Never;
  EXPECT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return rig->thread->IsInFlight(); }));
  device->connected = false;
  QElapsedTimer timer;
  timer.start();
  EXPECT_TRUE(rig->End());
  EXPECT_LT(timer.elapsed(), qint64(LIVE_END_WAIT_MS));
}

TEST_F(LiveFake, CountingStartsAtZeroAndStops) {
  EXPECT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return rig->draws >= 2; }));
  EXPECT_EQ(rig->thread->GetPictureCount(), 0);
  rig->thread->SetCounting(true);
  ASSERT_TRUE(WaitFor([&] { return rig->thread->GetPictureCount() >= 3; }));
  rig->thread->SetCounting(false);
  const int counted = rig->thread->GetPictureCount();
  const int before = device->requests.load();
  ASSERT_TRUE(WaitFor([&] { return device->requests.load() >= before + 3; }));
  EXPECT_EQ(rig->thread->GetPictureCount(), counted);
  rig->thread->SetCounting(true);
  EXPECT_LE(rig->thread->GetPictureCount(), 1);
}

TEST_F(LiveFake, DeletingARunningThreadEndsItAndHandsEverythingBack) {
  EXPECT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return rig->draws >= 2; }));
  rig->thread.reset();  // no WM_SEMIANIMATION_END first
  EXPECT_TRUE(WaitFor([&] { return device->Outstanding() == 0; }, 5000));
}

TEST_F(LiveFake, MessageWindowWithoutOwnerHandsTheReplyStraightBack) {
  CMessageWnd window;
  ASSERT_TRUE(window.Create());
  WORD sequence = 0;
  DWORD error = 0;
  const DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  ASSERT_TRUE(device->bRequestAsync(window.GetSafeHwnd(), &cmd, &sequence, &error));
  ASSERT_TRUE(WaitFor([&] { return device->handedBack.load() == 1; }));
  window.Destroy();
}

// ------------------------------------------------------------ on the emulator

class LiveEmulator : public MovFixture {
 protected:
  void SetUp() override {
    MovFixture::SetUp();
    const std::string root = Dir() + "/devices";
    setenv("FOTAVI_DEVICE_ROOT", root.c_str(), 1);
    fotavi::test::EmulatorOptions options;
    options.deviceRoot = root;
    emulator = std::make_unique<fotavi::test::EmulatorProcess>(options);
    ASSERT_TRUE(emulator->Start());
    module = LoadLibrary("FotaviZ5.dll");
    ASSERT_NE(module, nullptr) << GetLoadErrorText();
    auto create = GetProcAddressAs<PFN_CREATEINSTANCE>(module, "CreateInstance");
    release = GetProcAddressAs<PFN_RELEASEINSTANCE>(module, "ReleaseInstance");
    ASSERT_TRUE(create && release);
    ASSERT_TRUE(create(&device));
    rig = std::make_unique<LiveRig>(device);
    DWORD err = 0;
    ASSERT_TRUE(device->bOpen(rig->view_, &err)) << std::hex << err;
  }
  void TearDown() override {
    rig.reset();
    if (device) {
      DWORD err = 0;
      device->bClose(&err);
      release(&device);
    }
    if (module) FreeLibrary(module);
    emulator.reset();
    unsetenv("FOTAVI_DEVICE_ROOT");
    MovFixture::TearDown();
  }
  std::unique_ptr<fotavi::test::EmulatorProcess> emulator;
  HMODULE module = nullptr;
  PFN_RELEASEINSTANCE release = nullptr;
  CDeviceInterface* device = nullptr;
  std::unique_ptr<LiveRig> rig;
};

TEST_F(LiveEmulator, CameraPicturesArriveAtTheOutputSize) {
  ASSERT_TRUE(rig->Start(256, 192));
  rig->thread->SetCounting(true);
  ASSERT_TRUE(WaitFor([&] { return rig->thread->GetPictureCount() >= 10; }, 20000));
  EXPECT_EQ(rig->thread->CopyPicture(256, 192).size(), QSize(256, 192));
  EXPECT_TRUE(rig->waitEvent.IsSet());
  EXPECT_TRUE(rig->errors.empty());
  EXPECT_TRUE(rig->End());
}

TEST_F(LiveEmulator, TwoBadFramesPassTheThirdStops) {
  ASSERT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return rig->draws >= 2; }, 20000));
  ASSERT_TRUE(emulator->Command("bad-frame 2"));
  const int draws = rig->draws;
  ASSERT_TRUE(WaitFor([&] { return rig->draws >= draws + 3; }, 20000));
  EXPECT_TRUE(rig->errors.empty());
  ASSERT_TRUE(emulator->Command("bad-frame 3"));
  ASSERT_TRUE(WaitFor([&] { return !rig->errors.empty(); }, 20000));
  EXPECT_EQ(rig->errors, std::vector<WPARAM>{SEMIANIMATION_FAILED});
  EXPECT_TRUE(rig->End());
}

TEST_F(LiveEmulator, UnplugStopsTheLivePictureWithItsMessage) {
  ASSERT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return rig->draws >= 2; }, 20000));
  ASSERT_TRUE(emulator->Unplug());
  ASSERT_TRUE(WaitFor([&] { return !rig->errors.empty(); }, 30000));
  EXPECT_EQ(rig->errors.front(), SEMIANIMATION_FAILED);
  EXPECT_TRUE(rig->End());
}

TEST_F(LiveEmulator, StopWhileTheFirstPictureIsMissingNeverHangs) {
  ASSERT_TRUE(emulator->Command("drop 0x808E always"));
  ASSERT_TRUE(rig->Start());
  ASSERT_TRUE(WaitFor([&] { return rig->thread->IsInFlight(); }));
  QElapsedTimer timer;
  timer.start();
  EXPECT_TRUE(rig->End());
  EXPECT_LT(timer.elapsed(), qint64(LIVE_END_WAIT_MS + 5000));
  EXPECT_TRUE(rig->waitEvent.IsSet());
  EXPECT_EQ(rig->draws, 0);
}

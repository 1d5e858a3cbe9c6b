// Start-up and shut-down of the movie program, and its main window on the
// real device library with and without the camera emulator.
#include <gtest/gtest.h>

#include <QTimer>

#include <new>

#include "Common/CommonFunc.h"
#include "EmulatorProcess.h"
#include "FRMDlg.h"
#include "MainFrm.h"
#include "MovApp.h"
#include "MovResource.h"
#include "MovProgramFixture.h"
#include "MovTestSupport.h"
#include "Platform/Library.h"
#include "Platform/Settings.h"

using namespace movtest;

namespace {
const char* const kInitText = "Unable to initialize.\nClosing this application.";
const std::string kParameters = "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters";

// A main window without widgets that notes what the application had when it
// was made and when it went.
struct ProbeFrame : IMovMainFrame {
  explicit ProbeFrame(CFotaviMovApp* app, bool* deviceAtExit) : app(app), deviceAtExit(deviceAtExit) {}
  ~ProbeFrame() override { *deviceAtExit = app->GetDevice() != nullptr; }
  void ShowFrame() override { shown = true; }
  CFotaviMovApp* app;
  bool* deviceAtExit;
  bool shown = false;
};
}  // namespace

class MovStartup : public MovFixture {
 protected:
  void SetUp() override {
    MovFixture::SetUp();
    setenv("FOTAVI_DEVICE_ROOT", (Dir() + "/devices").c_str(), 1);
    setenv("FOTAVI_MODULE_PATH", MOV_TEST_MODULES, 1);
    app = std::make_unique<CFotaviMovApp>();
    app->SetFrameFactory([this](CFotaviMovApp* a) -> std::unique_ptr<IMovMainFrame> {
      counterAtFrame = a->GetControlDialog() != nullptr;
      return std::make_unique<ProbeFrame>(a, &deviceAtExit);
    });
  }
  void TearDown() override {
    app.reset();
    unsetenv("FOTAVI_MODULE_PATH");
    unsetenv("FOTAVI_DEVICE_ROOT");
    MovFixture::TearDown();
  }
  // Nobody holds the single-instance mutex any more.
  static bool MutexFree() {
    std::unique_ptr<CNamedMutex> probe;
    return CreateAppMutex(APP_MUTEX_NAME, true, &probe) == APPMUTEX_CREATED;
  }
  std::unique_ptr<CFotaviMovApp> app;
  bool counterAtFrame = false;
  bool deviceAtExit = false;
};

struct FailureCase {
  const char* name;
  const char* library;  // nullptr: the real one, with the mutex already held
  const char* text;
};
class StartupFailure : public MovStartup, public ::testing::WithParamInterface<FailureCase> {};
TEST_P(StartupFailure, OneStopBoxThenNothingIsLeft) {
  std::unique_ptr<CNamedMutex> held;
  if (GetParam().library) {
    app->SetDeviceLibraryName(GetParam().library);
  } else {
    ASSERT_EQ(CreateAppMutex(APP_MUTEX_NAME, true, &held), APPMUTEX_CREATED);
  }
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{GetParam().text});
  ASSERT_EQ(ui.Types().size(), 1u);
  EXPECT_EQ(ui.Types()[0] & MB_ICONMASK, MB_ICONSTOP);
  EXPECT_EQ(app->GetMainFrame(), nullptr);
  EXPECT_EQ(app->GetDevice(), nullptr);
  EXPECT_EQ(app->GetDeviceModule(), nullptr);  // a library that was loaded is freed again
  app->ExitInstance();
  held.reset();
  EXPECT_TRUE(MutexFree());
}
// The case's name: the test's name and its printed parameter.
std::string FailureCaseName(const FailureCase& c) { return std::string(c.name); }
void PrintTo(const FailureCase& c, std::ostream* os) { *os << FailureCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Table, StartupFailure,
                         ::testing::Values(FailureCase{"AlreadyLaunched", nullptr,
                                                       "Fotavi or Tiryx TWAIN DS is already launched."},
                                           FailureCase{"MissingLibraryIsNamed", "FotaviNoSuchLibrary.dll",
                                                       "Unable to load FotaviNoSuchLibrary.dll."},
                                           FailureCase{"NoCreateInstance", MOV_NOCREATE_MODULE, kInitText},
                                           FailureCase{"CreateInstanceFails", MOV_CREATEFAILS_MODULE, kInitText}),
                         [](const auto& info) { return FailureCaseName(info.param); });

TEST_F(MovStartup, StartsInOrderAndShutsDownFrameFirst) {
  ASSERT_TRUE(app->InitInstance());
  EXPECT_TRUE(ui.Texts().empty());
  EXPECT_TRUE(counterAtFrame);
  ASSERT_NE(app->GetMainFrame(), nullptr);
  EXPECT_TRUE(static_cast<ProbeFrame*>(app->GetMainFrame())->shown);
  EXPECT_NE(app->GetDevice(), nullptr);
  EXPECT_TRUE(app->HoldsAppMutex());
  EXPECT_FALSE(MutexFree());
  app->ExitInstance();
  EXPECT_TRUE(deviceAtExit) << "the main window must go while the device still exists";
  EXPECT_EQ(app->GetDevice(), nullptr);
  EXPECT_EQ(app->GetControlDialog(), nullptr);
  EXPECT_TRUE(MutexFree());
  app->ExitInstance();  // twice is harmless
}

TEST_F(MovStartup, HelpPathFollowsTheInstallFolder) {
  ASSERT_TRUE(SettingsWriteString(HKEY_LOCAL_MACHINE, kParameters, "InstallPath", "/opt/fotavi"));
  ASSERT_TRUE(app->InitInstance());
  EXPECT_EQ(app->GetHelpPath(), "/opt/fotavi/HELP/Fotavi.chm");
}

TEST_F(MovStartup, FrameThatCannotBeMadeEndsQuietlyOrWithTheResourceText) {
  app->SetFrameFactory([](CFotaviMovApp*) { return std::unique_ptr<IMovMainFrame>(); });
  EXPECT_FALSE(app->InitInstance());
  EXPECT_TRUE(ui.Texts().empty());
  app->ExitInstance();
  app->SetFrameFactory([](CFotaviMovApp*) -> std::unique_ptr<IMovMainFrame> { throw std::bad_alloc(); });
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Insufficient system resources for execution.\n"
                                                 "Please close other applications and try again."});
}

struct CodecCase {
  const char* name;
  bool configured;
  DWORD jpegLib;
  bool bound;
};
class CodecChoice : public MovStartup, public ::testing::WithParamInterface<CodecCase> {};
TEST_P(CodecChoice, OptionalAndNeverHalfBound) {
  if (GetParam().configured) {
    ASSERT_TRUE(SettingsWriteDword(HKEY_LOCAL_MACHINE, kParameters, "JpegLib", GetParam().jpegLib));
  }
  // The incomplete stand-in is there to be found: only its missing entry refuses it.
  if (GetParam().jpegLib == 2) {
    ASSERT_FALSE(ResolveModulePath("FotaviIJG_Z5.dll").empty());
  }
  ASSERT_TRUE(app->InitInstance());
  EXPECT_TRUE(ui.Texts().empty());
  EXPECT_EQ(app->GetCodecModule() != nullptr, GetParam().bound);
  EXPECT_EQ(app->GetLoadJpegEntry() != nullptr, GetParam().bound);
  EXPECT_EQ(app->GetJpegInfoEntry() != nullptr, GetParam().bound);
}
// The case's name: the test's name and its printed parameter.
std::string CodecCaseName(const CodecCase& c) { return std::string(c.name); }
void PrintTo(const CodecCase& c, std::ostream* os) { *os << CodecCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Table, CodecChoice,
                         ::testing::Values(CodecCase{"MissingValueMeansTheFirstCodec", false, 0, true},
                                           CodecCase{"ZeroMeansNone", true, 0, false},
                                           CodecCase{"SimdCodec", true, 1, true},
                                           // This one has FncLoadJpegW but not FncGetJpegInfoW.
                                           CodecCase{"IncompleteCodecIsFreed", true, 2, false},
                                           CodecCase{"OtherValueMeansNone", true, 9, false}),
                         [](const auto& info) { return CodecCaseName(info.param); });

// ------------------------------------------------------------ the main window

using MovWindow = MovProgramFixture;

TEST_F(MovWindow, WithoutTheCameraTheDeviceCommandsAreGreyed) {
  ASSERT_TRUE(StartApp());
  ASSERT_NE(Main(), nullptr);
  EXPECT_FALSE(Main()->IsDeviceOpen());
  EXPECT_EQ(Main()->GetStatusText(), "Unable to use the main unit.");
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_LIVE_START));
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_SETTING));
  EXPECT_TRUE(ui.Texts().empty());
}

TEST_F(MovWindow, LivePictureRunsStopsOnUnplugAndComesBackOnReplug) {
  ASSERT_TRUE(StartCamera());
  ASSERT_TRUE(StartApp());
  ASSERT_TRUE(Main()->IsDeviceOpen());
  EXPECT_EQ(Main()->GetStatusText(), "Ready");
  Main()->OnSemiAnimation();
  ASSERT_TRUE(Main()->GetView()->IsSemiAnimation());
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_LIVE_START));
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_MOV_LIVE_STOP));
  ASSERT_TRUE(WaitFor([&] { return Main()->GetView()->PaintedFrames() >= 3; }, 20000));
  // The default output size: half the camera picture.
  EXPECT_EQ(Main()->GetView()->size(), QSize(512, 384));
  ASSERT_TRUE(emulator->Unplug());
  ASSERT_TRUE(WaitFor([&] { return !Main()->GetView()->IsSemiAnimation() && !Main()->IsDeviceOpen(); }, 20000));
  EXPECT_EQ(Main()->GetStatusText(), "Unable to use the main unit.");
  ASSERT_TRUE(emulator->Replug());
  ASSERT_TRUE(WaitFor([&] { return Main()->IsCommandEnabled(ID_MOV_LIVE_START); }, 20000));
  EXPECT_EQ(Main()->GetStatusText(), "Ready");
  Main()->OnSemiAnimation();
  ASSERT_TRUE(Main()->GetView()->IsSemiAnimation());
  const auto painted = Main()->GetView()->PaintedFrames();
  EXPECT_TRUE(WaitFor([&] { return Main()->GetView()->PaintedFrames() >= painted + 3; }, 20000));
  Main()->OnSemiAnimationStop();
  EXPECT_FALSE(Main()->GetView()->IsSemiAnimation());
  // An unplug can race the live thread's own failure: at most its one message.
  for (const auto& text : ui.Texts()) EXPECT_EQ(text, "Unable to acquire live-monitor image.");
}

TEST_F(MovWindow, RemovalClosesTheSettingsDialogOnlyAfterTheLastMessageBox) {
  ASSERT_TRUE(StartCamera());
  ASSERT_TRUE(StartApp());
  ASSERT_TRUE(Main()->IsDeviceOpen());
  CControlDialog* counter = app->GetControlDialog();
  CFRMDlg* dialog = Main()->GetDocument()->GetSettingDialog();
  bool openWhileBoxOpen = false;
  bool closedAfterBox = false;
  QTimer::singleShot(0, dialog, [&] {
    counter->BeginModal();  // a message box stands open
    EXPECT_TRUE(emulator->Unplug());
    EXPECT_TRUE(WaitFor([&] { return !Main()->IsDeviceOpen(); }, 20000));
    Pump(100);
    openWhileBoxOpen = dialog->isVisible();
    counter->EndModal();  // the last box closes: the frame checks the camera again
    closedAfterBox = WaitFor([&] { return !dialog->isVisible(); }, 10000);
    if (dialog->isVisible()) dialog->reject();
  });
  Main()->OnSetting();
  EXPECT_TRUE(openWhileBoxOpen);
  EXPECT_TRUE(closedAfterBox);
  EXPECT_EQ(Main()->GetDocument()->GetIsSetting(), 0u);
}

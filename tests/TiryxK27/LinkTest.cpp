// The device link's recheck rules and the camera buttons' commands.
#include <gtest/gtest.h>

#include "CaptureCore.h"
#include "DeviceLink.h"

namespace {

struct RecheckCase {
  BOOL connected;
  BOOL openOk;
  DWORD error;
  BOOL openedBefore;
  BOOL result;
  BOOL openedAfter;
};

class Recheck : public ::testing::TestWithParam<RecheckCase> {};

}  // namespace

TEST_P(Recheck, DecidesFromPresenceAndTheOpensAnswer) {
  const RecheckCase& c = GetParam();
  BOOL opened = c.openedBefore;
  EXPECT_EQ(CDeviceLink::RecheckResult(c.connected, c.openOk, c.error, &opened), c.result);
  EXPECT_EQ(opened, c.openedAfter);
}

namespace {
// The case's name: the test's name and its printed parameter.
std::string RecheckCaseName(const RecheckCase& c) {
  return std::string(c.connected ? "Connected" : "Unplugged") +
         (c.openOk ? "Opens" : "Error" + std::to_string(c.error)) + (c.openedBefore ? "WasOpen" : "WasClosed");
}
void PrintTo(const RecheckCase& c, std::ostream* os) { *os << RecheckCaseName(c); }
}  // namespace

INSTANTIATE_TEST_SUITE_P(Table, Recheck,
                         ::testing::Values(RecheckCase{FALSE, FALSE, 0, TRUE, FALSE, TRUE},
                                           RecheckCase{TRUE, TRUE, 0, FALSE, TRUE, TRUE},
                                           RecheckCase{TRUE, FALSE, ERR_FOTAVI_ALREADYOPEN, FALSE, TRUE, TRUE},
                                           RecheckCase{TRUE, FALSE, ERR_FOTAVI_NODEVICE, TRUE, FALSE, FALSE},
                                           RecheckCase{TRUE, FALSE, ERR_FOTAVI_ALREADYUSE, TRUE, FALSE, FALSE},
                                           RecheckCase{TRUE, FALSE, ERR_FOTAVI_IOCTLRESET, TRUE, FALSE, TRUE},
                                           RecheckCase{TRUE, FALSE, ERR_FOTAVI_IOCTLRESET, FALSE, FALSE, FALSE}),
                         [](const auto& info) { return RecheckCaseName(info.param); });

namespace {

struct ButtonCase {
  int id;
  bool sendsAtPress;
  DWORD pressValue;
  bool sendsAtRelease;
  DWORD releaseValue;
  WORD command;
  bool releaseSynchronous;
};

class CameraButton : public ::testing::TestWithParam<ButtonCase> {};

}  // namespace

TEST_P(CameraButton, PressAndReleaseSendTheirCommands) {
  const ButtonCase& c = GetParam();
  auto press = CameraPressAction(c.id);
  ASSERT_EQ(press.has_value(), c.sendsAtPress);
  if (press) {
    EXPECT_EQ(press->value, c.pressValue);
    EXPECT_EQ(press->command, c.command);
    EXPECT_FALSE(press->synchronous);
  }
  auto release = CameraReleaseAction(c.id);
  ASSERT_EQ(release.has_value(), c.sendsAtRelease);
  if (release) {
    EXPECT_EQ(release->value, c.releaseValue);
    EXPECT_EQ(release->command, c.command);
    EXPECT_EQ(release->synchronous, c.releaseSynchronous);
  }
  const CameraButtonInfo* info = FindCameraButton(c.id);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->command, c.command);
}

namespace {
// The case's name: the test's name and its printed parameter.
std::string ButtonCaseName(const ButtonCase& c) { return std::string(FindCameraButton(c.id)->caption); }
void PrintTo(const ButtonCase& c, std::ostream* os) { *os << ButtonCaseName(c); }
}  // namespace

INSTANTIATE_TEST_SUITE_P(Eight, CameraButton,
                         ::testing::Values(ButtonCase{IDC_IRIS_OPEN, true, 2, true, 4, 0xE2, false},
                                           ButtonCase{IDC_IRIS_CLOSE, true, 3, true, 4, 0xE2, false},
                                           ButtonCase{IDC_IRIS_NORMAL, true, 5, false, 0, 0xE2, false},
                                           ButtonCase{IDC_FOCUS_NEAR, true, 1, true, 0, 0xEA, false},
                                           ButtonCase{IDC_FOCUS_FAR, true, 2, true, 0, 0xEA, false},
                                           ButtonCase{IDC_FOCUS_AUTO, false, 0, true, 0, 0xE1, true},
                                           ButtonCase{IDC_ZOOM_TELE, true, 1, true, 0, 0xE0, false},
                                           ButtonCase{IDC_ZOOM_WIDE, true, 2, true, 0, 0xE0, false}),
                         [](const auto& info) { return ButtonCaseName(info.param); });

TEST(CameraButtons, OnlyTheEightControlsAreCameraButtons) {
  size_t count = 0;
  CameraButtons(&count);
  EXPECT_EQ(count, 8u);
  for (int id : {IDC_TWAIN_STILL, IDC_TWAIN_PLAY, IDC_TWAIN_TRANSFER, 0, 9999}) {
    EXPECT_EQ(FindCameraButton(id), nullptr);
    EXPECT_FALSE(CameraPressAction(id).has_value());
    EXPECT_FALSE(CameraReleaseAction(id).has_value());
  }
}

// The main frame's enabling rules and the measurement's result rule, as
// tables, and where a measurement's files go.
#include <gtest/gtest.h>

#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "MeasurementFiles.h"
#include "MovFrameRules.h"

namespace {

struct RateCase {
  const char* name;
  uint64_t frames;
  DWORD pictures;
  DWORD rate;
};

class MeasuredRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(MeasuredRate, IsTheSmallerOfWritingAndCamera) {
  EXPECT_EQ(MeasuredFrameRate(GetParam().frames, GetParam().pictures), GetParam().rate);
}

// The case's name: the test's name and its printed parameter.
std::string RateCaseName(const RateCase& c) { return std::string(c.name); }
void PrintTo(const RateCase& c, std::ostream* os) { *os << RateCaseName(c); }

INSTANTIATE_TEST_SUITE_P(
    Table, MeasuredRate,
    ::testing::Values(RateCase{"WritingAndCameraGiveTheSmaller", 150, 120, 12},
                      RateCase{"NeverReachesTheFieldMaximum", 250, 400, 19},
                      RateCase{"FifteenFramesGiveOne", 15, 400, 1}, RateCase{"NoPictureGivesOne", 150, 0, 1},
                      RateCase{"NoFrameGivesOne", 0, 0, 1}, RateCase{"TwentyPerSecondGivesNineteen", 200, 200, 19},
                      RateCase{"TwoPerSecondGivesOne", 20, 200, 1}, RateCase{"CameraSlowerThanWriting", 190, 35, 3},
                      // Only the low 32 bits of the frame count are taken.
                      RateCase{"HighBitsOfTheFrameCountAreDropped", (uint64_t(1) << 32) + 150, 120, 12}),
    [](const auto& info) { return RateCaseName(info.param); });

// A measurement's files lie in a folder of their own under the disk-backed
// work folder, never the runtime folder, and go with every part in it.
TEST(MeasurementFiles, HaveAFolderOfTheirOwnThatGoesWithEveryPart) {
  const std::string root = ::testing::TempDir() + "/measure-files";
  std::filesystem::remove_all(root);
  setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
  setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
  setenv("FOTAVI_WORK_DIR", (root + "/runtime/fotavi").c_str(), 1);
  const std::string large = root + "/cache/fotavi/work/";
  {
    CMeasurementFiles files;
    const std::string path = files.Create();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.rfind(large, 0), 0u) << path;
    EXPECT_EQ(path.substr(path.size() - 16), "/measurement.avi");
    struct stat st;
    ASSERT_EQ(stat(files.Folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    for (const char* part : {"measurement.avi", "measurement001.avi", "measurement002.avi"})
      std::ofstream(files.Folder() + "/" + part) << "frames";
    files.Remove();
    EXPECT_FALSE(std::filesystem::exists(path));
    // A second measurement, left without Remove: its folder goes with it.
    ASSERT_FALSE(files.Create().empty());
    std::ofstream(files.Folder() + "/measurement.avi") << "frames";
  }
  EXPECT_TRUE(std::filesystem::is_empty(large));
  EXPECT_FALSE(std::filesystem::exists(root + "/runtime/fotavi/measurement.avi"));
  unsetenv("XDG_CACHE_HOME");
  unsetenv("XDG_STATE_HOME");
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("FOTAVI_WORK_DIR");
  std::filesystem::remove_all(root);
}

// A program killed while it measured (or one that ended with a recording
// thread that never let go of its files) leaves its folder: the next
// measurement removes it, and so does the next start of the program; a
// running program's folder and any other file are left alone.
struct LeftFolderCase {
  const char* name;
  void (*sweep)();
};
class LeftMeasurementFolder : public ::testing::TestWithParam<LeftFolderCase> {};

TEST_P(LeftMeasurementFolder, GoesWhenItsProgramHasEnded) {
  const std::string root = ::testing::TempDir() + "/measure-left-" + GetParam().name;
  std::filesystem::remove_all(root);
  setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
  setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
  const std::string large = root + "/cache/fotavi/work/";
  {
    CMeasurementFiles probe;  // makes the work folder
    ASSERT_FALSE(probe.Create().empty());
  }
  // A process that has ended, and one that runs (this one's parent).
  const pid_t ended = fork();
  ASSERT_GE(ended, 0);
  if (ended == 0) _exit(0);
  ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
  const std::string left = large + "measurement-" + std::to_string(ended) + "-abc123";
  const std::string running = large + "measurement-" + std::to_string(getppid()) + "-def456";
  for (const std::string& folder : {left, running}) {
    ASSERT_TRUE(std::filesystem::create_directories(folder));
    for (const char* part : {"measurement.avi", "measurement001.avi"}) std::ofstream(folder + "/" + part) << "frames";
  }
  std::ofstream(large + "kept.txt") << "someone's own";
  GetParam().sweep();
  EXPECT_FALSE(std::filesystem::exists(left));
  EXPECT_TRUE(std::filesystem::exists(running + "/measurement001.avi"));
  EXPECT_TRUE(std::filesystem::exists(large + "kept.txt"));
  unsetenv("XDG_CACHE_HOME");
  unsetenv("XDG_STATE_HOME");
  std::filesystem::remove_all(root);
}

void SweepByTheNextMeasurement() {
  CMeasurementFiles files;
  ASSERT_FALSE(files.Create().empty());
}

INSTANTIATE_TEST_SUITE_P(Table, LeftMeasurementFolder,
                         ::testing::Values(LeftFolderCase{"AtTheNextMeasurement", &SweepByTheNextMeasurement},
                                           LeftFolderCase{"AtTheProgramsStart", &CMeasurementFiles::RemoveEndedFolders}),
                         [](const auto& info) { return std::string(info.param.name); });

// One state: device open, live picture, recording, movie open, record allowed.
struct EnableCase {
  const char* name;
  MOVFRAMESTATE state;
  UINT id;
  bool enabled;
};

class CommandEnabled : public ::testing::TestWithParam<EnableCase> {};

TEST_P(CommandEnabled, FollowsTheFrameRules) {
  EXPECT_EQ(MovCommandEnabled(GetParam().id, GetParam().state), GetParam().enabled);
}

constexpr MOVFRAMESTATE kNoDevice{false, false, false, false, false};
constexpr MOVFRAMESTATE kIdle{true, false, false, false, false};
constexpr MOVFRAMESTATE kLive{true, true, false, false, false};
constexpr MOVFRAMESTATE kLiveAllowed{true, true, false, false, true};
constexpr MOVFRAMESTATE kRecording{true, true, true, false, true};
constexpr MOVFRAMESTATE kMovie{true, false, false, true, false};
constexpr MOVFRAMESTATE kAllowedWithoutLive{true, false, false, false, true};

// The case's name: the test's name and its printed parameter.
std::string EnableCaseName(const EnableCase& c) { return std::string(c.name); }
void PrintTo(const EnableCase& c, std::ostream* os) { *os << EnableCaseName(c); }

INSTANTIATE_TEST_SUITE_P(
    Table, CommandEnabled,
    ::testing::Values(EnableCase{"RecordNeedsTheLivePicture", kAllowedWithoutLive, ID_MOV_RECORD, false},
                      EnableCase{"RecordNeedsTheAllowedFlag", kLive, ID_MOV_RECORD, false},
                      EnableCase{"RecordWithLiveAndFlag", kLiveAllowed, ID_MOV_RECORD, true},
                      EnableCase{"StopWhileRecording", kRecording, ID_MOV_MOVIE_STOP, true},
                      EnableCase{"StopWithAMovie", kMovie, ID_MOV_MOVIE_STOP, true},
                      EnableCase{"StopGreyedOtherwise", kLiveAllowed, ID_MOV_MOVIE_STOP, false},
                      EnableCase{"PlayOnlyWithAMovie", kLive, ID_MOV_MOVIE_PLAY, false},
                      EnableCase{"PlayWithAMovie", kMovie, ID_MOV_MOVIE_PLAY, true},
                      EnableCase{"PauseWithAMovie", kMovie, ID_MOV_MOVIE_PAUSE, true},
                      EnableCase{"CloseOnlyWithAMovie", kIdle, ID_MOV_MOVIE_CLOSE, false},
                      EnableCase{"SettingsWithTheCamera", kIdle, ID_MOV_SETTING, true},
                      EnableCase{"SettingsNotWhileRecording", kRecording, ID_MOV_SETTING, false},
                      EnableCase{"SettingsNotWithAMovie", kMovie, ID_MOV_SETTING, false},
                      EnableCase{"SettingsNotWithoutTheCamera", kNoDevice, ID_MOV_SETTING, false},
                      EnableCase{"StartWithTheCamera", kIdle, ID_MOV_LIVE_START, true},
                      EnableCase{"StartGreyedWhileLive", kLive, ID_MOV_LIVE_START, false},
                      EnableCase{"StartNotWithoutTheCamera", kNoDevice, ID_MOV_LIVE_START, false},
                      EnableCase{"LiveStopOnlyWhileLive", kIdle, ID_MOV_LIVE_STOP, false},
                      EnableCase{"LiveStopWhileLive", kLive, ID_MOV_LIVE_STOP, true},
                      EnableCase{"RemoteControlWithTheCamera", kIdle, ID_MOV_REMOTE_CONTROL, true},
                      EnableCase{"RemoteControlNotWithoutTheCamera", kNoDevice, ID_MOV_REMOTE_CONTROL, false},
                      EnableCase{"ViewSizeAlways", kNoDevice, ID_MOV_VIEW_SIZE_50, true},
                      EnableCase{"OpenAlways", kRecording, ID_MOV_MOVIE_OPEN, true}),
    [](const auto& info) { return EnableCaseName(info.param); });

TEST(ViewSize, PercentOfTheCommand) {
  EXPECT_EQ(ViewSizePercent(ID_MOV_VIEW_SIZE_200), 200);
  EXPECT_EQ(ViewSizePercent(ID_MOV_VIEW_SIZE_100), 100);
  EXPECT_EQ(ViewSizePercent(ID_MOV_VIEW_SIZE_50), 50);
  EXPECT_EQ(ViewSizePercent(ID_MOV_VIEW_SIZE_FIT), 100);
}

}  // namespace

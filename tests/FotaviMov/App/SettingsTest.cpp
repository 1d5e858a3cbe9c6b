// The recording settings (defaults, limits, sizes, profiles) and the
// settings dialog's rules (digit check, validation texts, conversions,
// extension fix), without any window.
#include <gtest/gtest.h>

#include <sys/statvfs.h>

#include "Common/CommonFunc.h"
#include "FRMLogic.h"
#include "MovResource.h"
#include "MovTestSupport.h"
#include "Platform/Paths.h"
#include "Platform/Settings.h"
#include "RecSettings.h"

using namespace movtest;

namespace {
const std::string kRecKey = "SOFTWARE\\Tiryx\\Fotavi (K27)\\FotaviForMovieCreation\\RecSection";
}  // namespace

class RecSettingsTest : public MovFixture {};

TEST_F(RecSettingsTest, EmptyRegistryGivesTheDefaultsAndCreatesMaxReqCount) {
  ASSERT_FALSE(SettingsKeyExists(HKEY_CURRENT_USER, kRecKey));
  CRecSettings s;
  s.ReadFromRegistry();
  EXPECT_EQ(s.dwFrameRate, 1u);
  EXPECT_EQ(s.dwCompress, COMPRESS_AVI);
  EXPECT_EQ(s.dwVideoSize, VIDEOSIZE_50);
  EXPECT_EQ(s.dwRecCondition, RECCOND_NONE);
  EXPECT_EQ(s.GetRecLimit(), 0u);
  EXPECT_EQ(s.dwMaxReqCount, 10u);
  EXPECT_EQ(s.dwMaxFileSize, 1024u);
  EXPECT_EQ(s.dwVideoQuality, 100u);
  EXPECT_EQ(s.dwIsSetting, 0u);
  EXPECT_EQ(s.strOutputFileName, "output");
  EXPECT_EQ(s.strProfileFileName, "SXGA-50");
  for (int i = 0; i < VIDEOSIZE_COUNT; ++i) {
    EXPECT_EQ(s.dwAviRate[i], 1u);
    EXPECT_EQ(s.dwWmvRate[i], 1u);
    EXPECT_EQ(s.dwWmvQuality[i], 100u);
  }
  EXPECT_EQ(StoredRecInt("MaxReqCount"), 10u);
  ASSERT_TRUE(s.SetVideoSize(1024, 768));
  EXPECT_EQ(s.dwVideoWidth, 512u);
  EXPECT_EQ(s.dwVideoHeight, 384u);
  EXPECT_TRUE(ui.Texts().empty());
}

TEST_F(RecSettingsTest, StoredValuesWinAndATunedMaxReqCountIsKept) {
  ASSERT_TRUE(WriteRecInt("MaxReqCount", 25));
  ASSERT_TRUE(WriteRecInt("AVIRate100", 7));
  ASSERT_TRUE(WriteRecInt("WMVVideoQuality25", 40));
  ASSERT_TRUE(WriteRecString("OutputFileName", "/videos/a.avi"));
  CRecSettings s;
  s.ReadFromRegistry();
  EXPECT_EQ(s.dwMaxReqCount, 25u);
  EXPECT_EQ(StoredRecInt("MaxReqCount"), 25u);
  EXPECT_EQ(s.dwAviRate[VIDEOSIZE_100], 7u);
  EXPECT_EQ(s.dwAviRate[VIDEOSIZE_25], 1u);
  EXPECT_EQ(s.dwWmvQuality[VIDEOSIZE_25], 40u);
  EXPECT_EQ(s.strOutputFileName, "/videos/a.avi");
}

struct LimitCase {
  DWORD mode, minutes, seconds, capacity;
  uint64_t limit;
};
class RecLimit : public ::testing::TestWithParam<LimitCase> {};
TEST_P(RecLimit, SecondsForTimeBytesForCapacity) {
  const LimitCase& c = GetParam();
  EXPECT_EQ(ComputeRecLimit(c.mode, c.minutes, c.seconds, c.capacity), c.limit);
  CRecSettings s;
  s.dwRecCondition = c.mode;
  s.dwRecMinute = c.minutes;
  s.dwRecSecond = c.seconds;
  s.dwRecCapacity = c.capacity;
  EXPECT_EQ(s.GetRecLimit(), c.limit);
  EXPECT_EQ(s.qwRecLimit, c.limit);
}
INSTANTIATE_TEST_SUITE_P(
    Table, RecLimit,
    ::testing::Values(LimitCase{RECCOND_TIME, 2, 5, 0, 125}, LimitCase{RECCOND_CAPACITY, 0, 0, 700, 734003200ull},
                      LimitCase{RECCOND_NONE, 2, 5, 700, 0}, LimitCase{7, 2, 5, 700, 0},
                      // The 32-bit fields at their largest never wrap the 64-bit limit.
                      LimitCase{RECCOND_TIME, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0xFFFFFFFFull * 61},
                      LimitCase{RECCOND_CAPACITY, 0, 0, 0xFFFFFFFFu, 0xFFFFFFFFull * 1048576ull},
                      LimitCase{RECCOND_CAPACITY, 0, 0, 4096, 4294967296ull}),
    [](const auto& info) {
      const DWORD mode = info.param.mode;
      return std::string(mode == RECCOND_TIME ? "Time" : mode == RECCOND_CAPACITY ? "Capacity"
                                              : mode == RECCOND_NONE ? "None" : "OtherMode") +
             "_" + std::to_string(info.index);
    });

struct SizeCase {
  DWORD videoSize;
  DWORD width, height;
  const char* profile;
};
class OutputSize : public MovFixture, public ::testing::WithParamInterface<SizeCase> {};
TEST_P(OutputSize, SizeAndProfileFromTheInstallFolder) {
  ASSERT_TRUE(SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters",
                                  "InstallPath", "/opt/fotavi"));
  CRecSettings s;
  s.dwVideoSize = GetParam().videoSize;
  ASSERT_TRUE(s.SetVideoSize(1024, 768));
  EXPECT_EQ(s.dwVideoWidth, GetParam().width);
  EXPECT_EQ(s.dwVideoHeight, GetParam().height);
  EXPECT_EQ(s.strProfileFileName, std::string("/opt/fotavi/Profile/") + GetParam().profile);
}
INSTANTIATE_TEST_SUITE_P(Table, OutputSize,
                         ::testing::Values(SizeCase{VIDEOSIZE_25, 256, 192, "256-192.prx"},
                                           SizeCase{VIDEOSIZE_50, 512, 384, "512-384.prx"},
                                           SizeCase{VIDEOSIZE_100, 1024, 768, "XGA.prx"}),
    [](const auto& info) { return std::to_string(info.param.width) + "x" + std::to_string(info.param.height); });

TEST_F(RecSettingsTest, ProfileWithoutInstallPathLiesBesideTheProgram) {
  EXPECT_EQ(GetProfilePath(VIDEOSIZE_100), GetProgramFolder() + "/Profile/XGA.prx");
}

TEST_F(RecSettingsTest, InvalidVideoSizeFailsWithTheInternalErrorText) {
  ASSERT_TRUE(WriteRecInt("VideoSize", 3));
  CRecSettings s;
  s.ReadFromRegistry();
  EXPECT_FALSE(s.SetVideoSize(1024, 768));
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"An Internal Error has occurred."});
  EXPECT_EQ(GetProfilePath(5), "");
}

TEST_F(RecSettingsTest, MeasurementSizeIsRestored) {
  CRecSettings s;
  s.ReadFromRegistry();
  ASSERT_TRUE(s.SetVideoSize(1024, 768));
  s.SetVideoSizeTemp(256, 192);
  EXPECT_EQ(s.dwVideoWidth, 256u);
  s.RestoreVideoSize();
  EXPECT_EQ(s.dwVideoWidth, 512u);
  EXPECT_EQ(s.dwVideoHeight, 384u);
}

// ------------------------------------------------------------ the dialog's rules

struct DigitCase {
  const char* text;
  bool ok;
  DWORD value;
};
class DigitCheck : public MovFixture, public ::testing::WithParamInterface<DigitCase> {};
TEST_P(DigitCheck, OnlyDigitsThatFitPass) {
  DWORD value = 12345;
  EXPECT_EQ(CheckItemValue(GetParam().text, &value) != FALSE, GetParam().ok);
  if (GetParam().ok) {
    EXPECT_EQ(value, GetParam().value);
  }
}
INSTANTIATE_TEST_SUITE_P(Table, DigitCheck,
                         ::testing::Values(DigitCase{"", true, 0}, DigitCase{"0", true, 0}, DigitCase{"20", true, 20},
                                           DigitCase{"4294967295", true, 0xFFFFFFFFu},
                                           DigitCase{"4294967296", false, 0},
                                           DigitCase{"99999999999999999999999999", false, 0},
                                           DigitCase{" 5", false, 0}, DigitCase{"-1", false, 0},
                                           DigitCase{"1a", false, 0}, DigitCase{"\xef\xbc\x95", false, 0}),
    [](const auto& info) {
      std::string n;
      for (char c : std::string(info.param.text)) n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return "Text" + n + "_" + std::to_string(info.index);
    });

struct ValidationCase {
  const char* name;
  FRMFIELDS fields;
  const char* error;  // "" when accepted
  int focus;
};
class Validation : public MovFixture, public ::testing::WithParamInterface<ValidationCase> {};
TEST_P(Validation, TextAndFocusOfTheFirstBadField) {
  const FRMCHECK check = ValidateItems(GetParam().fields);
  EXPECT_EQ(check.strError, GetParam().error);
  EXPECT_EQ(check.bOk != FALSE, std::string(GetParam().error).empty());
  if (!check.bOk) {
    EXPECT_EQ(check.nFocusId, GetParam().focus);
  }
}

FRMFIELDS Avi(const char* rate, const char* split) {
  FRMFIELDS f;
  f.strRate = rate;
  f.strSplit = split;
  return f;
}
FRMFIELDS Wmv(const char* rate, const char* quality) {
  FRMFIELDS f;
  f.strRate = rate;
  f.strQuality = quality;
  f.strSplit = "garbage";  // not looked at for WMV
  f.dwCompress = COMPRESS_WMV;
  return f;
}
FRMFIELDS WithLimits(FRMFIELDS f, const char* minutes, const char* seconds, const char* capacity) {
  f.strMinutes = minutes;
  f.strSeconds = seconds;
  f.strCapacity = capacity;
  return f;
}

const char* const kTooLarge =
    "The maximum size of the divided file is too large.\nPlease input a value of less than 1024.";
const char* const kTooSmall =
    "The maximum size of the divided file is too small.\nPlease input a value of 100 or more.";

INSTANTIATE_TEST_SUITE_P(
    Table, Validation,
    ::testing::Values(
        ValidationCase{"split1024", Avi("10", "1024"), "", 0},
        ValidationCase{"split100", Avi("10", "100"), "", 0},
        ValidationCase{"split1025", Avi("10", "1025"), kTooLarge, IDC_FRM_SPLIT},
        ValidationCase{"split99", Avi("10", "99"), kTooSmall, IDC_FRM_SPLIT},
        ValidationCase{"splitEmpty", Avi("10", ""), kTooSmall, IDC_FRM_SPLIT},
        ValidationCase{"splitLetters", Avi("10", "1O24"), "Invalid value (The value of Maximum divided file size is invalid.)",
                       IDC_FRM_SPLIT},
        ValidationCase{"rateEmpty", Avi("", "1024"), "Please specify the value of Frame rate. ", IDC_FRM_RATE},
        ValidationCase{"rate0", Avi("0", "1024"), "Invalid value (The value of Frame rate is invalid.)", IDC_FRM_RATE},
        ValidationCase{"rate21", Avi("21", "1024"), "Invalid value (The value of Frame rate is invalid.)", IDC_FRM_RATE},
        ValidationCase{"rate20", Avi("20", "1024"), "", 0},
        ValidationCase{"qualityEmpty", Wmv("5", ""), "Please specify the value of Video quality. ", IDC_FRM_QUALITY},
        ValidationCase{"quality101", Wmv("5", "101"), "Invalid value (The value of Video quality is invalid.)",
                       IDC_FRM_QUALITY},
        ValidationCase{"quality100", Wmv("5", "100"), "", 0},
        ValidationCase{"minutesBad", WithLimits(Avi("5", "1024"), "1.5", "", ""),
                       "Invalid value (The value of Recording time (minutes) is invalid.)", IDC_FRM_MINUTES},
        ValidationCase{"secondsHuge", WithLimits(Avi("5", "1024"), "", "99999999999", ""),
                       "Invalid value (The value of Recording time (seconds) is invalid.)", IDC_FRM_SECONDS},
        ValidationCase{"capacityBad", WithLimits(Avi("5", "1024"), "", "", "7MB"),
                       "Invalid value (The value of Recording capacity is invalid.)", IDC_FRM_CAPACITY},
        // The rate is checked before the split size.
        ValidationCase{"rateFirst", Avi("x", "5000"), "Invalid value (The value of Frame rate is invalid.)",
                       IDC_FRM_RATE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecSettingsTest, SplitSizeIsHeldInBytesAndZeroForWmv) {
  EXPECT_EQ(ValidateItems(Avi("1", "1024")).dwSplitBytes, 1073741824u);
  EXPECT_EQ(ValidateItems(Avi("1", "100")).dwSplitBytes, 104857600u);
  EXPECT_EQ(ValidateItems(Wmv("1", "50")).dwSplitBytes, 0u);
}

TEST_F(RecSettingsTest, OkRefusesAZeroLimitThatTheSilentCheckAccepts) {
  FRMFIELDS time = WithLimits(Avi("5", "1024"), "", "0", "");
  time.dwLimit = RECCOND_TIME;
  EXPECT_TRUE(ValidateItems(time).bOk);
  FRMCHECK c = ValidateForOk(time, "/v/out.avi");
  EXPECT_EQ(c.strError, "Invalid value (The value of Recording time (minutes) is invalid.)");
  EXPECT_EQ(c.nFocusId, IDC_FRM_MINUTES);
  FRMFIELDS capacity = WithLimits(Avi("5", "1024"), "", "", "");
  capacity.dwLimit = RECCOND_CAPACITY;
  c = ValidateForOk(capacity, "/v/out.avi");
  EXPECT_EQ(c.strError, "Invalid value (The value of Recording capacity is invalid.)");
  EXPECT_EQ(c.nFocusId, IDC_FRM_CAPACITY);
  EXPECT_EQ(ValidateForOk(Avi("5", "1024"), "").strError, "Please specify the value of Output file name. ");
  time.strSeconds = "1";
  EXPECT_TRUE(ValidateForOk(time, "/v/out.avi").bOk);
}

// The frame sizes come from the camera picture, not from the output size.
TEST(FrameBytesTest, QuarterHalfAndWholePicture) {
  EXPECT_EQ(FrameBytes(VIDEOSIZE_25, 1024, 768), 192u * 256u * 3u);
  EXPECT_EQ(FrameBytes(VIDEOSIZE_50, 1024, 768), 589824u);
  EXPECT_EQ(FrameBytes(VIDEOSIZE_100, 1024, 768), 2359296u);
  EXPECT_EQ(FrameBytes(9, 1024, 768), 0u);
}

struct ConversionCase {
  DWORD videoSize, rate, minutes, seconds, capacity;  // capacity from the time
  DWORD backMinutes, backSeconds;                     // time from that capacity
};
class Conversion : public ::testing::TestWithParam<ConversionCase> {};
TEST_P(Conversion, TimeToCapacityAndBack) {
  const ConversionCase& c = GetParam();
  const uint64_t frame = FrameBytes(c.videoSize, 1024, 768);
  // Independent oracle: the byte arithmetic in long double.
  const long double bytes = (c.minutes * 60.0L + c.seconds) * frame * c.rate + 2560.0L;
  EXPECT_EQ(uint64_t(bytes / 1048576.0L), c.capacity);
  EXPECT_EQ(TimeToCapacity(c.minutes, c.seconds, c.rate, frame), c.capacity);
  DWORD minutes = 99, seconds = 99;
  CapacityToTime(c.capacity, c.rate, frame, &minutes, &seconds);
  EXPECT_EQ(minutes, c.backMinutes);
  EXPECT_EQ(seconds, c.backSeconds);
}
INSTANTIATE_TEST_SUITE_P(Table, Conversion,
                         ::testing::Values(ConversionCase{VIDEOSIZE_50, 10, 1, 0, 337, 0, 59},
                                           ConversionCase{VIDEOSIZE_100, 20, 10, 30, 28350, 10, 29},
                                           ConversionCase{VIDEOSIZE_25, 1, 0, 1, 0, 0, 0},
                                           ConversionCase{VIDEOSIZE_25, 5, 2, 0, 84, 1, 59}),
    [](const auto& info) {
      return "Size" + std::to_string(info.param.videoSize) + "Rate" + std::to_string(info.param.rate) + "_"
             + std::to_string(info.param.minutes) + "m" + std::to_string(info.param.seconds) + "s";
    });

TEST(ConversionEdges, NoUnderflowNoOverflow) {
  DWORD minutes = 7, seconds = 7;
  // 0 MB holds no frame: the header subtraction must not wrap around.
  CapacityToTime(0, 10, 589824, &minutes, &seconds);
  EXPECT_EQ(minutes, 0u);
  EXPECT_EQ(seconds, 0u);
  CapacityToTime(1, 10, 2359296, &minutes, &seconds);  // less than one frame
  EXPECT_EQ(minutes + seconds, 0u);
  CapacityToTime(337, 0, 589824, &minutes, &seconds);
  EXPECT_EQ(minutes + seconds, 0u);
  CapacityToTime(337, 10, 0, &minutes, &seconds);
  EXPECT_EQ(minutes + seconds, 0u);
  // The largest field values stay within the field.
  EXPECT_EQ(TimeToCapacity(FRM_FIELD_MAX, 59, 20, 2359296), FRM_FIELD_MAX);
  EXPECT_EQ(TimeToCapacity(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, ~0ull), FRM_FIELD_MAX);
  CapacityToTime(FRM_FIELD_MAX, 1, 196608, &minutes, &seconds);
  EXPECT_EQ(uint64_t(minutes) * 60 + seconds, (uint64_t(FRM_FIELD_MAX) * 1048576 - 2560) / 196608);
  EXPECT_EQ(TimeToCapacity(0, 0, 10, 589824), 0u);
  EXPECT_EQ(LimitText(0), "");
  EXPECT_EQ(LimitText(337), "337");
}

struct ExtensionCase {
  const char* path;
  DWORD compress;
  const char* fixed;
};
class ExtensionFix : public ::testing::TestWithParam<ExtensionCase> {};
TEST_P(ExtensionFix, TheWritersExtensionWins) {
  EXPECT_EQ(FixExtension(GetParam().path, GetParam().compress), GetParam().fixed);
}
INSTANTIATE_TEST_SUITE_P(
    Table, ExtensionFix,
    ::testing::Values(ExtensionCase{"/v/movie.WMV", COMPRESS_AVI, "/v/movie.avi"},
                      ExtensionCase{"/v/movie.AVI", COMPRESS_AVI, "/v/movie.AVI"},
                      ExtensionCase{"/v/movie.avi", COMPRESS_WMV, "/v/movie.wmv"},
                      ExtensionCase{"/v/movie", COMPRESS_WMV, "/v/movie.wmv"},
                      ExtensionCase{"/v.d/movie.mp4", COMPRESS_AVI, "/v.d/movie.avi"},
                      ExtensionCase{"", COMPRESS_AVI, ""}),
    [](const auto& info) {
      std::string n;
      for (char c : std::string(info.param.path)) n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return "Path" + n + (info.param.compress == COMPRESS_AVI ? "_ToAvi" : "_ToWmv");
    });

TEST(OutputPlacement, BareNamesGoToTheDocumentsFolder) {
  EXPECT_EQ(PlaceOutputName("output.avi", "/home/u/Documents"), "/home/u/Documents/output.avi");
  EXPECT_EQ(PlaceOutputName("output.avi", "/home/u/Documents/"), "/home/u/Documents/output.avi");
  EXPECT_EQ(PlaceOutputName("/data/x.avi", "/home/u/Documents"), "/data/x.avi");
  EXPECT_EQ(PlaceOutputName("output.avi", ""), "");
}

TEST_F(RecSettingsTest, FreeSpaceOfANotYetExistingFileIsItsFoldersSpace) {
  uint64_t mb = 0;
  std::string error;
  ASSERT_TRUE(GetFreeSpaceMB(Dir() + "/no/such/folder/out.avi", &mb, &error)) << error;
  struct statvfs st {};
  ASSERT_EQ(statvfs(Dir().c_str(), &st), 0);
  const uint64_t expected = uint64_t(st.f_bavail) * st.f_frsize / 1048576;
  // Other engineers write to the same disk: allow a little drift.
  EXPECT_NEAR(double(mb), double(expected), 64.0);
  EXPECT_FALSE(GetFreeSpaceMB("relative.avi", &mb, &error));
}

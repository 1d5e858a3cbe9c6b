// The WMV writer and the profile reader. Files are checked by ffprobe (the
// packets' times), mediainfo and gst-discoverer-1.0.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <sstream>

#include "MovTestSupport.h"
#include "WmvFileOperation.h"
#include "WmvProfile.h"

using namespace movtest;

namespace {

std::string ShippedProfile(const char* name) { return std::string(FOTAVI_PROFILE_DIR) + "/" + name + ".prx"; }

std::string Utf16le(const std::string& ascii, bool mark) {
  std::string out = mark ? std::string("\xFF\xFE", 2) : std::string();
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

std::string ProfileText(int width, int height, bool video = true) {
  std::ostringstream s;
  s << "<profile version=\"589824\" name=\"t\">";
  s << "<streamconfig majortype=\"{73647561-0000-0010-8000-00AA00389B71}\" streamnumber=\"1\" bitrate=\"32000\"/>";
  if (video) {
    s << "<streamconfig majortype=\"{73646976-0000-0010-8000-00AA00389B71}\" streamnumber=\"2\" bitrate=\"500000\""
         " bufferwindow=\"3000\"><videomediaprops maxkeyframespacing=\"20000000\"/><wmmediatype>"
         "<videoinfoheader><bitmapinfoheader biwidth=\""
      << width << "\" biheight=\"" << height << "\" bicompression=\"WMV2\"/></videoinfoheader></wmmediatype>"
      << "</streamconfig>";
  }
  s << "</profile>";
  return s.str();
}

void WriteText(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

// Packet times of the video stream, in milliseconds, as ffprobe reads them.
std::vector<int64_t> PacketTimes(const std::string& path) {
  const std::string out =
      Run("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 " + Quote(path));
  std::vector<int64_t> times;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) times.push_back(std::llround(std::stod(line) * 1000));
  }
  return times;
}

// The play duration of the file (the last frame has its length), in ms.
int64_t FileDurationMs(const std::string& path) {
  const std::string out = Run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(path));
  return out.empty() ? -1 : std::llround(std::stod(out) * 1000);
}

std::string Probe(const std::string& path, const char* entries) {
  std::string out = Run(std::string("ffprobe -v error -count_frames -select_streams v:0 -show_entries ") + entries +
                        " -of default=nw=1 " + Quote(path));
  return out;
}

int Record(CWmvFileOperation& wmv, LONG w, LONG h, int frames) {
  for (int i = 0; i < frames; ++i) {
    CBitmap24 f = MakeFrame(w, h, i);
    if (wmv.AddFrame(f) != 1) return i;
  }
  return frames;
}

TEST(WmvProfileReader, ReadsEveryEncodingTheSame) {
  const std::string text = ProfileText(320, 240);
  for (const std::string& bytes :
       {text, "\xEF\xBB\xBF" + text, Utf16le(text, true), Utf16le(text, false)}) {
    CWmvProfile p;
    std::string detail;
    ASSERT_EQ(ParseWmvProfile(bytes, &p, &detail), ProfileResult::Ok) << detail;
    ASSERT_EQ(p.video.size(), 1u);
    EXPECT_EQ(p.video[0].width, 320);
    EXPECT_EQ(p.video[0].height, 240);
    EXPECT_EQ(p.video[0].bitrate, 500000);
    EXPECT_EQ(p.video[0].maxKeyFrameSpacing, 20000000);
    EXPECT_EQ(p.otherStreams, 1);
  }
}

// Profile text ends at its first zero character, as a wide string does:
// files saved with their terminating zero (and whatever follows it) read
// like the same text without it.
TEST(WmvProfileReader, TextEndsAtItsFirstZeroCharacter) {
  const std::string text = ProfileText(320, 240);
  const std::string zero16("\0\0", 2);
  for (const std::string& bytes : {text + '\0', text + '\0' + "junk", Utf16le(text, true) + zero16,
                                   Utf16le(text, false) + zero16 + Utf16le("<x", false)}) {
    CWmvProfile p;
    std::string detail;
    ASSERT_EQ(ParseWmvProfile(bytes, &p, &detail), ProfileResult::Ok) << detail;
    ASSERT_EQ(p.video.size(), 1u);
    EXPECT_EQ(p.video[0].width, 320);
  }
}

TEST(WmvProfileReader, ShippedProfilesHaveOneVideoStreamOfTheirSize) {
  const struct {
    const char* name;
    int w, h;
  } cases[] = {{"256-192", 256, 192}, {"512-384", 512, 384}, {"XGA", 1024, 768}};
  for (const auto& c : cases) {
    CWmvProfile p;
    std::string detail;
    ASSERT_EQ(LoadWmvProfile(ShippedProfile(c.name), &p, &detail), ProfileResult::Ok) << c.name << detail;
    ASSERT_EQ(p.video.size(), 1u);
    EXPECT_EQ(p.video[0].width, c.w);
    EXPECT_EQ(p.video[0].height, c.h);
    EXPECT_GT(p.video[0].bitrate, 0);
  }
}

struct ProfileErrorCase {
  const char* name;
  const char* contents;  // nullptr: no file; "<dir>": a folder; "<fifo>": a FIFO with no writer
  const char* text;
};

class WmvProfileErrors : public ::testing::TestWithParam<ProfileErrorCase> {};

TEST_P(WmvProfileErrors, InitializeFailsWithItsTextAndLeavesNoOutput) {
  const auto& c = GetParam();
  const std::string dir = MakeFolder("prx");
  const std::string profile = dir + "p.prx";
  if (c.contents && std::string(c.contents) == "<dir>") {
    ASSERT_EQ(mkdir(profile.c_str(), 0700), 0);
  } else if (c.contents && std::string(c.contents) == "<fifo>") {
    ASSERT_EQ(mkfifo(profile.c_str(), 0600), 0);
  } else if (c.contents) {
    WriteText(profile, c.contents);
  }
  CWmvFileOperation wmv;
  EXPECT_EQ(wmv.Initialize(10, 0, dir + "out.wmv", profile), 0);
  EXPECT_EQ(wmv.GetErrorMessage(), c.text);
  EXPECT_FALSE(Exists(dir + "out.wmv"));
  CBitmap24 f = MakeFrame(64, 48, 0);
  EXPECT_EQ(wmv.AddFrame(f), 0);
  EXPECT_FALSE(Exists(dir + "out.wmv"));
}

// The case's name: the test's name and its printed parameter.
std::string ProfileErrorCaseName(const ProfileErrorCase& c) { return std::string(c.name); }
void PrintTo(const ProfileErrorCase& c, std::ostream* os) { *os << ProfileErrorCaseName(c); }

INSTANTIATE_TEST_SUITE_P(
    Profiles, WmvProfileErrors,
    ::testing::Values(
        ProfileErrorCase{"Missing", nullptr, "Unable to read profile file.\nPlease check the environment."},
        ProfileErrorCase{"NotADiskFile", "<dir>", "Unable to read profile file.\nPlease check the environment."},
        ProfileErrorCase{"FifoWithoutWriter", "<fifo>", "Unable to read profile file.\nPlease check the environment."},
        ProfileErrorCase{"Malformed", "<profile><streamconfig></profile>", "An Internal Error has occurred."},
        ProfileErrorCase{"NotAProfile", "<html></html>", "An Internal Error has occurred."},
        ProfileErrorCase{"AudioOnly",
                         "<profile><streamconfig majortype=\"{73647561-0000-0010-8000-00AA00389B71}\"/></profile>",
                         "Invalid file type."}),
    [](const auto& info) { return ProfileErrorCaseName(info.param); });

struct ShippedCase {
  const char* profile;
  LONG w, h;
  DWORD rate, quality;
  int frames;
};

class WmvShipped : public ::testing::TestWithParam<ShippedCase> {};

TEST_P(WmvShipped, OraclesSeeAsfWithWmv2OfTheSizeCountAndDuration) {
  const auto& c = GetParam();
  const std::string dir = MakeFolder("wmv");
  const std::string path = dir + "movie.wmv";
  {
    CWmvFileOperation wmv;
    ASSERT_EQ(wmv.Initialize(c.rate, c.quality, path, ShippedProfile(c.profile)), 1) << wmv.GetErrorMessage();
    ASSERT_EQ(Record(wmv, c.w, c.h, c.frames), c.frames) << wmv.GetErrorMessage();
    ASSERT_TRUE(wmv.EndWriting());
  }
  const int64_t durationMs = CWmvFileOperation::SampleTimeMs(c.frames, CWmvFileOperation::TimeBaseFor(c.rate));

  const std::string probe = Probe(path, "stream=codec_name,width,height,nb_read_frames");
  EXPECT_NE(probe.find("codec_name=wmv2"), std::string::npos) << probe;
  EXPECT_NE(probe.find("width=" + std::to_string(c.w)), std::string::npos) << probe;
  EXPECT_NE(probe.find("height=" + std::to_string(c.h)), std::string::npos) << probe;
  EXPECT_NE(probe.find("nb_read_frames=" + std::to_string(c.frames)), std::string::npos) << probe;

  if (HaveTool("mediainfo")) {
    auto mi = MediaInfoVideo(path, {"Format", "CodecID", "Width", "Height"});
    EXPECT_EQ(mi["CodecID"], "WMV2");
    EXPECT_EQ(mi["Width"], std::to_string(c.w));
    EXPECT_EQ(mi["Height"], std::to_string(c.h));
    const std::string general = movtest::Run("mediainfo --Inform='General;%Format%' " + Quote(path));
    EXPECT_EQ(general.substr(0, 7), "Windows") << general;  // "Windows Media"
  }
  EXPECT_EQ(FileDurationMs(path), durationMs);
  if (HaveTool("gst-launch-1.0")) {
    AsfDemuxed d = GstAsfVideo(path);
    EXPECT_NE(d.caps.find("video/x-wmv"), std::string::npos) << d.caps;
    EXPECT_NE(d.caps.find("wmvversion=(int)2"), std::string::npos) << d.caps;
    EXPECT_EQ(d.width, c.w);
    EXPECT_EQ(d.height, c.h);
    EXPECT_EQ(d.ptsMs.size(), static_cast<size_t>(c.frames));
  }
  if (HaveTool("mediainfo")) {
    const std::string ms = movtest::Run("mediainfo --Inform='General;%Duration%' " + Quote(path));
    EXPECT_EQ(std::atoll(ms.c_str()), durationMs) << ms;
  }
}

// The case's name: the test's name and its printed parameter.
std::string ShippedCaseName(const ShippedCase& c) {
  return std::string(c.profile) == "256-192" ? "Small" : std::string(c.profile) == "XGA" ? "Xga" : "Half";
}
void PrintTo(const ShippedCase& c, std::ostream* os) { *os << ShippedCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Profiles, WmvShipped,
                         ::testing::Values(ShippedCase{"256-192", 256, 192, 10, 0, 30},
                                           ShippedCase{"512-384", 512, 384, 5, 60, 12},
                                           ShippedCase{"XGA", 1024, 768, 20, 100, 20}),
                         [](const auto& info) { return ShippedCaseName(info.param); });

TEST(WmvWriter, TimeBaseFollowsIntegerDivisions) {
  EXPECT_EQ(CWmvFileOperation::TimeBaseFor(3), 3003u);
  EXPECT_EQ(CWmvFileOperation::TimeBaseFor(7), 7042u);
  EXPECT_EQ(CWmvFileOperation::TimeBaseFor(20), 20000u);
  EXPECT_EQ(CWmvFileOperation::QuantiserFor(1), 31);
  EXPECT_EQ(CWmvFileOperation::QuantiserFor(100), 2);
}

// Frame n at n x 1,000,000 / time base whole milliseconds, and every packet
// (the last one too) lasts until the next stamp.
TEST(WmvWriter, PacketsAreStampedAtTheWholeMillisecondsOfTheirNumbers) {
  const std::string dir = MakeFolder("stamps");
  const std::string path = dir + "three.wmv";
  {
    CWmvFileOperation wmv;
    ASSERT_EQ(wmv.Initialize(3, 0, path, ShippedProfile("256-192")), 1);
    ASSERT_EQ(Record(wmv, 256, 192, 5), 5);
    ASSERT_TRUE(wmv.EndWriting());
  }
  const std::vector<int64_t> expected = {0, 333, 666, 999, 1332};
  EXPECT_EQ(PacketTimes(path), expected);
  if (HaveTool("gst-launch-1.0")) EXPECT_EQ(GstAsfVideo(path).ptsMs, expected);
  // The last frame lasts until the stamp of the frame after it.
  EXPECT_EQ(FileDurationMs(path), 1665);
}

TEST(WmvWriter, HigherQualityMakesABiggerFileAndZeroKeepsTheProfileRate) {
  const std::string dir = MakeFolder("quality");
  auto sizeFor = [&](DWORD quality) {
    const std::string path = dir + "q" + std::to_string(quality) + ".wmv";
    CWmvFileOperation wmv;
    EXPECT_EQ(wmv.Initialize(10, quality, path, ShippedProfile("512-384")), 1);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(wmv.AddFrame(MakeNoiseFrame(512, 384, i)), 1);
    EXPECT_TRUE(wmv.EndWriting());
    return FileSize(path);
  };
  const uint64_t low = sizeFor(1), high = sizeFor(100), rate = sizeFor(0);
  EXPECT_GT(high, low * 4);
  // Quality 0 is rate-controlled: neither of the fixed quantisers' sizes.
  EXPECT_GT(high, rate * 2);
  EXPECT_NE(rate, low);
  // On easy pictures it stays within the profile's 1,000,000 bits a second
  // (two seconds: 250,000 bytes).
  const std::string path = dir + "easy.wmv";
  CWmvFileOperation wmv;
  ASSERT_EQ(wmv.Initialize(10, 0, path, ShippedProfile("512-384")), 1);
  ASSERT_EQ(Record(wmv, 512, 384, 20), 20);
  ASSERT_TRUE(wmv.EndWriting());
  EXPECT_LT(FileSize(path), 250000u * 3 / 2);
}

TEST(WmvWriter, AFrameOfAnotherSizeEndsWithAPlayableFile) {
  const std::string dir = MakeFolder("wresize");
  const std::string path = dir + "r.wmv";
  CWmvFileOperation wmv;
  ASSERT_EQ(wmv.Initialize(10, 0, path, ShippedProfile("256-192")), 1);
  ASSERT_EQ(Record(wmv, 256, 192, 4), 4);
  CBitmap24 other = MakeFrame(128, 96, 9);
  EXPECT_EQ(wmv.AddFrame(other), 0);
  EXPECT_EQ(wmv.GetErrorMessage(), "An Internal Error has occurred.");
  EXPECT_EQ(wmv.AddFrame(MakeFrame(256, 192, 5)), 0);  // refused from now on
  EXPECT_NE(Probe(path, "stream=nb_read_frames").find("nb_read_frames=4"), std::string::npos);
}

// The encoder takes only even picture sizes: a profile (or, without a size
// in the profile, a first frame) of odd size records at the even size just
// below it (at least 2 x 2) instead of failing with a file-open text.
struct OddSizeCase {
  const char* name;
  int profileWidth, profileHeight;
  LONG frameWidth, frameHeight;
  int codedWidth, codedHeight;
};

class WmvOddSize : public ::testing::TestWithParam<OddSizeCase> {};

TEST_P(WmvOddSize, RecordsAtTheEvenSizeBelow) {
  const auto& c = GetParam();
  const std::string dir = MakeFolder("oddsize");
  WriteText(dir + "p.prx", ProfileText(c.profileWidth, c.profileHeight));
  const std::string path = dir + "o.wmv";
  {
    CWmvFileOperation wmv;
    ASSERT_EQ(wmv.Initialize(10, 0, path, dir + "p.prx"), 1) << wmv.GetErrorMessage();
    EXPECT_EQ(Record(wmv, c.frameWidth, c.frameHeight, 6), 6) << wmv.GetErrorMessage();
    EXPECT_TRUE(wmv.EndWriting());
  }
  const std::string probe = Probe(path, "stream=codec_name,width,height,nb_read_frames");
  EXPECT_NE(probe.find("width=" + std::to_string(c.codedWidth) + "\n"), std::string::npos) << probe;
  EXPECT_NE(probe.find("height=" + std::to_string(c.codedHeight) + "\n"), std::string::npos) << probe;
  EXPECT_NE(probe.find("nb_read_frames=6"), std::string::npos) << probe;
}

// The case's name: the test's name and its printed parameter.
std::string OddSizeCaseName(const OddSizeCase& c) { return std::string(c.name); }
void PrintTo(const OddSizeCase& c, std::ostream* os) { *os << OddSizeCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Profiles, WmvOddSize,
                         ::testing::Values(OddSizeCase{"OddProfileSize", 255, 191, 256, 192, 254, 190},
                                           OddSizeCase{"OddFrameWithoutProfileSize", 0, 0, 255, 191, 254, 190},
                                           OddSizeCase{"OnePixelProfile", 1, 1, 64, 48, 2, 2}),
                         [](const auto& info) { return OddSizeCaseName(info.param); });

// A key-frame spacing far beyond any recording (here the largest 64-bit
// value) means key frames as rarely as the writer allows, not one on every
// frame through an overflow of the arithmetic.
TEST(WmvWriter, AHugeKeyFrameSpacingKeepsOnlyTheFirstFrameKey) {
  const std::string dir = MakeFolder("keyspacing");
  std::string text = ProfileText(256, 192);
  const std::string spacing = "maxkeyframespacing=\"20000000\"";
  text.replace(text.find(spacing), spacing.size(), "maxkeyframespacing=\"9223372036854775807\"");
  WriteText(dir + "p.prx", text);
  const std::string path = dir + "k.wmv";
  {
    CWmvFileOperation wmv;
    ASSERT_EQ(wmv.Initialize(20, 0, path, dir + "p.prx"), 1) << wmv.GetErrorMessage();
    ASSERT_EQ(Record(wmv, 256, 192, 12), 12);
    EXPECT_TRUE(wmv.EndWriting());
  }
  const std::string flags =
      movtest::Run("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 " + Quote(path));
  EXPECT_EQ(std::count(flags.begin(), flags.end(), 'K'), 1) << flags;
}

TEST(WmvWriter, AWriterEndedBeforeAnyFrameLeavesNoFile) {
  const std::string dir = MakeFolder("noframe");
  {
    CWmvFileOperation wmv;
    ASSERT_EQ(wmv.Initialize(10, 0, dir + "n.wmv", ShippedProfile("256-192")), 1);
  }
  EXPECT_FALSE(Exists(dir + "n.wmv"));
}

TEST(WmvWriter, AnOutputThatCannotBeOpenedGivesTheOpenText) {
  const std::string dir = MakeFolder("wopen");
  CWmvFileOperation wmv;
  EXPECT_EQ(wmv.Initialize(10, 0, dir + "missing/x.wmv", ShippedProfile("256-192")), 0);
  EXPECT_EQ(wmv.GetErrorMessage(), "Unable to open file.");
}

// Noise frames at the finest quantiser fill a small disk quickly: the
// recording ends with the save text before it is full, and the file written
// until then is complete and plays every frame it took.
TEST(WmvWriter, AFullDiskEndsWithTheSaveTextAndAPlayableFile) {
  SmallDisk disk("4m");
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  const std::string path = disk.dir() + "full.wmv";
  CWmvFileOperation wmv;
  ASSERT_EQ(wmv.Initialize(10, 100, path, ShippedProfile("512-384")), 1);
  int written = 0;
  while (written < 200 && wmv.AddFrame(MakeNoiseFrame(512, 384, written)) == 1) ++written;
  EXPECT_EQ(wmv.GetErrorMessage(), "Unable to save file.");
  EXPECT_GT(written, 2);
  EXPECT_LT(written, 200);
  EXPECT_NE(Probe(path, "stream=nb_read_frames").find("nb_read_frames=" + std::to_string(written)), std::string::npos);
  if (HaveTool("gst-launch-1.0")) EXPECT_EQ(GstAsfVideo(path).ptsMs.size(), static_cast<size_t>(written));
}

// A disk without room for the first frame: the recording ends with the save
// text and leaves no file that holds only a header. The largest 512x384
// frame and the writers' reserve (OutputFile.h) need more than this disk.
TEST(WmvWriter, NoRoomForTheFirstFrameLeavesNoFile) {
  SmallDisk disk("512k");
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  const std::string path = disk.dir() + "first.wmv";
  CWmvFileOperation wmv;
  ASSERT_EQ(wmv.Initialize(10, 0, path, ShippedProfile("512-384")), 1);
  EXPECT_EQ(wmv.AddFrame(MakeFrame(512, 384, 0)), 0);
  EXPECT_EQ(wmv.GetErrorMessage(), "Unable to save file.");
  wmv.EndWriting();
  EXPECT_FALSE(Exists(path));
}

TEST(WmvWriter, AWriteErrorSurfacesAsAnError) {
  CWmvFileOperation wmv;
  ASSERT_EQ(wmv.Initialize(10, 0, "/dev/full", ShippedProfile("256-192")), 1);
  CBitmap24 f = MakeFrame(256, 192, 0);
  EXPECT_EQ(wmv.AddFrame(f), 0);
  EXPECT_EQ(wmv.GetErrorMessage(), "Unable to save file.");
  EXPECT_TRUE(Exists("/dev/full"));
}

}  // namespace

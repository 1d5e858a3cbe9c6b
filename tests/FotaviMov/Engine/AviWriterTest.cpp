// The AVI writer against files read back by our own RIFF reader and by
// mediainfo and gst-discoverer-1.0 (neither uses FFmpeg).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <string>

#include "AviFileOperation.h"
#include "MovStrings.h"
#include "MovTestSupport.h"

using namespace movtest;

namespace {

// Writes `frames` frames and returns the result of the last AddFrame.
int WriteFrames(CAviFileOperation& avi, LONG w, LONG h, int frames, int* written = nullptr) {
  int result = AVI_ADD_WRITTEN;
  int n = 0;
  for (int i = 0; i < frames; ++i) {
    CBitmap24 frame = MakeFrame(w, h, i);
    result = avi.AddFrame(frame);
    if (result != AVI_ADD_WRITTEN) break;
    ++n;
  }
  if (written) *written = n;
  return result;
}

struct SplitCase {
  const char* name;
  const char* base;
  LONG width, height;
  uint64_t split;
  int frames;
  std::vector<int> framesPerPart;
};

class AviSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(AviSplit, PartsAreNumberedAndEachIsCompleteWithItsShare) {
  const SplitCase& c = GetParam();
  const std::string dir = MakeFolder("split");
  CAviFileOperation avi;
  ASSERT_EQ(avi.Initialize(dir + c.base + ".avi", 10), 0);
  avi.SetMaxFileSize(c.split);
  ASSERT_EQ(WriteFrames(avi, c.width, c.height, c.frames), AVI_ADD_WRITTEN);
  ASSERT_TRUE(avi.Close());
  EXPECT_EQ(avi.GetTotalFrames(), static_cast<uint64_t>(c.frames));
  const uint64_t frameBytes = DibStride24(c.width) * static_cast<uint64_t>(c.height);
  EXPECT_EQ(avi.GetTotalBytes(), frameBytes * c.frames);
  int frameNumber = 0;
  for (size_t part = 0; part < c.framesPerPart.size(); ++part) {
    const std::string path = Numbered(dir, c.base, static_cast<int>(part), ".avi");
    RiffAvi r = ReadRiffAvi(path);
    ASSERT_TRUE(r.ok) << path << ": " << r.error;
    EXPECT_EQ(r.chunkIds.size(), static_cast<size_t>(c.framesPerPart[part])) << path;
    EXPECT_EQ(r.totalFrames, static_cast<uint32_t>(c.framesPerPart[part])) << path;
    EXPECT_EQ(r.keyFrames, r.indexEntries);
    EXPECT_FALSE(r.openDml);
    // Frames follow on from part to part: the first pixel of the top row
    // is the last row of the bottom-up data.
    for (const std::string& data : r.chunkData) {
      const size_t topRow = (c.height - 1) * static_cast<size_t>(DibStride24(c.width));
      ASSERT_EQ(static_cast<uint8_t>(data[topRow]), static_cast<uint8_t>(frameNumber)) << path;
      ++frameNumber;
    }
  }
  EXPECT_FALSE(Exists(Numbered(dir, c.base, static_cast<int>(c.framesPerPart.size()), ".avi")));
}

// The case's name: the test's name and its printed parameter.
std::string SplitCaseName(const SplitCase& c) { return std::string(c.name); }
void PrintTo(const SplitCase& c, std::ostream* os) { *os << SplitCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Splits, AviSplit,
                         ::testing::Values(
                             // 147,456-byte frames: six fit under 1,000,000 bytes, the seventh opens a part.
                             SplitCase{"SixFramesAPart", "output", 256, 192, 1000000, 20, {6, 6, 6, 2}},
                             // A split exactly at six frames keeps six (the check is "would pass").
                             SplitCase{"ExactFit", "output", 256, 192, 6 * 147456, 12, {6, 6}},
                             // A name ending in digits gets the counter appended: take7001.avi.
                             SplitCase{"NameEndingInDigits", "take7", 256, 192, 1000000, 8, {6, 2}},
                             // A split below one frame still puts one frame into every part; no empty part.
                             SplitCase{"SplitBelowOneFrame", "output", 64, 48, 100, 3, {1, 1, 1}}),
                         [](const auto& info) { return SplitCaseName(info.param); });

TEST(AviWriter, HeaderTellsRawBottomUpBgrAtTheFrameRate) {
  const std::string dir = MakeFolder("header");
  const std::string path = dir + "movie.avi";
  CAviFileOperation avi;
  ASSERT_EQ(avi.Initialize(path, 5), 0);
  ASSERT_EQ(WriteFrames(avi, 256, 192, 15), AVI_ADD_WRITTEN);
  ASSERT_TRUE(avi.Close());

  RiffAvi r = ReadRiffAvi(path);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.fccType, "vids");
  EXPECT_EQ(r.scale, 1u);
  EXPECT_EQ(r.rate, 5u);
  EXPECT_EQ(r.length, 15u);
  EXPECT_EQ(r.microSecPerFrame, 200000u);
  EXPECT_EQ(r.biWidth, 256);
  EXPECT_EQ(r.biHeight, 192);  // positive: bottom-up rows
  EXPECT_EQ(r.biBitCount, 24);
  EXPECT_EQ(r.biCompression, 0u);  // BI_RGB
  ASSERT_EQ(r.chunkIds.size(), 15u);
  EXPECT_TRUE(r.chunkIds[0] == "00dc" || r.chunkIds[0] == "00db") << r.chunkIds[0];
  // The stored frame is the picture's rows, bottom-up.
  EXPECT_EQ(r.chunkData[0], BottomUpRows(MakeFrame(256, 192, 0)));

  if (HaveTool("mediainfo")) {
    auto mi = MediaInfoVideo(path, {"Width", "Height", "FrameCount", "FrameRate", "BitDepth"});
    EXPECT_EQ(mi["Width"], "256");
    EXPECT_EQ(mi["Height"], "192");
    EXPECT_EQ(mi["FrameCount"], "15");
    EXPECT_EQ(mi["FrameRate"].substr(0, 1), "5") << mi["FrameRate"];
    EXPECT_EQ(mi["BitDepth"], "8");  // bits per component
  }
  if (HaveTool("gst-discoverer-1.0")) {
    Discovered d = Discover(path);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 256);
    EXPECT_EQ(d.height, 192);
    EXPECT_NE(d.caps.find("BGR"), std::string::npos) << d.caps;
    EXPECT_EQ(d.durationMs, 3000);
  }
}

TEST(AviWriter, TheThousandthPartIsRefusedWithTheUpperBoundText) {
  const std::string dir = MakeFolder("counter");
  CAviFileOperation avi;
  ASSERT_EQ(avi.Initialize(dir + "output.avi", 10), 0);
  avi.SetMaxFileSize(48);  // one 4 x 4 frame a part
  int written = 0;
  EXPECT_EQ(WriteFrames(avi, 4, 4, 1001, &written), AVI_ADD_ERROR);
  EXPECT_EQ(written, 1000);
  EXPECT_EQ(avi.GetErrorMessage(), "The number of files reached the upper bound. ");
  EXPECT_TRUE(Exists(dir + "output.avi"));
  EXPECT_TRUE(Exists(dir + "output999.avi"));
  EXPECT_FALSE(Exists(dir + "output1000.avi"));
  EXPECT_TRUE(AviHoldsFrames(dir + "output999.avi", 1));
  // Counters survive splits.
  EXPECT_EQ(avi.GetTotalFrames(), 1000u);
  EXPECT_EQ(avi.GetTotalBytes(), 48000u);
}

TEST(AviWriter, CapacityIsNeverPassedAndTheFileIsComplete) {
  const std::string dir = MakeFolder("capacity");
  CAviFileOperation avi;
  ASSERT_EQ(avi.Initialize(dir + "cap.avi", 10), 0);
  const uint64_t frame = 147456;
  avi.SetRecCondition(RECCOND_CAPACITY, frame * 5 + frame / 2);
  int written = 0;
  EXPECT_EQ(WriteFrames(avi, 256, 192, 20, &written), AVI_ADD_LIMIT);
  EXPECT_EQ(written, 5);
  EXPECT_TRUE(avi.GetErrorMessage().empty());
  EXPECT_EQ(avi.GetTotalBytes(), frame * 5);
  EXPECT_TRUE(AviHoldsFrames(dir + "cap.avi", 5));
}

TEST(AviWriter, CapacityBelowOneFrameLeavesNoFile) {
  const std::string dir = MakeFolder("tinycap");
  CAviFileOperation avi;
  ASSERT_EQ(avi.Initialize(dir + "cap.avi", 10), 0);
  avi.SetRecCondition(RECCOND_CAPACITY, 1000);
  CBitmap24 frame = MakeFrame(256, 192, 0);
  EXPECT_EQ(avi.AddFrame(frame), AVI_ADD_LIMIT);
  EXPECT_FALSE(Exists(dir + "cap.avi"));
}

TEST(AviWriter, OpenFailsWithTheOpenTextInAMissingFolder) {
  const std::string dir = MakeFolder("open");
  CAviFileOperation avi;
  EXPECT_LT(avi.Initialize(dir + "no/such/folder/x.avi", 10), 0);
  EXPECT_EQ(avi.GetErrorMessage(), "Unable to open file.");
  CBitmap24 frame = MakeFrame(16, 16, 0);
  EXPECT_EQ(avi.AddFrame(frame), AVI_ADD_ERROR);
  EXPECT_EQ(avi.GetErrorMessage(), "Unable to save file.");
}

TEST(AviWriter, ABadOrMissingBitmapIsRefusedWithTheSaveText) {
  const std::string dir = MakeFolder("badbmp");
  CAviFileOperation avi;
  ASSERT_EQ(avi.Initialize(dir + "x.avi", 10), 0);
  EXPECT_EQ(avi.AddFrame(CBitmap24()), AVI_ADD_ERROR);
  EXPECT_EQ(avi.GetErrorMessage(), "Unable to save file.");
  const CBitmap24 otherFormat = MakeFrame(16, 16, 0).convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(avi.AddFrame(otherFormat), AVI_ADD_ERROR);
}

TEST(AviWriter, AFrameOfAnotherSizeEndsWithCompleteFile) {
  const std::string dir = MakeFolder("resize");
  CAviFileOperation avi;
  ASSERT_EQ(avi.Initialize(dir + "x.avi", 10), 0);
  ASSERT_EQ(WriteFrames(avi, 64, 48, 3), AVI_ADD_WRITTEN);
  CBitmap24 other = MakeFrame(32, 24, 3);
  EXPECT_EQ(avi.AddFrame(other), AVI_ADD_ERROR);
  EXPECT_EQ(avi.GetErrorMessage(), "An Internal Error has occurred.");
  EXPECT_TRUE(AviHoldsFrames(dir + "x.avi", 3));
}

// A write that the device refuses surfaces as the save text.
TEST(AviWriter, AWriteErrorSurfacesAsTheSaveText) {
  CAviFileOperation avi;
  ASSERT_EQ(avi.Initialize("/dev/full", 10), 0);
  CBitmap24 frame = MakeFrame(256, 192, 0);
  EXPECT_EQ(avi.AddFrame(frame), AVI_ADD_ERROR);
  EXPECT_EQ(avi.GetErrorMessage(), "Unable to save file.");
  EXPECT_TRUE(Exists("/dev/full"));  // a device is never removed as an empty output
}

// A file-size limit of the process (RLIMIT_FSIZE) that the header fits in
// but the first frame does not: its write fails (EFBIG) after the header was
// written. The recording ends with the save text and leaves no file that
// holds only a header.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_signal_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    struct rlimit limit = old_;
    limit.rlim_cur = bytes;
    set_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_signal_);
  }
  bool set() const { return set_; }

 private:
  struct rlimit old_ {};
  void (*old_signal_)(int) = nullptr;
  bool set_ = false;
};

TEST(AviWriter, AFirstFrameThatCannotBeWrittenLeavesNoFile) {
  const std::string dir = MakeFolder("firstfail");
  const std::string path = dir + "first.avi";
  CAviFileOperation avi;
  {
    FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.set());
    ASSERT_EQ(avi.Initialize(path, 10), 0);
    CBitmap24 frame = MakeFrame(256, 192, 0);
    EXPECT_EQ(avi.AddFrame(frame), AVI_ADD_ERROR);
  }
  EXPECT_EQ(avi.GetErrorMessage(), "Unable to save file.");
  EXPECT_FALSE(Exists(path));
}

// A small file system of its own: the recording ends with the save text
// before the disk is full, and the files written until then are complete.
TEST(AviSmallDisk, FullDiskEndsWithSaveTextAndCompleteFiles) {
  SmallDisk disk("2m");
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  const std::string& dir_ = disk.dir();
  CAviFileOperation avi;
  ASSERT_EQ(avi.Initialize(dir_ + "full.avi", 10), 0);
  avi.SetMaxFileSize(5 * 147456);
  int written = 0;
  EXPECT_EQ(WriteFrames(avi, 256, 192, 100, &written), AVI_ADD_ERROR);
  EXPECT_EQ(avi.GetErrorMessage(), "Unable to save file.");
  EXPECT_GE(written, 8);
  EXPECT_LT(written, 15);
  int frames = 0;
  for (int part = 0; Exists(Numbered(dir_, "full", part, ".avi")); ++part) {
    const std::string path = Numbered(dir_, "full", part, ".avi");
    RiffAvi r = ReadRiffAvi(path);
    ASSERT_TRUE(r.ok) << path << ": " << r.error;
    EXPECT_EQ(r.indexEntries, r.chunkIds.size()) << path;
    EXPECT_EQ(r.totalFrames, r.chunkIds.size()) << path;
    frames += static_cast<int>(r.chunkIds.size());
    if (HaveTool("mediainfo")) {
      EXPECT_EQ(MediaInfoVideo(path, {"FrameCount"})["FrameCount"], std::to_string(r.chunkIds.size()));
    }
  }
  EXPECT_EQ(frames, written);
}

}  // namespace

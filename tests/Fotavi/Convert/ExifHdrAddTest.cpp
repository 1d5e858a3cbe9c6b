// The Exif writer: the segment read back field by field, checked by
// exiftool and exiv2, and the file left whole when anything fails.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <regex>

#include <gtest/gtest.h>

#include "ConvertTestSupport.h"
#include "ExifHdrAdd.h"

using namespace convert_test;

namespace {

class ExifHdrAddTest : public ConvertFixture {
 protected:
  // A JPEG written by Qt's own writer, so the source is not the codec's.
  std::string MakeSource(const std::string& name, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 200));
    for (int y = 0; y < height; ++y) image.setPixelColor(0, y, QColor(250, 250, 0));
    const std::string path = m_Root + "/" + name;
    EXPECT_TRUE(image.save(QString::fromStdString(path), "JPEG", 85));
    return path;
  }

  std::string Convert(const std::string& source, const std::string& destination) {
    CExifHdrAdd exif(m_Work);
    EXPECT_EQ(1, exif.AddExifHeader(source, destination));
    return ReadFile(destination);
  }
};

struct ExpectedEntry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  uint32_t value;  // value or offset; UINT32_MAX: checked apart
};

void ExpectEntries(const TiffIfd& ifd, const std::vector<ExpectedEntry>& expected, const char* name) {
  ASSERT_EQ(expected.size(), ifd.entries.size()) << name;
  for (size_t i = 0; i < expected.size(); ++i) {
    const TiffEntry& e = ifd.entries[i];
    EXPECT_EQ(expected[i].tag, e.tag) << name << " entry " << i;
    EXPECT_EQ(expected[i].type, e.type) << name << " entry " << i;
    EXPECT_EQ(expected[i].count, e.count) << name << " entry " << i;
    if (expected[i].value != UINT32_MAX) {
      EXPECT_EQ(expected[i].value, e.valueOrOffset) << name << " entry " << i;
    }
  }
}

uint32_t Bytes4(const char* s) {
  return static_cast<uint8_t>(s[0]) | static_cast<uint8_t>(s[1]) << 8 | static_cast<uint8_t>(s[2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

TEST_F(ExifHdrAddTest, SegmentHasTheFixedLayoutAndKeepsTheSourceBehindIt) {
  const std::string source = MakeSource("plain.jpg", 640, 480);
  const std::string original = ReadFile(source);
  const std::string out = Convert(source, m_Root + "/out.jpg");

  ASSERT_EQ(original.substr(0, 2), out.substr(0, 2));
  const ExifSegment seg = FindExifSegment(out);
  ASSERT_TRUE(seg.found);
  const std::string& t = seg.tiff;
  ASSERT_EQ("II", t.substr(0, 2));
  EXPECT_EQ(42, Le16(t, 2));
  EXPECT_EQ(8u, Le32(t, 4));

  TiffIfd ifd0, exif, interop, ifd1;
  ASSERT_TRUE(ReadIfd(t, 8, &ifd0));
  ExpectEntries(ifd0,
                {{0x010F, 2, 1, 0}, {0x0110, 2, 1, 0}, {0x011A, 5, 1, 98}, {0x011B, 5, 1, 106},
                 {0x0128, 3, 1, 2}, {0x0213, 3, 1, 2}, {0x8769, 4, 1, 114}},
                "IFD0");
  EXPECT_EQ(298u, ifd0.next);
  for (uint32_t at : {98u, 106u}) {
    EXPECT_EQ(72u, Le32(t, at));
    EXPECT_EQ(1u, Le32(t, at + 4));
  }

  ASSERT_TRUE(ReadIfd(t, 114, &exif));
  ExpectEntries(exif,
                {{0x9000, 7, 4, Bytes4("0210")}, {0x9003, 2, 20, 228}, {0x9004, 2, 20, 248},
                 {0x9101, 7, 4, Bytes4("\x01\x02\x03\x00")}, {0xA000, 7, 4, Bytes4("0100")}, {0xA001, 3, 1, 1},
                 {0xA002, 4, 1, 640}, {0xA003, 4, 1, 480}, {0xA005, 4, 1, 268}},
                "Exif IFD");
  EXPECT_EQ(0u, exif.next);
  const std::string original1 = t.substr(228, 20);
  EXPECT_EQ(original1, t.substr(248, 20));
  EXPECT_EQ('\0', original1[19]);
  EXPECT_TRUE(std::regex_match(original1.substr(0, 19), std::regex(R"(\d{4}:\d{2}:\d{2} \d{2}:\d{2}:\d{2})")))
      << original1;
  // The date is the local time of the conversion.
  std::tm local{};
  const std::time_t now = std::time(nullptr);
  localtime_r(&now, &local);
  char year[8];
  std::strftime(year, sizeof year, "%Y", &local);
  EXPECT_EQ(year, original1.substr(0, 4));

  ASSERT_TRUE(ReadIfd(t, 268, &interop));
  ExpectEntries(interop, {{0x0001, 2, 4, Bytes4("R98\0")}, {0x0002, 7, 4, Bytes4("0100")}}, "Interop IFD");
  EXPECT_EQ(0u, interop.next);

  ASSERT_TRUE(ReadIfd(t, 298, &ifd1));
  ExpectEntries(ifd1,
                {{0x0103, 3, 1, 6}, {0x011A, 5, 1, 376}, {0x011B, 5, 1, 384}, {0x0128, 3, 1, 2},
                 {0x0202, 4, 1, UINT32_MAX}, {0x0201, 4, 1, 392}},
                "IFD1");
  EXPECT_EQ(0u, ifd1.next);
  const uint32_t thumbLength = ifd1.entries[4].valueOrOffset;
  EXPECT_EQ(401u + thumbLength, seg.length);
  ASSERT_EQ(392u + thumbLength + 1, t.size());
  const std::string thumb = t.substr(392, thumbLength);
  EXPECT_EQ("\xFF\xD8", thumb.substr(0, 2));
  EXPECT_EQ("\xFF\xD9", thumb.substr(thumb.size() - 2));
  EXPECT_EQ('\xFF', t[392 + thumbLength]);  // the fill byte
  QImage thumbImage;
  ASSERT_TRUE(thumbImage.loadFromData(reinterpret_cast<const uchar*>(thumb.data()), static_cast<int>(thumb.size())));
  EXPECT_EQ(QSize(160, 120), thumbImage.size());

  // Everything after the segment is the source from its third byte on.
  EXPECT_EQ(original.substr(2), out.substr(seg.segmentEnd));
}

TEST_F(ExifHdrAddTest, ExiftoolValidatesWithOnlyTheTwoIfd1OrderWarnings) {
  if (!HaveProgram("exiftool")) GTEST_SKIP() << "exiftool is not installed";
  const std::string out = m_Root + "/out.jpg";
  Convert(MakeSource("plain.jpg", 640, 480), out);
  const std::string report = RunCommand("exiftool -validate -warning -a " + Quote(out) + " 2>&1");
  std::vector<std::string> warnings;
  std::regex warning(R"(^Warning\s*:\s*(.*)$)");
  std::smatch m;
  size_t start = 0;
  while (start < report.size()) {
    size_t end = report.find('\n', start);
    if (end == std::string::npos) end = report.size();
    const std::string line = report.substr(start, end - start);
    if (std::regex_match(line, m, warning)) warnings.push_back(m[1]);
    start = end + 1;
  }
  ASSERT_EQ(2u, warnings.size()) << report;
  EXPECT_NE(std::string::npos, warnings[0].find("Entries in IFD1 are out of order")) << report;
  EXPECT_NE(std::string::npos, warnings[1].find("Tag ID 0x0201 ThumbnailOffset out of sequence in IFD1")) << report;
  EXPECT_NE(std::string::npos, report.find("Validate")) << report;
}

TEST_F(ExifHdrAddTest, ExiftoolGivesBackTheThumbnailByteForByte) {
  if (!HaveProgram("exiftool")) GTEST_SKIP() << "exiftool is not installed";
  const std::string out = m_Root + "/out.jpg";
  const std::string file = Convert(MakeSource("plain.jpg", 800, 600), out);
  const ExifSegment seg = FindExifSegment(file);
  ASSERT_TRUE(seg.found);
  const uint32_t length = Le32(seg.tiff, 298 + 2 + 12 * 4 + 8);
  const std::string thumb = seg.tiff.substr(392, length);
  EXPECT_EQ(thumb, RunCommand("exiftool -b -ThumbnailImage " + Quote(out)));
  EXPECT_EQ("800 600\n", RunCommand("exiftool -s3 -ExifImageWidth -ExifImageHeight -sep ' ' " + Quote(out) +
                                    " | tr '\\n' ' ' | sed 's/ $/\\n/'"));
}

TEST_F(ExifHdrAddTest, Exiv2ReadsTheTags) {
  if (!HaveProgram("exiv2")) GTEST_SKIP() << "exiv2 is not installed";
  const std::string out = m_Root + "/out.jpg";
  Convert(MakeSource("plain.jpg", 320, 240), out);
  int status = -1;
  const std::string tags = RunCommand("exiv2 -q -Pkv " + Quote(out) + " 2>&1", &status);
  EXPECT_EQ(0, status) << tags;
  EXPECT_TRUE(std::regex_search(tags, std::regex(R"(Exif\.Photo\.PixelXDimension\s+320)"))) << tags;
  EXPECT_TRUE(std::regex_search(tags, std::regex(R"(Exif\.Photo\.PixelYDimension\s+240)"))) << tags;
  EXPECT_TRUE(std::regex_search(tags, std::regex(R"(Exif\.Iop\.InteroperabilityIndex\s+R98)"))) << tags;
  EXPECT_TRUE(std::regex_search(tags, std::regex(R"(Exif\.Thumbnail\.JPEGInterchangeFormat\s+392)"))) << tags;
  EXPECT_TRUE(std::regex_search(tags, std::regex(R"(Exif\.Photo\.DateTimeOriginal\s+\d{4}:\d\d:\d\d \d\d:\d\d:\d\d)")))
      << tags;
  // exiv2 extracts the thumbnail as a JPEG of 160 x 120.
  RunCommand("exiv2 -q -et -l " + Quote(m_Root) + " " + Quote(out) + " 2>&1");
  const QImage thumb = ReadImage(m_Root + "/out-thumb.jpg");
  EXPECT_EQ(QSize(160, 120), thumb.size());
}

struct SizeCase {
  int width;
  int height;
};

class ExifSourceSizeTest : public ExifHdrAddTest, public ::testing::WithParamInterface<SizeCase> {};

// Tiny, reducible at decode time, and of another shape than the thumbnail.
TEST_P(ExifSourceSizeTest, DimensionsAreTheSourcesAndTheThumbnailIs160x120) {
  const SizeCase c = GetParam();
  const std::string file = Convert(MakeSource("src.jpg", c.width, c.height), m_Root + "/out.jpg");
  const ExifSegment seg = FindExifSegment(file);
  ASSERT_TRUE(seg.found);
  TiffIfd exif;
  ASSERT_TRUE(ReadIfd(seg.tiff, 114, &exif));
  EXPECT_EQ(static_cast<uint32_t>(c.width), exif.entries[6].valueOrOffset);
  EXPECT_EQ(static_cast<uint32_t>(c.height), exif.entries[7].valueOrOffset);
  const uint32_t length = Le32(seg.tiff, 298 + 2 + 12 * 4 + 8);
  QImage thumb;
  ASSERT_TRUE(thumb.loadFromData(reinterpret_cast<const uchar*>(seg.tiff.data() + 392), static_cast<int>(length)));
  EXPECT_EQ(QSize(160, 120), thumb.size());
}

// The case's name: the test's name and its printed parameter.
std::string SizeCaseName(const SizeCase& c) { return std::to_string(c.width) + "x" + std::to_string(c.height); }
void PrintTo(const SizeCase& c, std::ostream* os) { *os << SizeCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Sizes, ExifSourceSizeTest,
                         ::testing::Values(SizeCase{1, 1}, SizeCase{1600, 1200}, SizeCase{100, 300},
                                           SizeCase{2592, 1944}),
                         [](const auto& info) { return SizeCaseName(info.param); });

TEST_F(ExifHdrAddTest, InPlaceReplacesTheFileAndLeavesNothingBeside) {
  const std::string source = MakeSource("same.jpg", 64, 48);
  const std::string original = ReadFile(source);
  const std::string out = Convert(source, source);
  const ExifSegment seg = FindExifSegment(out);
  ASSERT_TRUE(seg.found);
  EXPECT_EQ(original.substr(2), out.substr(seg.segmentEnd));
  std::vector<std::string> names = ListFolder(m_Root);
  EXPECT_EQ((std::vector<std::string>{"fallback", "in", "out", "same.jpg", "work"}), names);
  // The work folder this object made is gone again, with its thumbnail file.
  EXPECT_FALSE(Exists(m_Work));
}

TEST_F(ExifHdrAddTest, AnExistingWorkFolderStaysAndHoldsNoThumbnailFile) {
  ASSERT_EQ(0, ::mkdir(m_Work.c_str(), 0700));
  Convert(MakeSource("a.jpg", 64, 48), m_Root + "/b.jpg");
  EXPECT_TRUE(Exists(m_Work));
  EXPECT_TRUE(ListFolder(m_Work).empty());
}

TEST_F(ExifHdrAddTest, ASecondPassKeepsTheFirstSegmentBehindTheNewOne) {
  const std::string source = MakeSource("twice.jpg", 64, 48);
  const std::string once = Convert(source, source);
  const std::string twice = Convert(source, source);
  const ExifSegment first = FindExifSegment(twice);
  ASSERT_TRUE(first.found);
  // Right behind the new segment the old one follows, unchanged.
  EXPECT_EQ(once.substr(2), twice.substr(first.segmentEnd));
  EXPECT_EQ("\xFF\xE1", twice.substr(first.segmentEnd, 2));
}

TEST_F(ExifHdrAddTest, AThumbnailTooLargeForTheSegmentFailsAndTouchesNothing) {
  const std::string dest = m_Root + "/dest.jpg";
  WriteFile(dest, "keep me");
  const std::string source = ReadFile(MakeSource("s.jpg", 16, 16));
  auto attempt = [&](size_t thumbLength) {
    CExifHdrAdd exif(m_Work);
    std::vector<BYTE> thumb(thumbLength, 0x55);
    thumb[0] = 0xFF;
    thumb[1] = 0xD8;
    exif.SetPicture(std::vector<BYTE>(source.begin(), source.end()), 16, 16, thumb, "2024:01:02 03:04:05");
    return exif.WriteExifData(dest);
  };
  EXPECT_EQ(0, attempt(CExifHdrAdd::MAX_THUMBNAIL_LENGTH + 1));
  EXPECT_EQ("keep me", ReadFile(dest));
  EXPECT_EQ(0, attempt(70000));
  EXPECT_EQ("keep me", ReadFile(dest));
  // The largest that fits fills the length field exactly.
  EXPECT_EQ(1, attempt(CExifHdrAdd::MAX_THUMBNAIL_LENGTH));
  const ExifSegment seg = FindExifSegment(ReadFile(dest));
  ASSERT_TRUE(seg.found);
  EXPECT_EQ(0xFFFF, seg.length);
}

// A write that fails half-way (file size limit) must not cost the source,
// which is also the destination.
TEST_F(ExifHdrAddTest, AWriteThatFailsHalfWayLeavesTheSourceWhole) {
  const std::string source = MakeSource("victim.jpg", 640, 480);
  const std::string original = ReadFile(source);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    // Room for the thumbnail file, not for the whole Exif version.
    rlimit limit{static_cast<rlim_t>(original.size() + 100), static_cast<rlim_t>(original.size() + 100)};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    CExifHdrAdd exif(m_Work);
    ::_exit(exif.AddExifHeader(source, source) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "the write should have failed";
  EXPECT_EQ(original, ReadFile(source));
  EXPECT_EQ((std::vector<std::string>{"fallback", "in", "out", "victim.jpg", "work"}), ListFolder(m_Root));
}

TEST_F(ExifHdrAddTest, UnreadableSourcesFailWithoutADestination) {
  const std::string dest = m_Root + "/never.jpg";
  WriteFile(m_Root + "/empty.jpg", "");
  WriteFile(m_Root + "/text.jpg", "this is no picture");
  const std::string truncated = ReadFile(MakeSource("whole.jpg", 256, 256));
  WriteFile(m_Root + "/cut.jpg", truncated.substr(0, truncated.size() / 2));
  for (const char* name : {"missing.jpg", "empty.jpg", "text.jpg", "cut.jpg"}) {
    CExifHdrAdd exif(m_Work);
    EXPECT_EQ(0, exif.AddExifHeader(m_Root + "/" + name, dest)) << name;
    EXPECT_FALSE(Exists(dest)) << name;
  }
}

}  // namespace

// JPEG and BMP: decode sizes and reductions, fitting geometry, colour order,
// truncated and corrupt data, save round trips checked with djpeg, the
// outside codec module, BMP headers and padding.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <turbojpeg.h>

#include <QImageReader>
#include <QImageWriter>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "Bmp.h"
#include "Jpeg.h"
#include "JpegFile.h"
#include "OutsideCodec.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Library.h"
#include "TestEnv.h"

namespace fs = std::filesystem;
using fotavi_test::ReadFile;

namespace {

// ------------------------------------------------------------ test pictures

// A textured picture in RGB order (the encoder's input, independent of our code).
std::vector<unsigned char> Texture(int w, int h) {
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      unsigned char* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = static_cast<unsigned char>(40 + (x * 7 + y * 3) % 180);
      p[1] = static_cast<unsigned char>(40 + (x * 2 + y * 5) % 180);
      p[2] = static_cast<unsigned char>(40 + (x + y) % 180);
    }
  }
  return rgb;
}

std::string EncodeWithTurbo(const std::vector<unsigned char>& pixels, int w, int h, int pixelFormat, int subsamp,
                            int quality = 90) {
  tjhandle tj = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const int pitch = w * tjPixelSize[pixelFormat];
  EXPECT_EQ(0, tjCompress2(tj, pixels.data(), w, pitch, h, pixelFormat, &out, &size, subsamp, quality, 0));
  std::string jpeg(reinterpret_cast<char*>(out), size);
  tjFree(out);
  tjDestroy(tj);
  return jpeg;
}

std::string TexturedJpeg(int w, int h) { return EncodeWithTurbo(Texture(w, h), w, h, TJPF_RGB, TJSAMP_422); }

std::string SolidJpeg(int w, int h, unsigned char r, unsigned char g, unsigned char b) {
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = r;
    rgb[i + 1] = g;
    rgb[i + 2] = b;
  }
  return EncodeWithTurbo(rgb, w, h, TJPF_RGB, TJSAMP_444, 95);
}

const BYTE* Bytes(const std::string& s) { return reinterpret_cast<const BYTE*>(s.data()); }

// ------------------------------------------------------------ the two paths

// CJpeg with no outside library, or with the stand-in module bound by name.
struct CodecPath {
  const char* name;
  bool outside;
};

class Codec {
 public:
  explicit Codec(bool outside) {
    if (!outside) return;
    module_ = LoadLibrary(JpegCodecLibraryName(JPEGLIB_SIMD));
    if (!module_) return;
    load_ = GetProcAddressAs<PFN_FNCLOADJPEGW>(module_, FNC_LOADJPEGW);
    save_ = GetProcAddressAs<PFN_FNCSAVEJPEGW>(module_, FNC_SAVEJPEGW);
    loadA_ = GetProcAddressAs<PFN_FNCLOADJPEGA>(module_, FNC_LOADJPEGA);
    info_ = GetProcAddressAs<PFN_FNCGETJPEGINFOW>(module_, FNC_GETJPEGINFOW);
  }
  ~Codec() {
    if (module_) FreeLibrary(module_);
  }
  bool Bound(bool outside) const { return !outside || (load_ && save_ && loadA_ && info_); }
  CJpeg Make() const { return CJpeg(load_, save_, nullptr); }

  HMODULE module_ = nullptr;
  PFN_FNCLOADJPEGW load_ = nullptr;
  PFN_FNCSAVEJPEGW save_ = nullptr;
  PFN_FNCLOADJPEGA loadA_ = nullptr;
  PFN_FNCGETJPEGINFOW info_ = nullptr;
};

class JpegTest : public ::testing::TestWithParam<CodecPath> {
 protected:
  void SetUp() override {
    root_ = fotavi_test::MakeTempFolder("jpeg");
    codec_ = std::make_unique<Codec>(GetParam().outside);
    ASSERT_TRUE(codec_->Bound(GetParam().outside)) << GetLoadErrorText();
  }
  void TearDown() override { fs::remove_all(root_); }
  CJpeg Jpeg() const { return codec_->Make(); }

  std::string root_;
  std::unique_ptr<Codec> codec_;
};

const CodecPath kPaths[] = {{"libjpeg", false}, {"outside", true}};
void PrintTo(const CodecPath& p, std::ostream* os) { *os << p.name; }
std::string PathName(const ::testing::TestParamInfo<CodecPath>& info) { return info.param.name; }

// ------------------------------------------------------------ decode sizes

struct SizeCase {
  int width;
  int scale;
  int outW;
  int outH;
};

class JpegDecodeSize : public JpegTest {};

TEST_P(JpegDecodeSize, ReductionFollowsWidthOrScale) {
  static const std::string jpeg = TexturedJpeg(1600, 1200);
  const SizeCase cases[] = {
      {0, 0, 1600, 1200},   // no reduction asked
      {160, 0, 200, 150},   // 1600/160 = 10: 1/8
      {400, 0, 400, 300},   // 4: 1/4
      {533, 0, 800, 600},   // 3: 1/2
      {800, 0, 800, 600},   // 2: 1/2
      {1000, 0, 1600, 1200},  // 1
      {3000, 0, 1600, 1200},  // wider than the picture: denominator 0, full size
      {0, 1, 1600, 1200},   {0, 3, 800, 600},  {0, 5, 400, 300},
      {0, 8, 200, 150},     {0, 16, 200, 150},
      {160, 2, 800, 600},   // an explicit scale wins over the width
  };
  for (const auto& c : cases) {
    CBitmap24 image;
    ASSERT_TRUE(Jpeg().Decode(nullptr, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), &image, c.width, c.scale))
        << c.width << "/" << c.scale;
    EXPECT_TRUE(IsBitmap24(image));
    EXPECT_EQ(c.outW, image.width()) << c.width << "/" << c.scale;
    EXPECT_EQ(c.outH, image.height()) << c.width << "/" << c.scale;
  }
}
INSTANTIATE_TEST_SUITE_P(Paths, JpegDecodeSize, ::testing::ValuesIn(kPaths), PathName);

TEST(JpegReduction, NormalisedToPowersOfTwo) {
  struct {
    int imageWidth, width, scale, denom;
  } const cases[] = {{1024, 0, 0, 1}, {1024, 0, 1, 1}, {1024, 0, 2, 2}, {1024, 0, 3, 2}, {1024, 0, 4, 4},
                     {1024, 0, 7, 4}, {1024, 0, 8, 8}, {1024, 0, 100, 8}, {1024, 512, 0, 2}, {1024, 300, 0, 2},
                     {1024, 256, 0, 4}, {1024, 2048, 0, 1}, {1024, 0, -3, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.denom, CJpeg::ReductionFor(c.imageWidth, c.width, c.scale)) << c.width << "/" << c.scale;
  }
}

// ------------------------------------------------------------ pixels

class JpegPixels : public JpegTest {};

TEST_P(JpegPixels, ColourArrivesInBlueGreenRedOrder) {
  const std::string jpeg = SolidJpeg(64, 32, 250, 10, 60);  // red-dominant
  CBitmap24 image;
  ASSERT_TRUE(Jpeg().Decode(nullptr, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), &image, 0, 0));
  const BYTE* p = image.constScanLine(16) + 3 * 20;
  EXPECT_NEAR(60, p[0], 6);   // blue
  EXPECT_NEAR(10, p[1], 6);   // green
  EXPECT_NEAR(250, p[2], 6);  // red
}

TEST_P(JpegPixels, GreyJpegGivesThreeEqualBytes) {
  std::vector<unsigned char> grey(80 * 40);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<unsigned char>(i * 13);
  const std::string jpeg = EncodeWithTurbo(grey, 80, 40, TJPF_GRAY, TJSAMP_GRAY);
  CBitmap24 image;
  ASSERT_TRUE(Jpeg().Decode(nullptr, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), &image, 0, 0));
  ASSERT_EQ(80, image.width());
  for (int y = 0; y < image.height(); ++y) {
    const BYTE* row = image.constScanLine(y);
    for (int x = 0; x < image.width(); ++x) {
      ASSERT_EQ(row[3 * x], row[3 * x + 1]);
      ASSERT_EQ(row[3 * x], row[3 * x + 2]);
    }
  }
}

TEST_P(JpegPixels, TopRowOfTheFileIsTheTopRowOfThePicture) {
  // Top half white, bottom half black.
  std::vector<unsigned char> grey(64 * 64, 0);
  std::fill(grey.begin(), grey.begin() + 64 * 32, 255);
  const std::string jpeg = EncodeWithTurbo(grey, 64, 64, TJPF_GRAY, TJSAMP_GRAY);
  CBitmap24 image;
  ASSERT_TRUE(Jpeg().Decode(nullptr, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), &image, 0, 0));
  EXPECT_GT(image.constScanLine(2)[0], 200);
  EXPECT_LT(image.constScanLine(61)[0], 50);
}

TEST_P(JpegPixels, FileAndMemoryGiveTheSamePicture) {
  const std::string jpeg = TexturedJpeg(333, 101);
  const std::string path = root_ + "/in.jpg";
  fotavi_test::WriteFile(path, jpeg);
  CBitmap24 fromFile, fromMemory;
  ASSERT_TRUE(Jpeg().Load(&fromFile, path, false, 0, 0));
  ASSERT_TRUE(Jpeg().Load(&fromMemory, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), false, 0, 0, 0));
  EXPECT_EQ(fromFile, fromMemory);
  CBitmap24 none;
  EXPECT_FALSE(Jpeg().Load(&none, root_ + "/missing.jpg", false, 0, 0));
  EXPECT_FALSE(Jpeg().Load(&none, std::string(), false, 0, 0));
  EXPECT_TRUE(none.isNull());
}

INSTANTIATE_TEST_SUITE_P(Paths, JpegPixels, ::testing::ValuesIn(kPaths), PathName);

// ------------------------------------------------------------ broken data

struct BrokenCase {
  const char* name;
  std::string (*make)(const std::string& good);
};

const BrokenCase kBroken[] = {
    {"Empty", [](const std::string&) { return std::string(); }},
    {"SoiOnly", [](const std::string& g) { return g.substr(0, 2); }},
    {"HeaderCut", [](const std::string& g) { return g.substr(0, 300); }},
    {"HalfTheData", [](const std::string& g) { return g.substr(0, g.size() / 2); }},
    {"AllButTheEndMarker", [](const std::string& g) { return g.substr(0, g.size() - 2); }},
    {"NotAJpeg", [](const std::string& g) { return std::string(g.size(), 'x'); }},
    {"SkipPastTheEnd",
     [](const std::string& g) {
       // SOI, then an APP1 segment announcing far more bytes than follow.
       return std::string("\xFF\xD8\xFF\xE1\xFF\xF0", 6) + std::string(100, '\0');
     }},
};

class JpegBroken : public JpegTest {};

TEST_P(JpegBroken, TruncatedOrCorruptDataFailsPromptly) {
  const std::string good = TexturedJpeg(1024, 768);
  const CJpeg jpeg = Jpeg();
  for (const auto& c : kBroken) {
    const std::string data = c.make(good);
    auto result = std::async(std::launch::async, [&] {
      CBitmap24 image = CreateBitmap24(2, 2);
      const BOOL ok = jpeg.Decode(nullptr, data.empty() ? nullptr : Bytes(data), static_cast<DWORD>(data.size()),
                                  &image, 0, 0);
      return std::make_pair(ok, image.size());
    });
    ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(10))) << c.name << " hangs";
    const auto [ok, size] = result.get();
    EXPECT_FALSE(ok) << c.name;
    EXPECT_EQ(QSize(2, 2), size) << c.name << ": the out picture changed on failure";
  }
}

TEST_P(JpegBroken, TruncatedFileFails) {
  const std::string good = TexturedJpeg(640, 480);
  const std::string path = root_ + "/cut.jpg";
  fotavi_test::WriteFile(path, good.substr(0, good.size() * 2 / 3));
  CBitmap24 image;
  EXPECT_FALSE(Jpeg().Decode(path.c_str(), nullptr, 0, &image, 0, 0));
}

// A FIFO named like a picture: opening it for reading would wait for a
// writer. Unblocked by the test (a writer opened and closed) when it hangs.
TEST_P(JpegBroken, AFifoFailsAtOnce) {
  const std::string fifo = root_ + "/pipe.jpg";
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  const CJpeg jpeg = Jpeg();
  auto result = std::async(std::launch::async, [&] {
    CBitmap24 image;
    return jpeg.Decode(fifo.c_str(), nullptr, 0, &image, 0, 0);
  });
  const bool prompt = result.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  while (result.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  }
  EXPECT_TRUE(prompt) << "the decode waited on the FIFO";
  EXPECT_FALSE(result.get());
}

INSTANTIATE_TEST_SUITE_P(Paths, JpegBroken, ::testing::ValuesIn(kPaths), PathName);

// ------------------------------------------------------------ huge and special files

// Bytes this process has read from files so far (the kernel's count).
uint64_t BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

constexpr off_t kThreeGigabytes = 3ll * 1024 * 1024 * 1024;

// `head` at the start of a sparse file of 3 GB (it takes no disk).
std::string HugeFile(const std::string& folder, const std::string& head) {
  const std::string path = folder + "/huge.jpg";
  fotavi_test::WriteFile(path, head);
  EXPECT_EQ(0, ::truncate(path.c_str(), kThreeGigabytes));
  return path;
}

// Runs `decode` on a thread of its own; false when it has not ended within
// 10 s, after which a writer is opened on `fifo` until it ends.
bool EndsPromptly(const std::function<BOOL()>& decode, const std::string& fifo, BOOL* result) {
  auto run = std::async(std::launch::async, decode);
  const bool prompt = run.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  while (run.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  }
  *result = run.get();
  return prompt;
}

class JpegHugeFile : public JpegTest {};

TEST_P(JpegHugeFile, OnlyThePictureAtItsHeadIsRead) {
  const std::string jpeg = TexturedJpeg(320, 240);
  const std::string path = HugeFile(root_, jpeg);
  const uint64_t before = BytesReadSoFar();
  CBitmap24 image;
  EXPECT_TRUE(Jpeg().Decode(path.c_str(), nullptr, 0, &image, 0, 0));
  EXPECT_EQ(QSize(320, 240), image.size());
  EXPECT_LT(BytesReadSoFar() - before, jpeg.size() + 2 * JPEG_FILE_PIECE);
}

TEST_P(JpegHugeFile, APictureThatNeverEndsIsRefusedAtTheBound) {
  // A real header and the first half of the coded data, then zeros: coded
  // data with no end marker for 3 GB.
  const std::string jpeg = TexturedJpeg(320, 240);
  const std::string path = HugeFile(root_, jpeg.substr(0, jpeg.size() / 2));
  const int oldLimit = QImageReader::allocationLimit();
  QImageReader::setAllocationLimit(4);  // MB
  const uint64_t before = BytesReadSoFar();
  CBitmap24 image;
  EXPECT_FALSE(Jpeg().Decode(path.c_str(), nullptr, 0, &image, 0, 0));
  const uint64_t read = BytesReadSoFar() - before;
  QImageReader::setAllocationLimit(oldLimit);
  EXPECT_LE(read, 4u * 1024 * 1024 + JPEG_FILE_PIECE);
}

TEST_P(JpegHugeFile, AClearedRunningFlagStopsTheReadBeforeItsFirstPiece) {
  const std::string path = HugeFile(root_, TexturedJpeg(320, 240));
  std::atomic<LONG> running{0};
  CJpeg jpeg = Jpeg();
  jpeg.SetRunningFlag(&running);
  const uint64_t before = BytesReadSoFar();
  CBitmap24 image;
  EXPECT_FALSE(jpeg.Decode(path.c_str(), nullptr, 0, &image, 0, 0));
  EXPECT_LT(BytesReadSoFar() - before, JPEG_FILE_PIECE);
  running = 1;
  EXPECT_TRUE(jpeg.Decode(path.c_str(), nullptr, 0, &image, 0, 0));
}

INSTANTIATE_TEST_SUITE_P(Paths, JpegHugeFile, ::testing::ValuesIn(kPaths), PathName);

// The outside codec, given a path of its own, reads it by the same rule.
class OutsideCodecFile : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fotavi_test::MakeTempFolder("outside-file");
    codec_ = std::make_unique<Codec>(true);
    ASSERT_TRUE(codec_->Bound(true)) << GetLoadErrorText();
  }
  void TearDown() override { fs::remove_all(root_); }
  BOOL Load(const std::string& path, DWORD* info) {
    HGLOBAL dib = nullptr;
    const BOOL ok = codec_->loadA_(path.c_str(), nullptr, 0, &dib, 0, 0, info);
    if (dib) GlobalFree(dib);
    return ok;
  }
  std::string root_;
  std::unique_ptr<Codec> codec_;
};

TEST_F(OutsideCodecFile, AHugeFileIsReadOnlyToTheEndOfItsPicture) {
  const std::string jpeg = TexturedJpeg(320, 240);
  const std::string path = HugeFile(root_, jpeg);
  const uint64_t before = BytesReadSoFar();
  DWORD info[3] = {};
  EXPECT_TRUE(Load(path, info));
  EXPECT_EQ(320u, info[0]);
  EXPECT_LT(BytesReadSoFar() - before, jpeg.size() + 2 * JPEG_FILE_PIECE);
}

TEST_F(OutsideCodecFile, AFifoOrAFolderIsRefusedAtOnce) {
  const std::string fifo = root_ + "/pipe.jpg";
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  fs::create_directory(root_ + "/folder.jpg");
  for (const std::string& path : {fifo, root_ + "/folder.jpg"}) {
    BOOL ok = TRUE;
    DWORD info[3] = {};
    EXPECT_TRUE(EndsPromptly([&] { return Load(path, info); }, fifo, &ok)) << path << " blocked the decode";
    EXPECT_FALSE(ok) << path;
  }
}

// The reader itself: what it reads, counted.
TEST(JpegFileRead, PiecesAreAskedForAndCountedUpToTheBound) {
  const std::string root = fotavi_test::MakeTempFolder("jpeg-file");
  const std::string jpeg = TexturedJpeg(320, 240);
  const std::string endless = HugeFile(root, jpeg.substr(0, jpeg.size() / 2));
  std::vector<unsigned char> bytes;
  uint64_t read = 0;
  int asked = 0;
  const auto threePieces = [&] { return ++asked <= 3; };
  EXPECT_EQ(JpegFileRead::Canceled, ReadJpegFile(endless, 1ull << 30, threePieces, &bytes, &read));
  EXPECT_EQ(4, asked);
  EXPECT_EQ(3 * JPEG_FILE_PIECE, read);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(JpegFileRead::TooLarge, ReadJpegFile(endless, 1 << 20, {}, &bytes, &read));
  EXPECT_EQ(1u << 20, read);
  // A file that is no JPEG is given up after its first piece.
  fotavi_test::WriteFile(endless, "not a picture");
  ASSERT_EQ(0, ::truncate(endless.c_str(), kThreeGigabytes));
  EXPECT_EQ(JpegFileRead::Unreadable, ReadJpegFile(endless, 1ull << 30, {}, &bytes, &read));
  EXPECT_EQ(JPEG_FILE_PIECE, read);
  // A whole picture ends at its end marker, whatever follows.
  fotavi_test::WriteFile(endless, jpeg + "trailing bytes");
  EXPECT_EQ(JpegFileRead::Ok, ReadJpegFile(endless, 1ull << 30, {}, &bytes, &read));
  EXPECT_EQ(jpeg, std::string(bytes.begin(), bytes.end()));
  fs::remove_all(root);
}

// ------------------------------------------------------------ decompression bomb

// A valid JPEG of 334 bytes whose header claims 60000 x 60000 pixels: 10 GB
// once decoded.
std::string BombPath() { return std::string(FOTAVI_COMMON_TEST_DATA) + "/decompression-bomb-60000x60000.jpg"; }

long PeakMemoryKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct BombCase {
  const char* name;
  int width, height;  // what the header claims
  std::string (*make)();
};

const BombCase kBombs[] = {
    // The committed file: a header of 60000 x 60000 with almost no data.
    {"Claims60000x60000", 60000, 60000, [] { return ReadFile(BombPath()); }},
    // A whole, valid picture just past the bound (9500 x 9500 x 3 bytes =
    // 271 MB > 256 MiB), which any decoder would finish if it were let.
    {"WholePictureJustPastTheBound", 9500, 9500,
     [] {
       std::vector<unsigned char> grey(static_cast<size_t>(9500) * 9500, 128);
       return EncodeWithTurbo(grey, 9500, 9500, TJPF_GRAY, TJSAMP_GRAY, 50);
     }},
};

class JpegBomb : public JpegTest {};

TEST_P(JpegBomb, HeaderClaimingAPictureBeyondTheBoundIsRefusedBeforeAllocating) {
  const std::string fixture = ReadFile(BombPath());
  ASSERT_GT(fixture.size(), 100u);
  ASSERT_LT(fixture.size(), 1000u);
  const CJpeg jpeg = Jpeg();
  for (const BombCase& c : kBombs) {
    const std::string data = c.make();
    const std::string path = root_ + "/" + c.name + ".jpg";
    fotavi_test::WriteFile(path, data);
    // An independent reader sees the claimed size: the file is a JPEG header
    // as any decoder would start on it.
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
    ASSERT_EQ(0, tjDecompressHeader3(tj, Bytes(data), static_cast<unsigned long>(data.size()), &w, &h, &subsamp,
                                     &colorspace));
    tjDestroy(tj);
    ASSERT_EQ(c.width, w);
    ASSERT_EQ(c.height, h);

    const long before = PeakMemoryKb();
    const size_t blocks = GlobalBlockCount();
    CBitmap24 image = CreateBitmap24(2, 2);
    EXPECT_FALSE(jpeg.Load(&image, path, false, 0, 0)) << c.name;
    EXPECT_FALSE(jpeg.Load(&image, Bytes(data), static_cast<DWORD>(data.size()), false, 0, 0, 0)) << c.name;
    EXPECT_FALSE(jpeg.Load(&image, Bytes(data), static_cast<DWORD>(data.size()), true, 1024, 768, 1)) << c.name;
    EXPECT_EQ(QSize(2, 2), image.size()) << c.name << ": the out picture changed";
    EXPECT_LT(PeakMemoryKb() - before, 64 * 1024) << c.name << ": memory for the picture was taken";
    EXPECT_EQ(blocks, GlobalBlockCount()) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, JpegBomb, ::testing::ValuesIn(kPaths), PathName);

// A valid progressive grey JPEG of only a DC scan, every block 0 (mid grey):
// one bit per 8 x 8 block, so 12000 x 12000 pixels take 281 KB. A decoder
// of a progressive picture keeps the coefficients of the whole picture
// (128 bytes a block) however much it reduces: 288 MB here.
std::string MakeDcOnlyProgressiveGrey(int side) {
  auto u16 = [](std::string* out, int v) {
    out->push_back(static_cast<char>(v >> 8));
    out->push_back(static_cast<char>(v & 0xFF));
  };
  std::string j = "\xFF\xD8";
  j += "\xFF\xDB";
  u16(&j, 67);
  j.push_back('\0');
  j.append(64, '\x01');
  j += "\xFF\xC2";  // progressive frame: 8 bits, one component, 1 x 1
  u16(&j, 11);
  j.push_back('\x08');
  u16(&j, side);
  u16(&j, side);
  j += std::string("\x01\x01\x11\x00", 4);
  j += "\xFF\xC4";  // DC table 0: symbol 0 (difference 0) coded as '0'
  u16(&j, 20);
  j.push_back('\0');
  j.push_back('\x01');
  j.append(15, '\0');
  j.push_back('\0');
  j += "\xFF\xDA";  // the DC scan of component 1
  u16(&j, 8);
  j += std::string("\x01\x01\x00\x00\x00\x00", 6);
  const size_t blocks = static_cast<size_t>((side + 7) / 8) * static_cast<size_t>((side + 7) / 8);
  j.append(blocks / 8, '\0');
  if (blocks % 8) j.push_back(static_cast<char>(0xFF >> (blocks % 8)));  // padded with 1 bits
  j += "\xFF\xD9";
  return j;
}

// Reduced to 1/8 the 12000 x 12000 picture is only 1500 x 1500, but the
// decoder's working memory is the whole picture's: the header is refused
// when that passes the bound, before anything is allocated. A small one of
// the same kind decodes (djpeg agrees it is a JPEG of mid grey).
TEST_P(JpegBomb, ProgressivePictureWhoseCoefficientsPassTheBoundIsRefusedEvenReduced) {
  const std::string small = MakeDcOnlyProgressiveGrey(64);
  const std::string smallPath = root_ + "/small-progressive.jpg";
  fotavi_test::WriteFile(smallPath, small);
  ASSERT_EQ(0, std::system(("djpeg -outfile /dev/null '" + smallPath + "' 2>/dev/null").c_str()));
  const CJpeg jpeg = Jpeg();
  CBitmap24 picture;
  ASSERT_TRUE(jpeg.Decode(nullptr, Bytes(small), static_cast<DWORD>(small.size()), &picture, 8, 0));
  EXPECT_EQ(QSize(8, 8), picture.size());

  const std::string big = MakeDcOnlyProgressiveGrey(12000);
  EXPECT_LT(big.size(), 300u * 1024);
  const long before = PeakMemoryKb();
  CBitmap24 image = CreateBitmap24(2, 2);
  EXPECT_FALSE(jpeg.Decode(nullptr, Bytes(big), static_cast<DWORD>(big.size()), &image, 1500, 0));
  EXPECT_EQ(QSize(2, 2), image.size());
  EXPECT_LT(PeakMemoryKb() - before, 64 * 1024) << "the coefficients were allocated";
}

// The outside module refuses such a header by itself, for the callers that
// bind it directly (the TWAIN data source).
TEST(OutsideCodec, HeaderClaimingAPictureBeyondTheBoundIsRefused) {
  Codec codec(true);
  ASSERT_TRUE(codec.Bound(true)) << GetLoadErrorText();
  HGLOBAL dib = reinterpret_cast<HGLOBAL>(1);
  EXPECT_FALSE(codec.load_(BombPath().c_str(), nullptr, 0, &dib, 0, 0, 0));
  EXPECT_EQ(nullptr, dib);
  for (const BombCase& c : kBombs) {
    const std::string data = c.make();
    const long before = PeakMemoryKb();
    DWORD info[3] = {7, 7, 7};
    dib = reinterpret_cast<HGLOBAL>(1);
    EXPECT_FALSE(codec.loadA_(nullptr, Bytes(data), static_cast<DWORD>(data.size()), &dib, 0, 0, info)) << c.name;
    if (dib && dib != reinterpret_cast<HGLOBAL>(1)) GlobalFree(dib);
    EXPECT_EQ(nullptr, dib) << c.name;
    EXPECT_EQ(7u, info[0]) << c.name << ": no size is reported for a refused picture";
    EXPECT_LT(PeakMemoryKb() - before, 64 * 1024) << c.name;
  }
}

// The bound: 256 MiB of decoded 24-bit rows, each padded to 4 bytes.
TEST(JpegBound, DecodedSizeIsCheckedWithPaddedRows) {
  EXPECT_TRUE(JpegDecodedSizeAllowed(16384, 5461));   // 49152 x 5461 = 268,419,072 bytes
  EXPECT_FALSE(JpegDecodedSizeAllowed(16384, 5462));  // 268,468,224 > 268,435,456
  EXPECT_FALSE(JpegDecodedSizeAllowed(65500, 65500));
  EXPECT_FALSE(JpegDecodedSizeAllowed(0, 10));
  EXPECT_TRUE(JpegDecodedSizeAllowed(JpegReducedSide(60000, 8), JpegReducedSide(60000, 8)));  // 7500 x 7500
  EXPECT_EQ(JpegReducedSide(1001, 8), 126u);
  EXPECT_EQ(JpegReducedSide(1000, 8), 125u);
}

// ------------------------------------------------------------ fitting

bool IsBlack(const CBitmap24& image, int x, int y) {
  const BYTE* p = image.constScanLine(y) + 3 * x;
  return p[0] == 0 && p[1] == 0 && p[2] == 0;
}

TEST(JpegFit, WideIntoSquareTakesFullWidthWithBandsAboveAndBelow) {
  CBitmap24 source = CreateBitmap24(1024, 768);
  source.fill(Qt::white);
  CBitmap24 out;
  ASSERT_TRUE(CJpeg::StretchBitmap(source, &out, 100, 100));
  ASSERT_EQ(QSize(100, 100), out.size());
  // drawn height 75, offset 12: rows 0-11 and 87-99 black.
  for (int y = 0; y < 100; ++y) {
    const bool band = y < 12 || y >= 87;
    EXPECT_EQ(band, IsBlack(out, 0, y)) << "row " << y;
    EXPECT_EQ(band, IsBlack(out, 99, y)) << "row " << y;
  }
}

TEST(JpegFit, TallIntoWideTakesFullHeightWithBandsLeftAndRight) {
  CBitmap24 source = CreateBitmap24(300, 600);
  source.fill(Qt::white);
  CBitmap24 out;
  ASSERT_TRUE(CJpeg::StretchBitmap(source, &out, 200, 100));
  // ry = 1/6 < rx: drawn width 50, offset 75.
  for (int x = 0; x < 200; ++x) EXPECT_EQ(x < 75 || x >= 125, IsBlack(out, x, 50)) << "column " << x;
}

TEST(JpegFit, ZeroSizeFails) {
  CBitmap24 source = CreateBitmap24(10, 10);
  CBitmap24 out;
  EXPECT_FALSE(CJpeg::StretchBitmap(source, &out, 0, 10));
  EXPECT_FALSE(CJpeg::StretchBitmap(source, &out, 10, 0));
}

TEST(JpegFit, NearestPixelKeepsColoursExact) {
  CBitmap24 source = CreateBitmap24(2, 1);
  source.scanLine(0)[0] = 10;  // left pixel blue 10
  source.scanLine(0)[3] = 200;  // right pixel blue 200
  CBitmap24 out;
  ASSERT_TRUE(CJpeg::StretchBitmap(source, &out, 8, 4));
  EXPECT_EQ(10, out.constScanLine(2)[0]);
  EXPECT_EQ(10, out.constScanLine(2)[3 * 3]);
  EXPECT_EQ(200, out.constScanLine(2)[3 * 4]);
  EXPECT_EQ(200, out.constScanLine(2)[3 * 7]);
}

class JpegLoadFit : public JpegTest {};

TEST_P(JpegLoadFit, ReducedThenFittedExactlyWithoutBorder) {
  const std::string jpeg = SolidJpeg(1600, 1200, 200, 180, 160);
  CBitmap24 out;
  ASSERT_TRUE(Jpeg().Load(&out, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), true, 160, 120, 0));
  ASSERT_EQ(QSize(160, 120), out.size());
  EXPECT_FALSE(IsBlack(out, 0, 0));
  EXPECT_FALSE(IsBlack(out, 159, 119));
}

TEST_P(JpegLoadFit, WithoutFitOrWithAZeroSizeTheDecodedSizeStays) {
  const std::string jpeg = SolidJpeg(1600, 1200, 200, 180, 160);
  CBitmap24 out;
  ASSERT_TRUE(Jpeg().Load(&out, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), false, 160, 120, 0));
  EXPECT_EQ(QSize(200, 150), out.size());
  ASSERT_TRUE(Jpeg().Load(&out, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), true, 160, 0, 0));
  EXPECT_EQ(QSize(200, 150), out.size());
}

INSTANTIATE_TEST_SUITE_P(Paths, JpegLoadFit, ::testing::ValuesIn(kPaths), PathName);

// ------------------------------------------------------------ save

// Decodes a file with djpeg into RGB rows (independent of our code).
bool DecodeWithDjpeg(const std::string& path, int* w, int* h, std::vector<unsigned char>* rgb) {
  const std::string ppm = path + ".ppm";
  const std::string cmd = "djpeg -pnm -outfile '" + ppm + "' '" + path + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return false;
  const std::string data = ReadFile(ppm);
  int maxval = 0, consumed = 0;
  if (std::sscanf(data.c_str(), "P6 %d %d %d%n", w, h, &maxval, &consumed) != 3) return false;
  rgb->assign(data.begin() + consumed + 1, data.end());
  return rgb->size() == static_cast<size_t>(*w) * *h * 3;
}

// The sampling factors of the first component in the SOF0 segment; 0 when
// there is no baseline frame header.
int FirstComponentSampling(const std::string& jpeg) {
  for (size_t i = 2; i + 12 < jpeg.size(); ++i) {
    if (static_cast<unsigned char>(jpeg[i]) == 0xFF && static_cast<unsigned char>(jpeg[i + 1]) == 0xC0) {
      return static_cast<unsigned char>(jpeg[i + 11]);
    }
  }
  return 0;
}

class JpegSave : public JpegTest {};

TEST_P(JpegSave, OddWidthsRoundTripThroughAnIndependentDecoder) {
  const QSize sizes[] = {{101, 37}, {1, 1}, {7, 3}, {333, 101}, {64, 48}};
  for (const QSize size : sizes) {
    CBitmap24 image = CreateBitmap24(size.width(), size.height());
    for (int y = 0; y < size.height(); ++y) {
      for (int x = 0; x < size.width(); ++x) {
        BYTE* p = image.scanLine(y) + 3 * x;
        p[0] = static_cast<BYTE>(40 + (x * 3) % 160);   // blue
        p[1] = static_cast<BYTE>(90);                   // green
        p[2] = static_cast<BYTE>(40 + (y * 5) % 160);   // red
      }
    }
    const std::string path = root_ + "/save.jpg";
    ASSERT_TRUE(Jpeg().Save(path, image, 75)) << size.width();
    const std::string file = ReadFile(path);
    EXPECT_EQ(0x21, FirstComponentSampling(file)) << "baseline 4:2:2 expected";
    int w = 0, h = 0;
    std::vector<unsigned char> rgb;
    ASSERT_TRUE(DecodeWithDjpeg(path, &w, &h, &rgb));
    ASSERT_EQ(size, QSize(w, h));
    double error = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const BYTE* p = image.constScanLine(y) + 3 * x;
        const unsigned char* q = &rgb[(static_cast<size_t>(y) * w + x) * 3];
        error += std::abs(q[0] - p[2]) + std::abs(q[1] - p[1]) + std::abs(q[2] - p[0]);
      }
    }
    EXPECT_LT(error / (w * h * 3), 12.0) << size.width() << "x" << size.height();
  }
}

TEST_P(JpegSave, MissingFolderFailsAndLeavesNothing) {
  const std::string folder = root_ + "/no/such/folder";
  EXPECT_FALSE(Jpeg().Save(folder + "/x.jpg", CreateBitmap24(10, 10), 75));
  EXPECT_FALSE(fs::exists(root_ + "/no"));
  EXPECT_FALSE(Jpeg().Save("", CreateBitmap24(10, 10), 75));
  EXPECT_FALSE(Jpeg().Save(root_ + "/null.jpg", QImage(), 75));
  EXPECT_FALSE(fs::exists(root_ + "/null.jpg"));
}

// The temporary file of a save is one of its own: files whose names a
// temporary file might take are neither overwritten nor removed.
TEST_P(JpegSave, SaveTouchesNoOtherFileOfTheFolder) {
  const std::string path = root_ + "/pic.jpg";
  const char* neighbours[] = {".part", ".tmp", "~"};
  for (const char* tail : neighbours) fotavi_test::WriteFile(path + tail, std::string("user file ") + tail);
  ASSERT_TRUE(Jpeg().Save(path, CreateBitmap24(17, 9), 75));
  for (const char* tail : neighbours) EXPECT_EQ(std::string("user file ") + tail, ReadFile(path + tail)) << tail;
  EXPECT_EQ(4, std::distance(fs::directory_iterator(root_), fs::directory_iterator()));
  CBitmap24 back;
  ASSERT_TRUE(CJpeg().Decode(path.c_str(), nullptr, 0, &back, 0, 0));
  EXPECT_EQ(QSize(17, 9), back.size());
}

INSTANTIATE_TEST_SUITE_P(Paths, JpegSave, ::testing::ValuesIn(kPaths), PathName);

TEST(JpegSaveBuiltIn, FailedSaveKeepsTheExistingFile) {
  const std::string root = fotavi_test::MakeTempFolder("jpegkeep");
  const std::string path = root + "/keep.jpg";
  fotavi_test::WriteFile(path, "previous picture");
  // Wider than a JPEG frame can be: the encoder refuses it.
  CBitmap24 tooWide = CreateBitmap24(70000, 1);
  ASSERT_FALSE(tooWide.isNull());
  EXPECT_FALSE(CJpeg().Save(path, tooWide, 75));
  EXPECT_EQ("previous picture", ReadFile(path));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(root), fs::directory_iterator()));
  fs::remove_all(root);
}

// ------------------------------------------------------------ pictures with more than the picture

// A JPEG segment: marker, big-endian length, payload.
std::string Segment(unsigned char marker, const std::string& payload) {
  const size_t length = payload.size() + 2;
  std::string s("\xFF", 1);
  s += static_cast<char>(marker);
  s += static_cast<char>(length >> 8);
  s += static_cast<char>(length & 0xFF);
  return s + payload;
}

// `segments` right after the start marker of `jpeg`.
std::string WithSegmentsAfterSoi(const std::string& jpeg, const std::string& segments) {
  return jpeg.substr(0, 2) + segments + jpeg.substr(2);
}

std::string RunTool(const std::string& command) { return std::system(command.c_str()) == 0 ? "ok" : ""; }

// The special files are written to `folder` as `main.jpg` is made into them;
// "" when a tool that makes one is missing.
struct SpecialCase {
  const char* name;
  std::string (*make)(const std::string& folder, const std::string& main);
};

const SpecialCase kSpecial[] = {
    {"ExifThumbnailInApp1",
     [](const std::string&, const std::string& main) {
       // An Exif header whose thumbnail is a whole JPEG, end marker and all.
       return WithSegmentsAfterSoi(main, Segment(0xE1, std::string("Exif\0\0", 6) + TexturedJpeg(160, 120)));
     }},
    {"ThumbnailAddedByExiftool",
     [](const std::string& folder, const std::string& main) -> std::string {
       const std::string thumb = folder + "/thumb.jpg", pic = folder + "/exiftool.jpg";
       fotavi_test::WriteFile(thumb, TexturedJpeg(160, 120));
       fotavi_test::WriteFile(pic, main);
       if (RunTool("exiftool -q -overwrite_original -Make=Maker -Model=Camera '-ThumbnailImage<=" + thumb + "' '" +
                   pic + "' >/dev/null 2>&1")
               .empty()) {
         return "";
       }
       return ReadFile(pic);
     }},
    {"EndMarkerBytesInAComment",
     [](const std::string&, const std::string& main) {
       return WithSegmentsAfterSoi(main, Segment(0xFE, std::string("\xFF\xD9\xFF\xD9 x \xFF", 8)) +
                                             Segment(0xE5, std::string("\xFF\xD9", 2)));
     }},
    {"Progressive",
     [](const std::string&, const std::string&) {
       tjhandle tj = tjInitCompress();
       const std::vector<unsigned char> rgb = Texture(640, 480);
       unsigned char* out = nullptr;
       unsigned long size = 0;
       EXPECT_EQ(0, tjCompress2(tj, rgb.data(), 640, 640 * 3, 480, TJPF_RGB, &out, &size, TJSAMP_420, 85,
                                TJFLAG_PROGRESSIVE));
       std::string jpeg(reinterpret_cast<char*>(out), size);
       tjFree(out);
       tjDestroy(tj);
       return WithSegmentsAfterSoi(jpeg, Segment(0xE1, std::string("Exif\0\0", 6) + TexturedJpeg(80, 60)));
     }},
    {"RestartMarkers",
     [](const std::string& folder, const std::string& main) -> std::string {
       const std::string in = folder + "/plain.jpg", out = folder + "/restart.jpg";
       fotavi_test::WriteFile(in, main);
       if (RunTool("jpegtran -restart 1 -outfile '" + out + "' '" + in + "' 2>/dev/null").empty()) return "";
       return ReadFile(out);
     }},
    {"TrailingBytesAndASecondPicture",
     [](const std::string&, const std::string& main) {
       return main + std::string("\0\0trailing\xFF\xD9", 12) + TexturedJpeg(64, 48);
     }},
    {"FillBytesBeforeMarkers",
     [](const std::string&, const std::string& main) { return main.substr(0, 2) + "\xFF\xFF\xFF" + main.substr(2); }},
};

// Decodes a file with djpeg at the settings of the built-in decoder (fast
// integer transform, no fancy upsampling) into RGB rows.
bool DecodeWithDjpegFast(const std::string& path, int* w, int* h, std::vector<unsigned char>* rgb) {
  const std::string ppm = path + ".ppm";
  const std::string cmd = "djpeg -dct fast -nosmooth -pnm -outfile '" + ppm + "' '" + path + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return false;
  const std::string data = ReadFile(ppm);
  int maxval = 0, consumed = 0;
  if (std::sscanf(data.c_str(), "P6 %d %d %d%n", w, h, &maxval, &consumed) != 3) return false;
  rgb->assign(data.begin() + consumed + 1, data.end());
  return rgb->size() == static_cast<size_t>(*w) * *h * 3;
}

class JpegSpecialFile : public JpegTest {};

// A file whose segments or tail hold end-marker bytes decodes whole, the
// same picture as its bytes decoded from memory; the built-in decoder gives
// djpeg's pixels.
TEST_P(JpegSpecialFile, DecodesWholeAsItsBytesInMemory) {
  const std::string main = TexturedJpeg(640, 480);
  for (const SpecialCase& c : kSpecial) {
    const std::string bytes = c.make(root_, main);
    if (bytes.empty()) {
      ADD_FAILURE() << c.name << ": the tool that makes it is missing";
      continue;
    }
    const std::string path = root_ + "/" + c.name + ".jpg";
    fotavi_test::WriteFile(path, bytes);
    CBitmap24 fromFile, fromMemory;
    ASSERT_TRUE(Jpeg().Decode(nullptr, Bytes(bytes), static_cast<DWORD>(bytes.size()), &fromMemory, 0, 0)) << c.name;
    ASSERT_TRUE(Jpeg().Decode(path.c_str(), nullptr, 0, &fromFile, 0, 0)) << c.name;
    EXPECT_EQ(fromMemory, fromFile) << c.name;
    if (GetParam().outside) continue;
    int w = 0, h = 0;
    std::vector<unsigned char> rgb;
    ASSERT_TRUE(DecodeWithDjpegFast(path, &w, &h, &rgb)) << c.name;
    ASSERT_EQ(QSize(w, h), fromFile.size()) << c.name;
    size_t differ = 0;
    for (int y = 0; y < h; ++y) {
      const BYTE* row = fromFile.constScanLine(y);
      for (int x = 0; x < w; ++x) {
        const unsigned char* q = &rgb[(static_cast<size_t>(y) * w + x) * 3];
        if (row[3 * x] != q[2] || row[3 * x + 1] != q[1] || row[3 * x + 2] != q[0]) ++differ;
      }
    }
    EXPECT_EQ(0u, differ) << c.name << ": pixels unlike djpeg's";
  }
}

// The reader hands over exactly the picture: everything up to its own end
// marker, nothing after it.
TEST(JpegFileRead, ThePictureEndsAtItsOwnEndMarker) {
  const std::string root = fotavi_test::MakeTempFolder("jpeg-end");
  const std::string main = TexturedJpeg(640, 480);
  for (const SpecialCase& c : kSpecial) {
    std::string bytes = c.make(root, main);
    if (bytes.empty()) continue;
    // Where the picture ends: the stream as made, without what was appended.
    const std::string picture =
        std::string(c.name) == "TrailingBytesAndASecondPicture" ? main : bytes;
    const std::string path = root + "/special.jpg";
    fotavi_test::WriteFile(path, bytes);
    std::vector<unsigned char> read;
    ASSERT_EQ(JpegFileRead::Ok, ReadJpegFile(path, 1ull << 30, {}, &read)) << c.name;
    EXPECT_EQ(picture, std::string(read.begin(), read.end())) << c.name;
  }
  fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(Paths, JpegSpecialFile, ::testing::ValuesIn(kPaths), PathName);

// ------------------------------------------------------------ outside module

TEST(OutsideCodec, LoadAFillsWidthHeightAndBytesPerPixel) {
  Codec codec(true);
  ASSERT_TRUE(codec.Bound(true)) << GetLoadErrorText();
  const std::string jpeg = TexturedJpeg(1024, 768);
  HGLOBAL dib = nullptr;
  DWORD info[3] = {};
  ASSERT_TRUE(codec.loadA_(nullptr, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), &dib, 256, 0, info));
  EXPECT_EQ(256u, info[0]);
  EXPECT_EQ(192u, info[1]);
  EXPECT_EQ(3u, info[2]);
  const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
  EXPECT_EQ(40u, header->biSize);
  EXPECT_EQ(192, header->biHeight);  // positive: bottom-up
  EXPECT_EQ(24, header->biBitCount);
  GlobalUnlock(dib);
  EXPECT_EQ(nullptr, GlobalFree(dib));

  DWORD whole[3] = {};
  ASSERT_TRUE(codec.info_(nullptr, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), whole));
  EXPECT_EQ(1024u, whole[0]);
  EXPECT_EQ(768u, whole[1]);
}

TEST(OutsideCodec, SameRowOrderAsTheBuiltInPath) {
  Codec codec(true);
  ASSERT_TRUE(codec.Bound(true)) << GetLoadErrorText();
  const std::string jpeg = TexturedJpeg(320, 240);
  CBitmap24 builtIn, outside;
  ASSERT_TRUE(CJpeg().Decode(nullptr, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), &builtIn, 0, 0));
  ASSERT_TRUE(codec.Make().Decode(nullptr, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), &outside, 0, 0));
  ASSERT_EQ(builtIn.size(), outside.size());
  double diff = 0;
  for (int y = 0; y < builtIn.height(); ++y) {
    for (int x = 0; x < builtIn.width() * 3; ++x) diff += std::abs(builtIn.constScanLine(y)[x] - outside.constScanLine(y)[x]);
  }
  EXPECT_LT(diff / (builtIn.width() * builtIn.height() * 3), 3.0);
}

TEST(OutsideCodec, NoBlocksLeakThroughTheWrapper) {
  Codec codec(true);
  ASSERT_TRUE(codec.Bound(true));
  const std::string jpeg = TexturedJpeg(64, 64);
  const size_t before = GlobalBlockCount();
  CBitmap24 image;
  ASSERT_TRUE(codec.Make().Decode(nullptr, Bytes(jpeg), static_cast<DWORD>(jpeg.size()), &image, 0, 0));
  EXPECT_FALSE(codec.Make().Decode(nullptr, Bytes(jpeg), 100, &image, 0, 0));
  const std::string root = fotavi_test::MakeTempFolder("leak");
  EXPECT_TRUE(codec.Make().Save(root + "/a.jpg", image, 75));
  EXPECT_EQ(before, GlobalBlockCount());
  fs::remove_all(root);
}

// ------------------------------------------------------------ packed bitmaps

TEST(PackedDib, RoundTripKeepsPixelsAndRowOrder) {
  CBitmap24 image = CreateBitmap24(5, 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 15; ++x) image.scanLine(y)[x] = static_cast<BYTE>(y * 20 + x);
  }
  HGLOBAL dib = BitmapToPackedDib(image);
  ASSERT_NE(nullptr, dib);
  EXPECT_EQ(40u + 16u * 3u, GlobalSize(dib));
  const BYTE* bits = static_cast<const BYTE*>(GlobalLock(dib)) + 40;
  EXPECT_EQ(image.constScanLine(2)[0], bits[0]);  // the bottom row comes first
  GlobalUnlock(dib);
  EXPECT_EQ(image, PackedDibToBitmap(dib));
  GlobalFree(dib);
}

TEST(PackedDib, MalformedBlocksGiveNoPicture) {
  HGLOBAL tiny = GlobalAlloc(GHND, 10);
  EXPECT_TRUE(PackedDibToBitmap(tiny).isNull());
  GlobalFree(tiny);
  HGLOBAL dib = BitmapToPackedDib(CreateBitmap24(100, 100));
  auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
  header->biHeight = 1000;  // more rows than the block holds
  GlobalUnlock(dib);
  EXPECT_TRUE(PackedDibToBitmap(dib).isNull());
  GlobalFree(dib);
  EXPECT_TRUE(PackedDibToBitmap(nullptr).isNull());
}

// ------------------------------------------------------------ BMP

class BmpTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = fotavi_test::MakeTempFolder("bmp"); }
  void TearDown() override { fs::remove_all(root_); }
  std::string root_;
};

template <typename T>
T Field(const std::string& data, size_t offset) {
  T value;
  std::memcpy(&value, data.data() + offset, sizeof value);
  return value;
}

struct BmpSizeCase {
  int width, height;
  DWORD stride;
};

class BmpHeader : public BmpTest, public ::testing::WithParamInterface<BmpSizeCase> {};

TEST_P(BmpHeader, FieldsAndPadding) {
  const auto c = GetParam();
  CBitmap24 image = CreateBitmap24(c.width, c.height);
  for (int y = 0; y < c.height; ++y) std::memset(image.scanLine(y), 0x40 + y, static_cast<size_t>(c.width) * 3);
  const std::string path = root_ + "/a.bmp";
  ASSERT_TRUE(CBmp().Save(path, image));
  const std::string data = ReadFile(path);
  const DWORD imageSize = c.stride * static_cast<DWORD>(c.height);
  ASSERT_EQ(54u + imageSize, data.size());
  EXPECT_EQ(0x4D42, Field<WORD>(data, 0));
  EXPECT_EQ(54u + imageSize, Field<DWORD>(data, 2));
  EXPECT_EQ(0u, Field<DWORD>(data, 6));
  EXPECT_EQ(54u, Field<DWORD>(data, 10));
  EXPECT_EQ(40u, Field<DWORD>(data, 14));
  EXPECT_EQ(c.width, Field<LONG>(data, 18));
  EXPECT_EQ(c.height, Field<LONG>(data, 22));
  EXPECT_EQ(1, Field<WORD>(data, 26));
  EXPECT_EQ(24, Field<WORD>(data, 28));
  EXPECT_EQ(0u, Field<DWORD>(data, 30));
  EXPECT_EQ(imageSize, Field<DWORD>(data, 34));
  for (size_t i = 38; i < 54; ++i) EXPECT_EQ(0, data[i]);
  // Rows bottom-up: the first stored row is the picture's last; padding is zero.
  EXPECT_EQ(0x40 + c.height - 1, static_cast<unsigned char>(data[54]));
  for (DWORD pad = static_cast<DWORD>(c.width) * 3; pad < c.stride; ++pad) EXPECT_EQ(0, data[54 + pad]);
}

// The case's name: the test's name and its printed parameter.
std::string BmpSizeCaseName(const BmpSizeCase& c) { return std::to_string(c.width) + "x" + std::to_string(c.height); }
void PrintTo(const BmpSizeCase& c, std::ostream* os) { *os << BmpSizeCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Sizes, BmpHeader,
                         ::testing::Values(BmpSizeCase{101, 10, 304}, BmpSizeCase{1, 1, 4}, BmpSizeCase{4, 2, 12},
                                           BmpSizeCase{2, 5, 8}, BmpSizeCase{3, 3, 12}),
                         [](const auto& info) { return BmpSizeCaseName(info.param); });

TEST_F(BmpTest, SavedFileReadsBackThroughAnIndependentReader) {
  CBitmap24 image = CreateBitmap24(37, 11);
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 37 * 3; ++x) image.scanLine(y)[x] = static_cast<BYTE>(x * 7 + y * 31);
  }
  const std::string path = root_ + "/b.bmp";
  ASSERT_TRUE(CBmp().Save(path, image));
  QImageReader reader(QString::fromStdString(path));
  const QImage back = reader.read().convertToFormat(QImage::Format_BGR888);
  EXPECT_EQ(image, back);
}

TEST_F(BmpTest, EightBitFileStaysIndexedAndConvertsToTheSamePicture) {
  QImage indexed(9, 5, QImage::Format_Indexed8);
  QList<QRgb> colours;
  for (int i = 0; i < 256; ++i) colours.push_back(qRgb(i, 255 - i, (i * 3) & 0xFF));
  indexed.setColorTable(colours);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 9; ++x) indexed.setPixel(x, y, static_cast<uint>((x * 29 + y * 7) & 0xFF));
  }
  const std::string path = root_ + "/i8.bmp";
  QImageWriter writer(QString::fromStdString(path), "bmp");
  ASSERT_TRUE(writer.write(indexed));
  ASSERT_EQ(8, Field<WORD>(ReadFile(path), 28));

  CBmp bmp;
  QImage loaded;
  ASSERT_TRUE(bmp.Load(&loaded, path));
  EXPECT_EQ(9, bmp.GetWidth());
  EXPECT_EQ(5, bmp.GetHeight());
  EXPECT_EQ(8, loaded.depth());
  CBitmap24 converted;
  ASSERT_TRUE(CBmp::Convert24Bmp(loaded, &converted));
  EXPECT_TRUE(IsBitmap24(converted));
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 9; ++x) EXPECT_EQ(indexed.pixel(x, y), converted.pixel(x, y));
  }
}

TEST_F(BmpTest, NullArgumentsTouchNoFile) {
  const std::string path = root_ + "/n.bmp";
  EXPECT_FALSE(CBmp().Save(path, QImage()));
  EXPECT_FALSE(CBmp().Save("", CreateBitmap24(2, 2)));
  EXPECT_FALSE(fs::exists(path));
  CBmp bmp;
  EXPECT_FALSE(bmp.Load(nullptr, path));
  QImage out;
  EXPECT_FALSE(bmp.Load(&out, root_ + "/missing.bmp"));
  EXPECT_FALSE(CBmp::Convert24Bmp(QImage(), &out));
  EXPECT_TRUE(out.isNull());
  EXPECT_TRUE(CBmp::CreateDIB24(0, 5).isNull());
}

TEST_F(BmpTest, FailedSaveKeepsTheExistingFile) {
  const std::string path = root_ + "/keep.bmp";
  fotavi_test::WriteFile(path, "previous");
  EXPECT_FALSE(CBmp().Save(path, QImage()));
  // A save into a folder that is a file fails before any byte is written.
  EXPECT_FALSE(CBmp().Save(path + "/inner.bmp", CreateBitmap24(2, 2)));
  EXPECT_EQ("previous", ReadFile(path));
}

}  // namespace

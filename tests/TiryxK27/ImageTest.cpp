// The picture held for transfer: the packed DIB of a native transfer, the
// strips of a memory transfer and the BMP file of a file transfer, each
// checked against djpeg's decode of the same JPEG.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "PackedField.h"
#include "DSImage.h"
#include "Dib.h"
#include "TestPictures.h"

using namespace twain_test;

namespace {

constexpr int kTolerance = 2;  // same decoder settings; rounding may differ by a step

struct Size {
  int width;
  int height;
};

class HeldPicture : public ::testing::TestWithParam<Size> {
 protected:
  void SetUp() override {
    jpeg = MakePictureJpeg(GetParam().width, GetParam().height);
    ASSERT_FALSE(jpeg.empty());
    ASSERT_TRUE(DecodeWithDjpeg(jpeg, &oracle));
    image.SetHeldJpeg(reinterpret_cast<const BYTE*>(jpeg.data()), static_cast<DWORD>(jpeg.size()));
  }
  std::string jpeg;
  RgbPicture oracle;
  CDSImage image;
};

}  // namespace

TEST_P(HeldPicture, NativeDibIsAHeaderFollowedByBottomUpBgrRows) {
  bool lowMemory = true;
  ASSERT_TRUE(image.PrepareDib(&lowMemory));
  EXPECT_FALSE(lowMemory);
  const int w = GetParam().width;
  const int h = GetParam().height;
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  auto* dib = static_cast<BYTE*>(image.DetachDib());
  ASSERT_NE(dib, nullptr);
  EXPECT_FALSE(image.HasDib()) << "the block now belongs to the application";
  BITMAPINFOHEADER header;
  std::memcpy(&header, dib, sizeof header);
  EXPECT_EQ(Copied(header.biSize), 40u);
  EXPECT_EQ(Copied(header.biWidth), w);
  EXPECT_EQ(Copied(header.biHeight), h);
  EXPECT_EQ(Copied(header.biPlanes), 1);
  EXPECT_EQ(Copied(header.biBitCount), 24);
  EXPECT_EQ(Copied(header.biCompression), BI_RGB);
  EXPECT_EQ(Copied(header.biSizeImage), stride * h);
  const BYTE* pixels = dib + 40;
  for (int y : {0, 1, h / 2, h - 1}) {
    const BYTE* row = pixels + static_cast<size_t>(h - 1 - y) * stride;
    EXPECT_LE(RowDifference(oracle, y, row, true), kTolerance) << "picture row " << y;
    for (DWORD pad = static_cast<DWORD>(w) * 3; pad < stride; ++pad) EXPECT_EQ(row[pad], 0);
  }
  std::free(dib);
}

TEST_P(HeldPicture, MemoryStripsComeTopRowFirstInRgb) {
  ASSERT_TRUE(image.PrepareDib(nullptr));
  const int w = GetParam().width;
  const int h = GetParam().height;
  const DWORD stride = image.DibStride();
  ASSERT_EQ(stride, (static_cast<DWORD>(w) * 3 + 3) & ~3u);
  std::vector<BYTE> buffer(65535);
  const DWORD perStrip = 65535 / stride;
  int y = 0;
  int strips = 0;
  bool last = false;
  while (!last) {
    const DWORD before = image.RowsDelivered();
    EXPECT_EQ(before, static_cast<DWORD>(y));
    DWORD written = 0, rows = 0;
    ASSERT_TRUE(image.CopyStrip(buffer.data(), static_cast<DWORD>(buffer.size()), TWPT_RGB, &written, &rows, &last));
    ++strips;
    ASSERT_EQ(written, rows * stride);
    if (!last) ASSERT_EQ(rows, perStrip);
    for (DWORD r = 0; r < rows; ++r, ++y) {
      ASSERT_LE(RowDifference(oracle, y, buffer.data() + r * stride, false), kTolerance) << "row " << y;
    }
    ASSERT_LE(strips, h) << "the transfer never ends";
  }
  EXPECT_EQ(y, h);
  EXPECT_EQ(strips, static_cast<int>((h + perStrip - 1) / perStrip));
}

TEST_P(HeldPicture, BmpFileHoldsTheDibBehindItsFileHeader) {
  ASSERT_TRUE(image.PrepareDib(nullptr));
  const std::string dir = TempFolder("bmp");
  const std::string path = dir + "/picture.bmp";
  ASSERT_TRUE(image.WriteBmp(path));
  std::ifstream f(path, std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const int w = GetParam().width;
  const int h = GetParam().height;
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  ASSERT_EQ(file.size(), 54u + stride * h);
  BITMAPFILEHEADER fh;
  std::memcpy(&fh, file.data(), sizeof fh);
  EXPECT_EQ(Copied(fh.bfType), 0x4D42);
  EXPECT_EQ(Copied(fh.bfSize), file.size());
  EXPECT_EQ(Copied(fh.bfReserved1), 0);
  EXPECT_EQ(Copied(fh.bfReserved2), 0);
  EXPECT_EQ(Copied(fh.bfOffBits), 54u);
  const auto* pixels = reinterpret_cast<const BYTE*>(file.data()) + 54;
  EXPECT_LE(RowDifference(oracle, 0, pixels + static_cast<size_t>(h - 1) * stride, true), kTolerance);
  EXPECT_LE(RowDifference(oracle, h - 1, pixels, true), kTolerance);
  // cjpeg reads BMP files on its own terms: it takes the file.
  const std::string cmd = "cjpeg -outfile '" + dir + "/again.jpg' '" + path + "' 2>/dev/null";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  std::filesystem::remove_all(dir);
}

namespace {
// The case's name: the test's name and its printed parameter.
std::string SizeName(const Size& c) { return std::to_string(c.width) + "x" + std::to_string(c.height); }
void PrintTo(const Size& c, std::ostream* os) { *os << SizeName(c); }
}  // namespace

INSTANTIATE_TEST_SUITE_P(Sizes, HeldPicture, ::testing::Values(Size{1024, 768}, Size{1600, 1200}, Size{1023, 767}),
                         [](const auto& info) { return SizeName(info.param); });

TEST(DSImage, StripsOf65535BytesAt1600WideAre13RowsAndThe93rdEndsAtRow1196) {
  CDSImage image;
  const std::string jpeg = MakePictureJpeg(1600, 1200, 80);
  image.SetHeldJpeg(reinterpret_cast<const BYTE*>(jpeg.data()), static_cast<DWORD>(jpeg.size()));
  ASSERT_TRUE(image.PrepareDib(nullptr));
  std::vector<BYTE> buffer(65535);
  bool last = false;
  int strip = 0;
  DWORD offset = 0;
  while (!last && strip < 200) {
    offset = image.RowsDelivered();
    DWORD written = 0, rows = 0;
    ASSERT_TRUE(image.CopyStrip(buffer.data(), 65535, TWPT_RGB, &written, &rows, &last));
    ++strip;
    if (!last) {
      ASSERT_EQ(rows, 13u);
      ASSERT_EQ(written, 13u * 4800u);
    }
  }
  EXPECT_EQ(strip, 93);
  EXPECT_EQ(offset, 1196u);
}

TEST(DSImage, ABufferShorterThanARowTakesNoRows) {
  CDSImage image;
  const std::string jpeg = MakePictureJpeg(64, 8);
  image.SetHeldJpeg(reinterpret_cast<const BYTE*>(jpeg.data()), static_cast<DWORD>(jpeg.size()));
  ASSERT_TRUE(image.PrepareDib(nullptr));
  BYTE small[100];
  DWORD written = 1, rows = 1;
  bool last = true;
  ASSERT_TRUE(image.CopyStrip(small, sizeof small, TWPT_RGB, &written, &rows, &last));
  EXPECT_EQ(rows, 0u);
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(last);
}

TEST(DSImage, NothingToTransferWithoutADecodablePicture) {
  CDSImage image;
  bool lowMemory = true;
  EXPECT_FALSE(image.PrepareDib(&lowMemory));
  EXPECT_FALSE(lowMemory);
  const std::string broken = MakePictureJpeg(64, 64).substr(0, 300);
  image.SetHeldJpeg(reinterpret_cast<const BYTE*>(broken.data()), static_cast<DWORD>(broken.size()));
  EXPECT_FALSE(image.PrepareDib(&lowMemory));
  BYTE buffer[1024];
  DWORD written = 0, rows = 0;
  bool last = false;
  EXPECT_FALSE(image.CopyStrip(buffer, sizeof buffer, TWPT_RGB, &written, &rows, &last));
  EXPECT_FALSE(image.WriteBmp("/nonexistent-folder/x.bmp"));
}

TEST(DSImage, AWriteThatCannotBeMadeFails) {
  CDSImage image;
  const std::string jpeg = MakePictureJpeg(32, 32);
  image.SetHeldJpeg(reinterpret_cast<const BYTE*>(jpeg.data()), static_cast<DWORD>(jpeg.size()));
  ASSERT_TRUE(image.PrepareDib(nullptr));
  EXPECT_FALSE(image.WriteBmp("/nonexistent-folder/x.bmp"));
  EXPECT_FALSE(image.WriteBmp(""));
}

TEST(DSImage, FrameHeaderSizes) {
  const std::string jpeg = MakePictureJpeg(1023, 767);
  int w = 0, h = 0;
  ASSERT_TRUE(CDSImage::JpegSize(reinterpret_cast<const BYTE*>(jpeg.data()), static_cast<DWORD>(jpeg.size()), &w, &h));
  EXPECT_EQ(w, 1023);
  EXPECT_EQ(h, 767);
  const BYTE notJpeg[] = {'B', 'M', 0, 0, 0, 0};
  EXPECT_FALSE(CDSImage::JpegSize(notJpeg, sizeof notJpeg, &w, &h));
  EXPECT_FALSE(CDSImage::JpegSize(reinterpret_cast<const BYTE*>(jpeg.data()), 20, &w, &h));
  EXPECT_FALSE(CDSImage::JpegSize(nullptr, 0, &w, &h));
}

TEST(DSImage, PreviewDecodeIsReducedByThePreviewWidth) {
  CDSImage image;
  const std::string jpeg = MakePictureJpeg(1024, 768);
  CBitmap24 out;
  ASSERT_TRUE(image.Decode(reinterpret_cast<const BYTE*>(jpeg.data()), static_cast<DWORD>(jpeg.size()), 320, &out));
  EXPECT_EQ(out.width(), 512);  // 1024 / 320 = 3, taken as 1/2
  EXPECT_EQ(out.height(), 384);
  CBitmap24 fitted;
  ASSERT_TRUE(CDSImage::StretchToDib(out, &fitted, 320, 240));
  EXPECT_EQ(fitted.size(), QSize(320, 240));
  EXPECT_FALSE(CDSImage::StretchToDib(out, &fitted, 0, 240));
}

TEST(DSImage, DibBlockSizeByBitCount) {
  EXPECT_EQ(CDSImage::DibBlockSize(24, 4800, 1200), 44u + 4800u * 1200u);
  EXPECT_EQ(CDSImage::DibBlockSize(1, 4, 1), 56u);
  EXPECT_EQ(CDSImage::DibBlockSize(4, 4, 1), 112u);
  EXPECT_EQ(CDSImage::DibBlockSize(8, 4, 1), 1072u);
}

TEST(DSImage, AFullSizeDecodeHeldWithThePictureIsTransferredWithoutDecodingAgain) {
  const std::string jpeg = MakePictureJpeg(64, 48);
  CBitmap24 white = CreateBitmap24(64, 48);
  white.fill(Qt::white);
  CDSImage image;
  image.SetHeldJpeg(reinterpret_cast<const BYTE*>(jpeg.data()), static_cast<DWORD>(jpeg.size()), &white);
  ASSERT_TRUE(image.PrepareDib(nullptr));
  auto* dib = static_cast<BYTE*>(image.DetachDib());
  EXPECT_EQ(dib[40], 255);
  EXPECT_EQ(dib[41], 255);
  std::free(dib);
  // A decode of another size is not the held picture's: it is ignored.
  CBitmap24 small = CreateBitmap24(32, 24);
  small.fill(Qt::white);
  image.SetHeldJpeg(reinterpret_cast<const BYTE*>(jpeg.data()), static_cast<DWORD>(jpeg.size()), &small);
  ASSERT_TRUE(image.PrepareDib(nullptr));
  EXPECT_EQ(image.DibWidth(), 64);
  EXPECT_EQ(image.DibHeight(), 48);
}

namespace {

// Stands in for the outside codec: counts the calls and fails each.
int g_outsideCalls = 0;
BOOL CountingLoadJpegA(const char*, const BYTE*, DWORD, HGLOBAL* bitmap, int, int, DWORD*) {
  ++g_outsideCalls;
  if (bitmap) *bitmap = nullptr;
  return FALSE;
}

std::string ReadFixture(const char* name) {
  std::ifstream in(std::string(FOTAVI_COMMON_TEST_DATA) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// A few hundred bytes whose header claims 60000 x 60000 pixels are refused
// before the outside codec sees them, whatever that codec would allocate;
// a picture of ordinary size still goes to it.
TEST(DSImage, AHeaderClaimingAPictureBeyondTheBoundNeverReachesTheOutsideCodec) {
  const std::string bomb = ReadFixture("decompression-bomb-60000x60000.jpg");
  ASSERT_FALSE(bomb.empty());
  const std::string ordinary = MakePictureJpeg(64, 48);
  CDSImage image;
  image.SetCodec(&CountingLoadJpegA);
  struct Row {
    const std::string* jpeg;
    int width;
    int calls;
  };
  for (const Row& row : {Row{&bomb, 0, 0}, Row{&ordinary, 0, 1}, Row{&ordinary, 32, 1}}) {
    g_outsideCalls = 0;
    CBitmap24 out;
    EXPECT_FALSE(image.Decode(reinterpret_cast<const BYTE*>(row.jpeg->data()), static_cast<DWORD>(row.jpeg->size()),
                              row.width, &out));
    EXPECT_EQ(g_outsideCalls, row.calls) << "size " << row.jpeg->size() << ", width " << row.width;
  }
}

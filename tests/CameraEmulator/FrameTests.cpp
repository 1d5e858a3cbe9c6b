// The picture side of the emulator, tested in-process: frame data must be a
// single baseline scan that decodes behind the library's fixed header.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "EmulatorProcess.h"
#include "JpegFrames.h"
#include "PipeClient.h"

namespace fotavi::test {
namespace {

double Psnr(const Bytes& a, const Bytes& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  double mse = sum / a.size();
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

Bytes WithHeader(const Bytes& frame) {
  Bytes all = BuildJpegHeader();
  all.insert(all.end(), frame.begin(), frame.end());
  return all;
}

TEST(JpegHeader, HasTheSegmentsAtTheirOffsets) {
  Bytes h = BuildJpegHeader();
  ASSERT_EQ(h.size(), 575u);
  struct Segment {
    size_t at;
    uint8_t marker;
    size_t end;  // last byte
  };
  for (Segment s : {Segment{2, 0xDB, 135}, Segment{136, 0xC4, 555}, Segment{556, 0xC0, 574}}) {
    SCOPED_TRACE(s.at);
    EXPECT_EQ(h[s.at], 0xFF);
    EXPECT_EQ(h[s.at + 1], s.marker);
    size_t len = (h[s.at + 2] << 8) | h[s.at + 3];
    EXPECT_EQ(s.at + 2 + len - 1, s.end);
  }
  EXPECT_EQ(h[0], 0xFF);
  EXPECT_EQ(h[1], 0xD8);
}

TEST(FrameData, PatternFrameDecodesBehindTheHeaderCloseToThePicture) {
  Bytes picture = emu::DrawPatternFrame(7);
  std::string error;
  Bytes frame = emu::EncodeFrameData(picture.data(), &error);
  ASSERT_FALSE(frame.empty()) << error;
  int w = 0, h = 0;
  Bytes decoded;
  ASSERT_TRUE(DecodeJpeg(WithHeader(frame), &w, &h, &decoded, &error)) << error;
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);
  // Tables that differ from the ones the data was coded with give a far worse picture.
  EXPECT_GT(Psnr(picture, decoded), 30.0);
}

TEST(FrameData, IsOneScanFromSosToEoiWithoutRestartMarkers) {
  Bytes picture = emu::DrawPatternFrame(3);
  Bytes frame = emu::EncodeFrameData(picture.data());
  ASSERT_GT(frame.size(), 100u);
  ASSERT_EQ(frame[0], 0xFF);
  ASSERT_EQ(frame[1], 0xDA);
  // SOS: 3 components, 1 with tables 0/0, 2 and 3 with tables 1/1, full spectral range.
  const Bytes sos = {0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
  EXPECT_EQ(Bytes(frame.begin() + 2, frame.begin() + 14), sos);
  EXPECT_EQ(frame[frame.size() - 2], 0xFF);
  EXPECT_EQ(frame[frame.size() - 1], 0xD9);
  for (size_t i = 14; i + 2 < frame.size(); ++i) {
    if (frame[i] == 0xFF) {
      ASSERT_EQ(frame[i + 1], 0x00) << "marker inside the scan at " << i;
      ++i;
    }
  }
}

TEST(FrameData, PatternMovesFromFrameToFrame) {
  EXPECT_NE(emu::DrawPatternFrame(1), emu::DrawPatternFrame(2));
}

// A solid-colour picture of another size, written with cjpeg when present.
bool WriteSolidJpeg(const std::string& path, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  std::string ppm = path + ".ppm";
  {
    std::ofstream out(ppm, std::ios::binary);
    out << "P6\n" << w << " " << h << "\n255\n";
    for (int i = 0; i < w * h; ++i) out.put(static_cast<char>(r)).put(static_cast<char>(g)).put(static_cast<char>(b));
  }
  std::string cmd = "cjpeg -quality 95 -outfile '" + path + "' '" + ppm + "' 2>/dev/null";
  bool ok = system(cmd.c_str()) == 0;
  remove(ppm.c_str());
  return ok;
}

TEST(FrameSource, PicturesOfAnySizeAreStretchedToTheFrame) {
  std::string dir = MakeTempDir("fotavi-pictures-");
  if (!WriteSolidJpeg(dir + "/a.jpg", 320, 200, 220, 30, 30)) {
    RemoveTree(dir);
    GTEST_SKIP() << "cjpeg is not installed";
  }
  emu::FrameSource source(dir, 10);
  std::string error;
  ASSERT_TRUE(source.Start(&error)) << error;
  emu::FramePtr frame = source.Next();
  int w = 0, h = 0;
  Bytes bgr;
  ASSERT_TRUE(DecodeJpeg(WithHeader(*frame), &w, &h, &bgr, &error)) << error;
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);
  size_t centre = (384 * 1024 + 512) * 3;
  EXPECT_NEAR(bgr[centre + 2], 220, 8);  // red
  EXPECT_NEAR(bgr[centre + 1], 30, 8);
  EXPECT_NEAR(bgr[centre + 0], 30, 8);
  RemoveTree(dir);
}

TEST(FrameSource, HandsOutTheWholeRingInOrderRightFromTheStart) {
  emu::FrameSource source("", 6);
  std::string error;
  ASSERT_TRUE(source.Start(&error)) << error;
  std::vector<emu::FramePtr> frames;
  for (int i = 0; i < 7; ++i) frames.push_back(source.Next());
  for (int i = 0; i < 6; ++i)
    for (int j = i + 1; j < 6; ++j) EXPECT_NE(*frames[i], *frames[j]) << i << " " << j;
  EXPECT_EQ(frames[6], frames[0]);
}

TEST(FrameSource, FolderWithoutPicturesIsRefused) {
  std::string dir = MakeTempDir("fotavi-pictures-");
  emu::FrameSource source(dir, 10);
  std::string error;
  EXPECT_FALSE(source.Start(&error));
  EXPECT_FALSE(error.empty());
  RemoveTree(dir);
}

}  // namespace
}  // namespace fotavi::test

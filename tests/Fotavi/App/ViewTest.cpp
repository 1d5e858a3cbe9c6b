// Picture holder, zoom steps, caption text and full-screen placement.
#include <gtest/gtest.h>

#include <tuple>

#include "Live/AnimeFrame.h"
#include "App/Document.h"
#include "FakeDevice.h"
#include "Live/FullScreenWnd.h"
#include "App/Resource.h"
#include "App/ViewData.h"

using fotavi::test::MakeJpeg;

class RotationSteps : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(RotationSteps, QuarterTurnsWrapAround) {
  const auto [from, command, expected] = GetParam();
  CViewData holder;
  holder.SetRotation(from);
  holder.SetRotate(command);
  EXPECT_EQ(holder.GetRotate(), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, RotationSteps,
                         ::testing::Values(std::make_tuple(0, ID_ROTATE_90CCW, 3), std::make_tuple(3, ID_ROTATE_180, 1),
                                           std::make_tuple(3, ID_ROTATE_90CW, 0), std::make_tuple(1, ID_ROTATE_180, 3),
                                           std::make_tuple(2, ID_ROTATE_90CCW, 1),
                                           std::make_tuple(0, 12345, 1)),  // any other id turns clockwise
                         [](const auto& info) {
                           return "From" + std::to_string(std::get<0>(info.param)) + "By" +
                                  std::to_string(std::get<1>(info.param));
                         });

TEST(ViewData, ZeroZoomKeepsThePreviousZoom) {
  CViewData holder;
  holder.SetZoom(2.0);
  holder.SetZoom(0.0);
  EXPECT_DOUBLE_EQ(holder.GetZoom(), 2.0);
}

TEST(ViewData, FailedLoadLeavesNoPictureAndTheNextLoadWorks) {
  CViewData holder;
  const std::string good = MakeJpeg(64, 48);
  ASSERT_TRUE(holder.LoadPicture(reinterpret_cast<const BYTE*>(good.data()), DWORD(good.size()), 1));
  EXPECT_TRUE(holder.HasBitmap());
  const std::string junk(300, 'x');
  EXPECT_FALSE(holder.LoadPicture(reinterpret_cast<const BYTE*>(junk.data()), DWORD(junk.size()), 1));
  EXPECT_FALSE(holder.HasBitmap());
  EXPECT_EQ(holder.GetPictureWidth(), 0);
  EXPECT_TRUE(holder.LoadPicture(reinterpret_cast<const BYTE*>(good.data()), DWORD(good.size()), 2));
  EXPECT_EQ(holder.GetPictureWidth(), 32);
  EXPECT_EQ(holder.GetPictureHeight(), 24);
}

TEST(ViewData, ATruncatedFrameIsAFailureNotAPartialPicture) {
  CViewData holder;
  const std::string good = MakeJpeg(64, 48);
  EXPECT_FALSE(holder.LoadPicture(reinterpret_cast<const BYTE*>(good.data()), DWORD(good.size() / 3), 1));
  EXPECT_FALSE(holder.HasBitmap());
}

TEST(ViewData, LoadingAFileStoresPathAndName) {
  const std::string jpeg = MakeJpeg(40, 30);
  const std::string path = "/tmp/fotavi-viewdata-" + std::to_string(getpid()) + ".jpg";
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(jpeg.data(), 1, jpeg.size(), f);
  std::fclose(f);
  CViewData holder;
  ASSERT_TRUE(holder.LoadPicture(path, FALSE));
  EXPECT_EQ(holder.GetPath(), path);
  EXPECT_EQ(holder.GetName(), path.substr(path.rfind('/') + 1));
  EXPECT_EQ(holder.GetPictureWidth(), 40);
  std::remove(path.c_str());
  EXPECT_FALSE(holder.LoadPicture(path, FALSE));
}

TEST(Document, WithoutAHolderReportsTheDefaults) {
  CFotaviDoc doc(nullptr, "CTestDoc");
  EXPECT_DOUBLE_EQ(doc.GetZoom(), 1.0);
  EXPECT_EQ(doc.GetPictureWidth(), 0);
  EXPECT_EQ(doc.GetPictureHeight(), 0);
  EXPECT_EQ(doc.GetSaveKind(), SAVEKIND_JPEG);
  EXPECT_EQ(doc.GetRotate(), 0);
  EXPECT_TRUE(doc.GetName().empty());
  EXPECT_FALSE(doc.LoadPicture("/nonexistent.jpg", FALSE));
  EXPECT_TRUE(doc.CreateViewData());
  EXPECT_NE(doc.GetViewData(), nullptr);
}

TEST(DocTemplate, TheTypeNameIsTheThirdField) {
  CDocTemplate image(IDR_IMAGETYPE, DOCSTRINGS_IMAGE);
  CDocTemplate anime(IDR_ANIMETYPE, DOCSTRINGS_ANIME);
  EXPECT_EQ(image.GetDocString(2), "Image");
  EXPECT_EQ(anime.GetDocString(2), "Anime");
  EXPECT_EQ(anime.GetDocString(1), "Live Monitor");
  EXPECT_EQ(anime.GetDocString(9), "");
  EXPECT_EQ(image.OpenDocument(nullptr), nullptr);  // none registered: nothing opens
}

struct ZoomCase {
  double from;
  double in;
  double out;
};
class ZoomSteps : public ::testing::TestWithParam<ZoomCase> {};
TEST_P(ZoomSteps, InAndOutStayWithinTheSteps) {
  EXPECT_DOUBLE_EQ(ZoomIn(GetParam().from), GetParam().in);
  EXPECT_DOUBLE_EQ(ZoomOut(GetParam().from), GetParam().out);
}
INSTANTIATE_TEST_SUITE_P(Table, ZoomSteps,
                         ::testing::Values(ZoomCase{16.0, 16.0, 8.0}, ZoomCase{1.0 / 16, 1.0 / 8, 1.0 / 16},
                                           ZoomCase{0.667, 1.0, 0.5}, ZoomCase{1.0, 1.5, 0.667},
                                           ZoomCase{0.6, 1.0, 1.0},  // not a step: both give 1
                                           ZoomCase{2.0, 3.0, 1.5}),
                         [](const auto& info) {
                           return "From" + std::to_string(static_cast<int>(info.param.from * 10000 + 0.5)) +
                                  "PerTenThousand";
                         });

struct CaptionCase {
  int w, h;
  double zoom;
  const char* text;
};
class Caption : public ::testing::TestWithParam<CaptionCase> {};
TEST_P(Caption, PercentKeepsItsDecimals) {
  EXPECT_EQ(FormatLiveCaption(GetParam().w, GetParam().h, GetParam().zoom), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(Table, Caption,
                         ::testing::Values(CaptionCase{512, 384, 0.667, "Live Monitor 512x384 66.7%"},
                                           CaptionCase{512, 384, 1.0 / 16, "Live Monitor 512x384 6.25%"},
                                           CaptionCase{1024, 768, 1.5, "Live Monitor 1024x768 150%"},
                                           CaptionCase{256, 192, 1.0 / 8, "Live Monitor 256x192 12.5%"},
                                           CaptionCase{256, 192, 1.0, "Live Monitor 256x192 100%"},
                                           CaptionCase{512, 384, 16.0, "Live Monitor 512x384 1600%"}),
                         [](const auto& info) {
                           std::string n;
                           for (char c : std::string(info.param.text))
                             n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return n;
                         });

struct FitCase {
  int w, h, W, H;
  QRect expected;
};
class FullScreenFit : public ::testing::TestWithParam<FitCase> {};
TEST_P(FullScreenFit, AspectKeptAndCentred) {
  const FitCase& c = GetParam();
  EXPECT_EQ(CFullScreenWnd::FitRect(c.w, c.h, c.W, c.H), c.expected);
}
INSTANTIATE_TEST_SUITE_P(Table, FullScreenFit,
                         ::testing::Values(FitCase{1024, 768, 1280, 1024, QRect(0, 32, 1280, 960)},
                                           FitCase{2000, 500, 1280, 1024, QRect(0, 352, 1280, 320)},  // wide
                                           FitCase{500, 1000, 1280, 1024, QRect(384, 0, 512, 1024)},  // tall
                                           FitCase{512, 384, 1280, 1024, QRect(0, 32, 1280, 960)}),
                         [](const auto& info) {
                           return std::to_string(info.param.w) + "x" + std::to_string(info.param.h) + "On" +
                                  std::to_string(info.param.W) + "x" + std::to_string(info.param.H);
                         });

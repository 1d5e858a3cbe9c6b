// The playback widgets on an offscreen screen: the slider bar's track,
// thumb, messages and mouse; the video window's painting and timer; and one
// movie played into them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <thread>

#include <QMainWindow>
#include <QMenuBar>

#include "AviFileOperation.h"
#include "FitFrameWindow.h"
#include "MovTestSupport.h"
#include "MovieVideoWindow.h"
#include "Platform/Messages.h"
#include "SliderDialogBar.h"

using namespace movtest;

namespace {

struct SeekLog : IMovieSeekTarget {
  void SeekMovie(int percent, UINT msg) override { seeks.emplace_back(percent, msg); }
  std::vector<std::pair<int, UINT>> seeks;
};

template <class Pred>
bool ProcessUntil(Pred pred, int limitMs = 20000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > limitMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    MSG m;
    while (PeekMessage(&m)) DispatchMessage(&m);
  }
  return true;
}

class SliderBar : public ::testing::Test {
 protected:
  void SetUp() override {
    bar_.resize(220, 24);
    ASSERT_TRUE(bar_.InitSlider());
    bar_.show();
  }
  void SendPosition(int64_t percent) {
    SendMessage(bar_.GetSafeHwnd(), WM_SLIDER_SETPOS, reinterpret_cast<WPARAM>(&percent), 0);
  }
  CSliderDialogBar bar_;
  SeekLog view_;
};

TEST_F(SliderBar, TrackAndThumbTakeTheirPlaces) {
  EXPECT_EQ(bar_.Track()->geometry(), QRect(5, 24 / 2 - 2, 210, 5));
  EXPECT_EQ(bar_.Thumb()->size(), QSize(10, 20));
  const struct {
    int64_t percent;
    int x;
  } cases[] = {{0, 5}, {50, 105}, {100, 205}, {150, 205}, {-10, 5}, {(int64_t{7} << 32) | 25, 55}};
  for (const auto& c : cases) {
    SendPosition(c.percent);
    EXPECT_EQ(bar_.Thumb()->x(), c.x) << c.percent;
    EXPECT_EQ(bar_.Thumb()->y(), 0);
  }
  // A resize keeps the percentage.
  SendPosition(50);
  bar_.resize(420, 24);
  EXPECT_EQ(bar_.Thumb()->x(), 205);
  EXPECT_EQ(bar_.GetPosition(), 50);
}

TEST_F(SliderBar, DraggingSeeksWithPressMovesAndReleaseAndKeepsTheThumbInside) {
  bar_.SetView(&view_);
  QTest::mousePress(&bar_, Qt::LeftButton, {}, QPoint(50, 10));
  EXPECT_TRUE(view_.seeks.empty());  // not enabled yet
  QTest::mouseRelease(&bar_, Qt::LeftButton, {}, QPoint(50, 10));
  SendMessage(bar_.GetSafeHwnd(), WM_SLIDER_ENABLE, 0, 0);
  EXPECT_TRUE(bar_.IsSliderEnabled());
  QTest::mousePress(&bar_, Qt::LeftButton, {}, QPoint(100, 10));
  QTest::mouseMove(&bar_, QPoint(400, 10));
  QTest::mouseMove(&bar_, QPoint(2, 10));
  QTest::mouseRelease(&bar_, Qt::LeftButton, {}, QPoint(2, 10));
  const std::vector<std::pair<int, UINT>> expected = {
      {45, WM_LBUTTONDOWN}, {100, WM_MOUSEMOVE}, {0, WM_MOUSEMOVE}, {0, WM_LBUTTONUP}};
  EXPECT_EQ(view_.seeks, expected);
  EXPECT_EQ(bar_.Thumb()->x(), 5);
  bar_.EnableSlider(false);
  QTest::mousePress(&bar_, Qt::LeftButton, {}, QPoint(100, 10));
  QTest::mouseRelease(&bar_, Qt::LeftButton, {}, QPoint(100, 10));
  EXPECT_EQ(view_.seeks.size(), expected.size());
}

TEST(VideoWindow, PaintsThePictureCentredOnBlackAndRunsThePositionTimer) {
  QWidget view;
  view.resize(640, 480);
  CMovieVideoWindow video(&view);
  view.show();
  auto frame = std::make_shared<CVideoFrame>();
  frame->width = 8;
  frame->height = 6;
  frame->stride = 24;
  frame->bgr.assign(24 * 6, 0);
  for (int i = 0; i < 48; ++i) frame->bgr[i * 3 + 2] = 255;  // red, in blue-green-red order
  video.PlaceVideo(316, 237, 8, 6, true);
  std::thread([&] { video.ShowFrame(frame); }).join();  // from another thread, as the presenter does
  QImage shot;
  ASSERT_TRUE(ProcessUntil([&] {
    shot = video.grab().toImage();
    return shot.pixelColor(320, 240) == QColor(255, 0, 0);
  }));
  EXPECT_EQ(shot.pixelColor(10, 10), QColor(0, 0, 0));
  EXPECT_EQ(shot.pixelColor(314, 240), QColor(0, 0, 0));
  EXPECT_EQ(video.geometry(), view.rect());
  view.resize(800, 600);
  EXPECT_EQ(video.geometry(), view.rect());

  int ticks = 0;
  video.SetPositionTick([&] { ++ticks; });
  video.SetPositionTimer(true);
  ASSERT_TRUE(ProcessUntil([&] { return ticks >= 3; }));
  video.SetPositionTimer(false);
  EXPECT_FALSE(video.IsPositionTimerActive());
  video.PlaceVideo(0, 0, 0, 0, false);
  EXPECT_FALSE(video.isVisible());
}

// A recorded movie played into the widgets: opening enables the bar at 0,
// the first picture shows centred, the position timer moves the thumb, and
// the end rewinds it.
TEST(VideoWindow, AMoviePlaysIntoTheWindowAndTheBar) {
  const std::string dir = MakeFolder("widgets");
  {
    CAviFileOperation avi;
    ASSERT_EQ(avi.Initialize(dir + "m.avi", 10), 0);
    for (int i = 0; i < 10; ++i) {
      CBitmap24 f = CreateBitmap24(64, 48);
      f.fill(QColor(100 + i * 10, 100 + i * 10, 100 + i * 10));
      ASSERT_EQ(avi.AddFrame(f), AVI_ADD_WRITTEN);
    }
    ASSERT_TRUE(avi.Close());
  }
  QWidget view;
  view.resize(320, 240);
  CMovieVideoWindow video(&view);
  CSliderDialogBar bar;
  bar.resize(220, 24);
  ASSERT_TRUE(bar.InitSlider());
  view.show();
  bar.show();
  CMoviePlay player;
  int completes = 0;
  HWND owner = CreateWindowTarget(
      [&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_GRAPHNOTIFY) player.HandleGraphEvent();
        if (msg == WM_MOVIE_COMPLETE) ++completes;
        return 0;
      },
      "View");
  video.SetPositionTick([&] { player.UpdatePosition(); });
  ASSERT_EQ(player.Initialize(owner, bar.GetSafeHwnd(), &video, dir + "m.avi"), MOVIE_S_OK);
  EXPECT_TRUE(bar.IsSliderEnabled());
  EXPECT_EQ(bar.Thumb()->x(), 5);
  EXPECT_EQ(video.VideoRect(), QRect(128, 96, 64, 48));
  ASSERT_TRUE(ProcessUntil([&] { return video.grab().toImage().pixelColor(160, 120).red() == 100; }));
  player.Play();
  ASSERT_TRUE(ProcessUntil([&] { return bar.Thumb()->x() > 5; }));
  ASSERT_TRUE(ProcessUntil([&] { return completes == 1; }));
  EXPECT_EQ(bar.Thumb()->x(), 5);
  player.Uninitialize();
  DestroyWindow(owner);
}

TEST(FitFrame, TheViewGetsThePictureAndItsEdgesWhateverTheFrameHolds) {
  QMainWindow frame;
  frame.menuBar()->addMenu("&File");
  frame.menuBar()->addMenu("&Play");
  auto* view = new QWidget;
  frame.setCentralWidget(view);
  frame.resize(200, 150);
  frame.show();
  const struct {
    int w, h;
  } sizes[] = {{320, 240}, {512, 384}, {256, 192}};
  for (const auto& s : sizes) {
    FitFrameWindow(&frame, view, s.w, s.h, s.w == 512);
    QApplication::processEvents();
    EXPECT_EQ(view->size(), QSize(s.w + 4, s.h + 4)) << s.w;
  }
  EXPECT_EQ(frame.pos(), QPoint(0, 0));
}

}  // namespace

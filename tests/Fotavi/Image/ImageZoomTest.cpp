// Zoom, caption, scroll bars and rotation of the still-image windows.
#include <QScrollBar>
#include <QTest>

#include "Live/FullScreenWnd.h"
#include "ImageTestSupport.h"
#include "Platform/Messages.h"
#include "App/Resource.h"

using namespace fotavi::image_test;

// ------------------------------------------------------------ zoom steps

struct StepCase {
  double from;
  double zoomIn;
  double zoomOut;
};

class ZoomStepsMoveToNeighbour : public ::testing::TestWithParam<StepCase> {};

TEST_P(ZoomStepsMoveToNeighbour, InAndOut) {
  const StepCase c = GetParam();
  EXPECT_DOUBLE_EQ(CImageFrame::NextZoomIn(c.from), c.zoomIn);
  EXPECT_DOUBLE_EQ(CImageFrame::NextZoomOut(c.from), c.zoomOut);
}

// The case's name: the test's name and its printed parameter.
std::string StepCaseName(const StepCase& c) {
  return "From" + std::to_string(static_cast<int>(c.from * 10000 + 0.5)) + "PerTenThousand";
}
void PrintTo(const StepCase& c, std::ostream* os) { *os << StepCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Steps, ZoomStepsMoveToNeighbour,
                         ::testing::Values(StepCase{1, 1.5, 0.667},          // on a step
                                           StepCase{0.8, 1, 0.667},          // after Best Fit, between steps
                                           StepCase{0.667, 1, 0.5},          //
                                           StepCase{16, 16, 8},              // upper limit stays
                                           StepCase{8, 16, 4},               //
                                           StepCase{10, 16, 8},              //
                                           StepCase{0.0625, 0.125, 0.0625},  // lower limit stays
                                           StepCase{0.125, 0.25, 0.0625},    //
                                           StepCase{0.1, 0.125, 0.0625}),    //
                         [](const auto& info) { return StepCaseName(info.param); });

TEST(ZoomCommands, ZoomInFromBestFitGoesToTheNextStepAndRetitles) {
  CImageHost host;
  ImageWindow w(&host, PlainPicture(100, 80, Qt::white), 0.8);
  w.doc->SetName("board.jpg");
  ASSERT_TRUE(w.frame->OnCmdMsg(ID_VIEW_ZOOMIN));
  EXPECT_DOUBLE_EQ(w.view->GetZoom(), 1.0);
  EXPECT_EQ(w.frame->windowTitle().toStdString(), "board.jpg 100%");
  ASSERT_TRUE(w.frame->OnCmdMsg(ID_VIEW_ZOOMOUT));
  ASSERT_TRUE(w.frame->OnCmdMsg(ID_VIEW_ZOOMOUT));
  EXPECT_DOUBLE_EQ(w.view->GetZoom(), 0.5);
  EXPECT_EQ(w.frame->windowTitle().toStdString(), "board.jpg 50%");
  ASSERT_TRUE(w.frame->OnCmdMsg(ID_VIEW_ACTUALSIZE));
  EXPECT_DOUBLE_EQ(w.view->GetZoom(), 1.0);
}

// ------------------------------------------------------------ caption

struct CaptionCase {
  double zoom;
  const char* text;
};

class CaptionZoomText : public ::testing::TestWithParam<CaptionCase> {};

TEST_P(CaptionZoomText, Formats) { EXPECT_EQ(CImageFrame::FormatZoom(GetParam().zoom), GetParam().text); }

// The case's name: the test's name and its printed parameter.
std::string CaptionCaseName(const CaptionCase& c) {
  std::string n;
  for (char c : std::string(c.text)) n += isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return n;
}
void PrintTo(const CaptionCase& c, std::ostream* os) { *os << CaptionCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Zooms, CaptionZoomText,
                         ::testing::Values(CaptionCase{1, "100%"}, CaptionCase{0.667, "66.7%"},
                                           CaptionCase{0.0625, "6.25%"}, CaptionCase{1.5, "150%"},
                                           CaptionCase{0.125, "12.5%"}, CaptionCase{16, "1600%"},
                                           CaptionCase{0.8, "80%"},
                                           // Best Fit zooms whose product with 10000 falls just short.
                                           CaptionCase{0.57, "57%"}, CaptionCase{1.13, "113%"},
                                           CaptionCase{0.29, "29%"}),
                         [](const auto& info) { return CaptionCaseName(info.param); });

TEST(Caption, ThirdCaptureIsUntitled3) {
  CImageHost host;
  host.SetUntitledCount(3);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  SendMessage(w.frame->GetSafeHwnd(), WM_UPDATE_TITLE, 0, 0);
  EXPECT_EQ(w.frame->windowTitle().toStdString(), "Untitled-3 100%");
  EXPECT_EQ(w.doc->GetTitle(), "Untitled-3");
  // The name sticks: a later capture does not rename this window.
  host.SetUntitledCount(4);
  SendMessage(w.frame->GetSafeHwnd(), WM_UPDATE_TITLE, 0, 0);
  EXPECT_EQ(w.frame->windowTitle().toStdString(), "Untitled-3 100%");
}

// ------------------------------------------------------------ best fit

struct FitCase {
  QSize available;
  QSize picture;
  double zoom;
};

class BestFitArithmetic : public ::testing::TestWithParam<FitCase> {};

TEST_P(BestFitArithmetic, WholePercentOfTheTighterAxis) {
  EXPECT_DOUBLE_EQ(CImageView::BestFitZoom(GetParam().available, GetParam().picture), GetParam().zoom);
}

// The case's name: the test's name and its printed parameter.
std::string FitCaseName(const FitCase& c) {
  return std::to_string(c.picture.width()) + "x" + std::to_string(c.picture.height()) + "In" +
         std::to_string(c.available.width()) + "x" + std::to_string(c.available.height());
}
void PrintTo(const FitCase& c, std::ostream* os) { *os << FitCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Cases, BestFitArithmetic,
                         ::testing::Values(FitCase{{800, 600}, {1600, 1200}, 0.5},
                                           FitCase{{800, 600}, {10, 10}, 16},         // tiny picture: at most 16
                                           FitCase{{800, 600}, {1000, 600}, 0.8},     // width decides
                                           FitCase{{800, 600}, {300, 900}, 0.66},     // truncated to whole percent
                                           FitCase{{100, 100}, {5000, 100}, 0.0625},  // at least 1/16
                                           FitCase{{800, 600}, {0, 600}, 0},          // no picture
                                           // Whole percents that floating-point division misses by a hair.
                                           FitCase{{290, 600}, {1000, 600}, 0.29},
                                           FitCase{{570, 600}, {1000, 600}, 0.57}),
                         [](const auto& info) { return FitCaseName(info.param); });

TEST(BestFit, UsesTheAreaWithoutScrollBars) {
  CImageHost host;
  // Zoom 1 shows both scroll bars; Best Fit counts their room as free.
  ImageWindow w(&host, PlainPicture(800, 600, Qt::white), 1.0, QSize(400, 300));
  ASSERT_TRUE(w.view->horizontalScrollBar()->isVisible());
  w.frame->OnCmdMsg(ID_VIEW_BESTFIT);
  EXPECT_DOUBLE_EQ(w.view->GetZoom(), 0.5);
  EXPECT_FALSE(w.view->horizontalScrollBar()->isVisible());
  EXPECT_FALSE(w.view->verticalScrollBar()->isVisible());
}

// ------------------------------------------------------------ zoom to selection

struct AreaCase {
  const char* name;
  QSize client;
  QSize picture;
  double zoom;
  QPoint scroll;
  QRect selection;
  bool zooms;
  double newZoom;
  QPoint newScroll;
};

class AreaZoomArithmetic : public ::testing::TestWithParam<AreaCase> {};

TEST_P(AreaZoomArithmetic, Computes) {
  const AreaCase c = GetParam();
  CImageView::AreaZoom result;
  ASSERT_EQ(CImageView::ComputeAreaZoom(c.client, c.picture, c.zoom, c.scroll, c.selection, &result), c.zooms);
  if (!c.zooms) return;
  EXPECT_DOUBLE_EQ(result.zoom, c.newZoom);
  EXPECT_EQ(result.scroll, c.newScroll);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AreaZoomArithmetic,
    ::testing::Values(
        AreaCase{"double", {400, 300}, {400, 300}, 1, {0, 0}, {100, 50, 200, 150}, true, 2, {200, 100}},
        // 1/10 of the client width at zoom 4 gives the limit 16, not 40.
        AreaCase{"limit", {400, 300}, {400, 300}, 4, {0, 0}, {0, 0, 40, 30}, true, 16, {0, 0}},
        // Scrolled: the position follows the selection's corner.
        AreaCase{"scrolled", {400, 300}, {800, 600}, 1, {100, 50}, {0, 0, 200, 150}, true, 2, {200, 100}},
        // Clipped to the picture's right and bottom.
        AreaCase{"clipped", {400, 300}, {200, 100}, 1, {0, 0}, {100, 50, 200, 100}, true, 4, {400, 100}},
        // Thin in one direction: nothing, no division by zero.
        AreaCase{"thin", {400, 300}, {400, 300}, 1, {0, 0}, {10, 10, 0, 50}, false, 0, {0, 0}},
        AreaCase{"flat", {400, 300}, {400, 300}, 1, {0, 0}, {10, 10, 50, 0}, false, 0, {0, 0}},
        // Beyond the picture's end.
        AreaCase{"beyond", {400, 300}, {100, 100}, 1, {0, 0}, {150, 10, 50, 50}, false, 0, {0, 0}}),
    [](const ::testing::TestParamInfo<AreaCase>& info) { return std::string(info.param.name); });

TEST(SelectAreaZoom, ZoomsAndDropsTheSelection) {
  CImageHost host;
  host.SetCurrentTool(ID_TOOL_SELECT);
  ImageWindow w(&host, PatternPicture(200, 160), 1.0, QSize(200, 160));
  QTest::mousePress(w.view->viewport(), Qt::LeftButton, {}, QPoint(50, 40));
  QTest::mouseMove(w.view->viewport(), QPoint(150, 120));
  QTest::mouseRelease(w.view->viewport(), Qt::LeftButton, {}, QPoint(150, 120));
  ASSERT_TRUE(w.view->HasSelection());
  EXPECT_EQ(w.view->GetSelection(), QRect(50, 40, 100, 80));
  CCmdUI ui;
  ui.id = ID_VIEW_ZOOMSELECT;
  ASSERT_TRUE(w.frame->OnUpdateCmdUI(&ui));
  EXPECT_TRUE(ui.enabled);

  w.frame->OnCmdMsg(ID_VIEW_ZOOMSELECT);
  EXPECT_DOUBLE_EQ(w.view->GetZoom(), 2.0);
  EXPECT_FALSE(w.view->HasSelection());
  // The selection's top-left picture pixel is now at the client's top left.
  EXPECT_EQ(w.view->ClientToPicture(QPoint(0, 0)), QPoint(50, 40));
  ui = CCmdUI();
  ui.id = ID_VIEW_ZOOMSELECT;
  w.frame->OnUpdateCmdUI(&ui);
  EXPECT_FALSE(ui.enabled);
}

// ------------------------------------------------------------ new pictures

struct LoadZoomCase {
  QSize available;
  QSize picture;
  double zoom;
};

class LoadZoomChoice : public ::testing::TestWithParam<LoadZoomCase> {};

TEST_P(LoadZoomChoice, FirstThatFits) {
  const QSize decoration(8, 28);
  EXPECT_DOUBLE_EQ(CImageView::ChooseLoadZoom(GetParam().available, decoration, GetParam().picture), GetParam().zoom);
}

// The case's name: the test's name and its printed parameter.
std::string LoadZoomCaseName(const LoadZoomCase& c) {
  return std::to_string(c.picture.width()) + "x" + std::to_string(c.picture.height()) + "In" +
         std::to_string(c.available.width()) + "x" + std::to_string(c.available.height());
}
void PrintTo(const LoadZoomCase& c, std::ostream* os) { *os << LoadZoomCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Cases, LoadZoomChoice,
                         ::testing::Values(LoadZoomCase{{1100, 900}, {1024, 768}, 1.0},
                                           LoadZoomCase{{1051, 900}, {1024, 768}, 0.5},  // width needs 8+1024+20
                                           LoadZoomCase{{1052, 900}, {1024, 768}, 1.0},  // exactly wide enough
                                           LoadZoomCase{{1100, 816}, {1024, 768}, 0.5},  // height must be below
                                           LoadZoomCase{{400, 300}, {1024, 768}, 0.25},
                                           LoadZoomCase{{200, 150}, {1024, 768}, 0.0}),  // none fits
                         [](const auto& info) { return LoadZoomCaseName(info.param); });

// ------------------------------------------------------------ scroll bars

TEST(ScrollBars, PictureExactlyAsWideAsTheClientShowsNoBar) {
  CImageHost host;
  ImageWindow w(&host, PlainPicture(200, 100, Qt::white), 1.0, QSize(200, 160));
  EXPECT_FALSE(w.view->horizontalScrollBar()->isVisible());
  EXPECT_EQ(w.view->GetClientSize().width(), 200);
  w.view->SetZoom(2.0);
  EXPECT_TRUE(w.view->horizontalScrollBar()->isVisible());
  EXPECT_EQ(w.view->horizontalScrollBar()->maximum(), 400 - w.view->GetClientSize().width());
}

TEST(ScrollBars, ScrollingMovesTheDisplayedPicture) {
  CImageHost host;
  ImageWindow w(&host, PatternPicture(400, 300), 1.0, QSize(200, 160));
  w.view->horizontalScrollBar()->setValue(30);
  w.view->verticalScrollBar()->setValue(20);
  EXPECT_EQ(w.doc->GetScrollPos(SCROLL_HORZ), 30);
  EXPECT_EQ(w.doc->GetScrollPos(SCROLL_VERT), 20);
  EXPECT_EQ(w.view->GetDisplayBuffer().pixel(0, 0), w.view->GetPictureLayer().pixel(30, 20));
}

// ------------------------------------------------------------ rotation

TEST(Rotation, QuarterTurnMovesEveryPixel) {
  CImageHost host;
  const CBitmap24 picture = PatternPicture(5, 3);
  ImageWindow w(&host, picture, 1.0);
  w.frame->OnCmdMsg(ID_ROTATE_90CW);
  const QImage& turned = w.view->GetPictureLayer();
  ASSERT_EQ(turned.size(), QSize(3, 5));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      ASSERT_EQ(QColor(turned.pixel(2 - y, x)), picture.pixelColor(x, y)) << x << "," << y;
  EXPECT_EQ(w.doc->GetRotate(), 1);
  EXPECT_TRUE(w.doc->IsModified());
  EXPECT_EQ(w.view->GetComposedBitmap().size(), QSize(3, 5));
}

struct TurnCase {
  const char* name;
  std::vector<int> commands;
};

class RotationRoundTrip : public ::testing::TestWithParam<TurnCase> {};

TEST_P(RotationRoundTrip, LeavesPictureAndDrawingUnturned) {
  CImageHost host;
  host.SetCurrentTool(ID_DRAW_LINE);
  host.SetPenColor(0x0000FF);  // red
  ImageWindow w(&host, PatternPicture(40, 30), 1.0);
  QTest::mousePress(w.view->viewport(), Qt::LeftButton, {}, QPoint(3, 4));
  QTest::mouseMove(w.view->viewport(), QPoint(30, 20));
  QTest::mouseRelease(w.view->viewport(), Qt::LeftButton, {}, QPoint(30, 20));
  ASSERT_GT(CountDrawn(w.view), 0);
  const QImage picture = w.view->GetPictureLayer();
  const QImage drawing = w.view->GetDrawingLayer();
  const QImage composed = w.view->GetComposedLayer();

  for (size_t i = 0; i < GetParam().commands.size(); ++i) {
    w.frame->OnCmdMsg(GetParam().commands[i]);
    if (i + 1 < GetParam().commands.size()) {
      EXPECT_NE(w.view->GetComposedLayer(), composed);
    }
  }
  EXPECT_EQ(w.doc->GetRotate(), 0);
  EXPECT_EQ(w.view->GetShownRotation(), 0);
  EXPECT_EQ(w.view->GetPictureLayer(), picture);
  EXPECT_EQ(w.view->GetDrawingLayer(), drawing);
  EXPECT_EQ(w.view->GetComposedLayer(), composed);
}

INSTANTIATE_TEST_SUITE_P(
    Turns, RotationRoundTrip,
    ::testing::Values(TurnCase{"FourClockwise", {ID_ROTATE_90CW, ID_ROTATE_90CW, ID_ROTATE_90CW, ID_ROTATE_90CW}},
                      TurnCase{"ThreeClockwiseOneHalf", {ID_ROTATE_90CW, ID_ROTATE_90CW, ID_ROTATE_90CW, ID_ROTATE_180, ID_ROTATE_90CCW}},
                      TurnCase{"TwoHalfTurns", {ID_ROTATE_180, ID_ROTATE_180}},
                      TurnCase{"CounterThenHalfThenCounter", {ID_ROTATE_90CCW, ID_ROTATE_180, ID_ROTATE_90CCW}}),
    [](const ::testing::TestParamInfo<TurnCase>& info) { return std::string(info.param.name); });

TEST(Composition, EmptyDrawingShowsThePictureAlone) {
  CImageHost host;
  ImageWindow w(&host, PatternPicture(40, 30), 1.0);
  EXPECT_EQ(CountDrawn(w.view), 0);
  EXPECT_EQ(w.view->GetComposedLayer(), w.view->GetPictureLayer());
  EXPECT_EQ(w.view->GetComposedBitmap(), PatternPicture(40, 30));
}

// ------------------------------------------------------------ frame commands

TEST(FrameUpdateRules, SaveOnlyWhileModified) {
  CImageHost host;
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  CCmdUI ui;
  ui.id = ID_FILE_SAVEFILE;
  ASSERT_TRUE(w.frame->OnUpdateCmdUI(&ui));
  EXPECT_FALSE(ui.enabled);
  w.doc->SetModifiedFlag(true);
  ui = CCmdUI();
  ui.id = ID_FILE_SAVEFILE;
  w.frame->OnUpdateCmdUI(&ui);
  EXPECT_TRUE(ui.enabled);
  ui = CCmdUI();
  ui.id = ID_LIVE_START;  // not the frame's
  EXPECT_FALSE(w.frame->OnUpdateCmdUI(&ui));
}

TEST(FrameToolChoice, ReleasesThePaletteOnlyWhenTheToolChanges) {
  RecordingHost host;
  host.SetCurrentTool(ID_DRAW_FREELINE);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  w.frame->OnCmdMsg(ID_TOOL_SELECT);
  EXPECT_EQ(host.GetCurrentTool(), ID_TOOL_SELECT);
  EXPECT_EQ(host.unchecks, 1);
  w.frame->OnCmdMsg(ID_TOOL_SELECT);
  EXPECT_EQ(host.unchecks, 1);
  CCmdUI ui;
  ui.id = ID_TOOL_SELECT;
  w.frame->OnUpdateCmdUI(&ui);
  EXPECT_TRUE(ui.checked);
}

TEST(FrameCloseRequest, ClosesWithoutAsking) {
  UiScope scope;
  CImageHost host;
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  w.doc->SetModifiedFlag(true);
  PostMessage(w.frame->GetSafeHwnd(), WM_IMAGE_CLOSEREQ, 0, 0);
  PumpEvents(30);
  EXPECT_TRUE(w.alive.isNull());
  EXPECT_TRUE(scope.ui.boxes.empty());
}

// ------------------------------------------------------------ full screen

TEST(FullScreen, ShowsThePictureWithItsDrawingAndEndsOnEscape) {
  CImageHost host;
  host.SetCurrentTool(ID_DRAW_HLINE);
  host.SetPenWidth(7);
  host.SetPenColor(0xFF0000);  // blue
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  QTest::mousePress(w.view->viewport(), Qt::LeftButton, {}, QPoint(1, 15));
  QTest::mouseRelease(w.view->viewport(), Qt::LeftButton, {}, QPoint(39, 15));
  ASSERT_TRUE(w.frame->OnCmdMsg(ID_VIEW_FULLSCREEN));
  CFullScreenWnd* full = w.view->GetFullScreenWnd();
  ASSERT_NE(full, nullptr);
  const QImage& shown = full->GetMemoryImage();
  ASSERT_FALSE(shown.isNull());
  // The picture fills the screen's width; its middle row is the blue line.
  EXPECT_EQ(QColor(shown.pixel(shown.width() / 2, shown.height() / 2)), QColor(Qt::blue));
  const QRect fit = CFullScreenWnd::FitRect(40, 30, shown.width(), shown.height());
  EXPECT_EQ(QColor(shown.pixel(shown.width() / 2, fit.top() + 2)), QColor(Qt::white));
  QTest::keyClick(full, Qt::Key_Escape);
  PumpEvents(20);
  EXPECT_EQ(w.view->GetFullScreenWnd(), nullptr);
  EXPECT_EQ(CFullScreenWnd::FindFullScreenWnd(), nullptr);
}

// The drawing tools, the hand and the selection, driven by simulated mouse input.
#include <QFocusEvent>
#include <QScrollBar>
#include <QTest>

#include <vector>

#include "ImageTestSupport.h"
#include "App/Resource.h"

using namespace fotavi::image_test;

namespace {

constexpr COLORREF kRed = 0x0000FF;

QPoint ToClient(QPoint picture, double zoom) {
  return QPoint(static_cast<int>(picture.x() * zoom), static_cast<int>(picture.y() * zoom));
}

void Press(CImageView* view, QPoint client) { QTest::mousePress(view->viewport(), Qt::LeftButton, {}, client); }
void Move(CImageView* view, QPoint client) { QTest::mouseMove(view->viewport(), client); }
void Release(CImageView* view, QPoint client) { QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, client); }

int DrawnInColumn(const CImageView* view, int x) {
  int count = 0;
  for (int y = 0; y < view->GetDrawingLayer().height(); ++y) count += Drawn(view, x, y) ? 1 : 0;
  return count;
}

}  // namespace

// ------------------------------------------------------------ each tool at zoom 1 and 2

struct ToolCase {
  const char* name;
  int tool;
  std::vector<QPoint> path;      // picture points: press, moves..., release
  std::vector<QPoint> drawn;     // picture points that must hold the stroke
  std::vector<QPoint> untouched; // picture points that must stay empty
};

class ToolStroke : public ::testing::TestWithParam<std::tuple<ToolCase, double>> {};

TEST_P(ToolStroke, DrawsWhereTheStrokeGoesAndNowhereElse) {
  const ToolCase c = std::get<0>(GetParam());
  const double zoom = std::get<1>(GetParam());
  CImageHost host;
  host.SetCurrentTool(c.tool);
  host.SetPenColor(kRed);
  host.SetPenWidth(3);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), zoom, QSize(120, 100));
  ASSERT_EQ(w.view->GetClientSize(), QSize(120, 100));

  Press(w.view, ToClient(c.path.front(), zoom));
  for (size_t i = 1; i + 1 < c.path.size(); ++i) Move(w.view, ToClient(c.path[i], zoom));
  Release(w.view, ToClient(c.path.back(), zoom));

  EXPECT_TRUE(w.doc->IsModified());
  for (const QPoint& p : c.drawn) {
    EXPECT_TRUE(Drawn(w.view, p.x(), p.y())) << "no stroke at " << p.x() << "," << p.y();
    EXPECT_EQ(QColor(w.view->GetComposedLayer().pixel(p)), QColor(Qt::red)) << p.x() << "," << p.y();
  }
  for (const QPoint& p : c.untouched) {
    EXPECT_FALSE(Drawn(w.view, p.x(), p.y())) << "stroke at " << p.x() << "," << p.y();
    EXPECT_EQ(QColor(w.view->GetComposedLayer().pixel(p)), QColor(Qt::white)) << p.x() << "," << p.y();
  }
  // The picture layer itself is never drawn on.
  EXPECT_EQ(w.view->GetPictureLayer().pixel(c.drawn.front()), QColor(Qt::white).rgb());
}

INSTANTIATE_TEST_SUITE_P(
    Tools, ToolStroke,
    ::testing::Combine(
        ::testing::Values(
            ToolCase{"FreeLine", ID_DRAW_FREELINE, {{5, 10}, {20, 10}, {20, 25}, {20, 25}},
                     {{12, 10}, {20, 18}}, {{12, 20}, {30, 10}, {5, 25}}},
            // The rubber band through (20,20) is gone once the line ends at (35,15).
            ToolCase{"Line", ID_DRAW_LINE, {{5, 15}, {35, 25}, {35, 15}}, {{20, 15}, {34, 15}}, {{20, 20}, {20, 5}}},
            ToolCase{"Rectangle", ID_DRAW_RECTANGLE, {{5, 5}, {20, 28}, {30, 20}},
                     {{15, 5}, {15, 20}, {5, 12}, {30, 12}}, {{15, 12}, {2, 2}, {35, 25}, {20, 26}}},
            ToolCase{"Horizontal", ID_DRAW_HLINE, {{5, 10}, {30, 25}}, {{15, 10}, {29, 10}}, {{30, 25}, {15, 17}}},
            ToolCase{"Vertical", ID_DRAW_VLINE, {{10, 5}, {30, 25}}, {{10, 15}, {10, 24}}, {{30, 25}, {20, 15}}}),
        ::testing::Values(1.0, 2.0)),
    [](const ::testing::TestParamInfo<std::tuple<ToolCase, double>>& info) {
      return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) == 1.0 ? "AtZoom1" : "AtZoom2");
    });

class LineWidth : public ::testing::TestWithParam<std::tuple<int, double>> {};

TEST_P(LineWidth, IsCountedInPicturePixels) {
  const int width = std::get<0>(GetParam());
  const double zoom = std::get<1>(GetParam());
  CImageHost host;
  host.SetCurrentTool(ID_DRAW_HLINE);
  host.SetPenWidth(width);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), zoom, QSize(120, 100));
  Press(w.view, ToClient({5, 15}, zoom));
  Release(w.view, ToClient({30, 15}, zoom));
  EXPECT_EQ(DrawnInColumn(w.view, 15), width);
}

INSTANTIATE_TEST_SUITE_P(Widths, LineWidth, ::testing::Combine(::testing::Values(3, 5, 7), ::testing::Values(1.0, 2.0)),
                         [](const auto& info) {
                           return "Width" + std::to_string(std::get<0>(info.param)) + "Zoom" +
                                  std::to_string(static_cast<int>(std::get<1>(info.param)));
                         });

TEST(LineRubberBand, StaysOutOfTheDrawingUntilRelease) {
  CImageHost host;
  host.SetCurrentTool(ID_DRAW_LINE);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  Press(w.view, QPoint(5, 5));
  Move(w.view, QPoint(30, 5));
  EXPECT_EQ(CountDrawn(w.view), 0);
  EXPECT_EQ(QColor(w.view->GetComposedLayer().pixel(15, 5)), QColor(Qt::black));
  Release(w.view, QPoint(30, 5));
  EXPECT_TRUE(Drawn(w.view, 15, 5));
}

// ------------------------------------------------------------ dotted lines

TEST(DottedLine, AlternatesDotsAndGaps) {
  CImageHost host;
  host.SetCurrentTool(ID_DRAW_HLINE);
  host.SetDotLine(1);
  host.SetPenWidth(3);
  ImageWindow w(&host, PlainPicture(80, 30, Qt::white), 1.0);
  Press(w.view, QPoint(2, 10));
  Release(w.view, QPoint(77, 10));
  int runs = 0, drawn = 0;
  bool previous = false;
  for (int x = 2; x < 77; ++x) {
    const bool on = Drawn(w.view, x, 10);
    drawn += on ? 1 : 0;
    if (on && !previous) ++runs;
    previous = on;
  }
  // Dots and gaps one pen width long: about half the line, in many pieces.
  EXPECT_GE(runs, 10);
  EXPECT_GT(drawn, 75 * 35 / 100);
  EXPECT_LT(drawn, 75 * 65 / 100);
}

TEST(DottedFreeLine, DrawsNothingUntilThePointerHasMovedFarEnough) {
  CImageHost host;
  host.SetCurrentTool(ID_DRAW_FREELINE);
  host.SetDotLine(1);
  host.SetPenWidth(3);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 2.0, QSize(120, 100));
  Press(w.view, QPoint(10, 20));
  // width x zoom = 6 client pixels: steps up to 6 away from the start draw nothing.
  Move(w.view, QPoint(13, 20));
  Move(w.view, QPoint(16, 20));
  EXPECT_EQ(CountDrawn(w.view), 0);
  Move(w.view, QPoint(30, 20));
  EXPECT_GT(CountDrawn(w.view), 0);
  Release(w.view, QPoint(30, 20));
}

TEST(SolidFreeLine, DrawsEveryStep) {
  CImageHost host;
  host.SetCurrentTool(ID_DRAW_FREELINE);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  Press(w.view, QPoint(10, 10));
  Move(w.view, QPoint(14, 10));
  EXPECT_TRUE(Drawn(w.view, 12, 10));
  Release(w.view, QPoint(14, 10));
}

// ------------------------------------------------------------ eraser

namespace {
// A thick horizontal band of drawing over rows 10..16 of the picture.
void DrawBand(ImageWindow& w, CImageHost& host, double zoom) {
  host.SetCurrentTool(ID_DRAW_HLINE);
  host.SetPenWidth(7);
  Press(w.view, ToClient({0, 13}, zoom));
  Release(w.view, ToClient({39, 13}, zoom));
  host.SetCurrentTool(ID_DRAW_ERASER);
}
}  // namespace

TEST(Eraser, ClickErasesASquareRightAndBelowThePointer) {
  CImageHost host;
  host.SetEraserSize(10);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  DrawBand(w, host, 1.0);
  ASSERT_TRUE(Drawn(w.view, 15, 12));
  QTest::mouseClick(w.view->viewport(), Qt::LeftButton, {}, QPoint(10, 8));
  // A 10 x 10 square from (10,8) to (19,17): centre 5 right and below the click.
  for (int x = 0; x < 40; ++x) {
    const bool inside = x >= 10 && x < 20;
    EXPECT_EQ(Drawn(w.view, x, 12), !inside) << x;
  }
  for (int y = 10; y <= 16; ++y) EXPECT_FALSE(Drawn(w.view, 15, y)) << y;
  EXPECT_TRUE(Drawn(w.view, 9, 16));
  EXPECT_TRUE(Drawn(w.view, 20, 16));
}

TEST(Eraser, AtZoom2TheSquareKeepsItsScreenSize) {
  CImageHost host;
  host.SetEraserSize(10);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 2.0, QSize(120, 100));
  DrawBand(w, host, 2.0);
  QTest::mouseClick(w.view->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
  // Centre (25,25) on the screen = picture (12,12); side 10 / 2 = 5, offset 2.
  for (int x = 5; x < 20; ++x) EXPECT_EQ(Drawn(w.view, x, 12), !(x >= 10 && x < 15)) << x;
}

TEST(Eraser, StampIsAtLeastOnePixelAtHighZoom) {
  CImageHost host;
  host.SetEraserSize(6);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  DrawBand(w, host, 1.0);
  w.view->SetZoom(16.0);
  // Picture row 13 shows at client rows 16..31 when scrolled down by 12 rows.
  w.view->SetScrollPosition(0, 12 * 16);
  ASSERT_EQ(w.doc->GetScrollPos(SCROLL_VERT), 12 * 16);
  const int before = CountDrawn(w.view);
  ASSERT_TRUE(Drawn(w.view, 2, 13));
  QTest::mouseClick(w.view->viewport(), Qt::LeftButton, {}, QPoint(37, 17));  // stamp centre (40,20): pixel (2,13)
  EXPECT_EQ(CountDrawn(w.view), before - 1);
  EXPECT_FALSE(Drawn(w.view, 2, 13));
}

TEST(Eraser, DraggingErasesAlongThePath) {
  CImageHost host;
  host.SetEraserSize(6);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  DrawBand(w, host, 1.0);
  Press(w.view, QPoint(2, 10));
  Move(w.view, QPoint(30, 10));
  Release(w.view, QPoint(30, 10));
  // The path runs from (5,13) to (33,13), 6 pixels wide.
  EXPECT_FALSE(Drawn(w.view, 20, 13));
  EXPECT_TRUE(Drawn(w.view, 37, 13));
}

TEST(EraseCommands, AreaInsideTheSelectionAndAll) {
  RecordingHost host;
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  DrawBand(w, host, 1.0);
  host.SetCurrentTool(ID_TOOL_SELECT);
  Press(w.view, QPoint(10, 5));
  Move(w.view, QPoint(20, 25));
  Release(w.view, QPoint(20, 25));
  w.frame->EraseArea();
  EXPECT_FALSE(Drawn(w.view, 15, 13));
  EXPECT_TRUE(Drawn(w.view, 9, 13));
  EXPECT_TRUE(Drawn(w.view, 20, 13));
  EXPECT_TRUE(w.view->HasSelection());
  w.frame->EraseAll();
  EXPECT_EQ(CountDrawn(w.view), 0);
  EXPECT_EQ(w.view->GetComposedLayer(), w.view->GetPictureLayer());
}

TEST(EraseCommands, AreaWithoutSelectionDoesNothing) {
  CImageHost host;
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  DrawBand(w, host, 1.0);
  const int before = CountDrawn(w.view);
  w.frame->EraseArea();
  EXPECT_EQ(CountDrawn(w.view), before);
}

// ------------------------------------------------------------ hand and selection

struct DragCase {
  QPoint start;  // scroll position before the drag
  QPoint press;
  QPoint to;
  QPoint scroll;  // expected; -1 means the maximum
};

class HandDrag : public ::testing::TestWithParam<DragCase> {};

TEST_P(HandDrag, ScrollsByTheTravelWithinTheLimits) {
  CImageHost host;
  ImageWindow w(&host, PatternPicture(400, 300), 1.0, QSize(150, 120));
  const QSize client = w.view->GetClientSize();
  const QPoint max(400 - client.width(), 300 - client.height());
  w.view->SetScrollPosition(GetParam().start.x(), GetParam().start.y());
  Press(w.view, GetParam().press);
  Move(w.view, GetParam().to);
  Release(w.view, GetParam().to);
  const QPoint expected(GetParam().scroll.x() < 0 ? max.x() : GetParam().scroll.x(),
                        GetParam().scroll.y() < 0 ? max.y() : GetParam().scroll.y());
  EXPECT_EQ(QPoint(w.doc->GetScrollPos(SCROLL_HORZ), w.doc->GetScrollPos(SCROLL_VERT)), expected);
  EXPECT_EQ(w.view->horizontalScrollBar()->value(), expected.x());
  EXPECT_EQ(CountDrawn(w.view), 0);
}

INSTANTIATE_TEST_SUITE_P(Drags, HandDrag,
                         ::testing::Values(DragCase{{50, 50}, {60, 60}, {40, 30}, {70, 80}},
                                           DragCase{{50, 50}, {60, 60}, {100, 90}, {10, 20}},
                                           DragCase{{50, 50}, {10, 10}, {120, 100}, {0, 0}},     // stops at 0
                                           DragCase{{200, 150}, {120, 100}, {1, 1}, {-1, -1}}),  // stops at the maximum
                         [](const auto& info) {
                           return "Drag" + std::to_string(info.index) +
                                  (info.param.scroll.x() < 0    ? "ToTheMaximum"
                                   : info.param.scroll.isNull() ? "ToZero"
                                                                : "Within");
                         });

TEST(Selection, TwoPixelsOrLessDisappearsOnRelease) {
  CImageHost host;
  host.SetCurrentTool(ID_TOOL_SELECT);
  ImageWindow w(&host, PlainPicture(100, 80, Qt::white), 1.0);
  Press(w.view, QPoint(20, 20));
  Move(w.view, QPoint(22, 22));
  EXPECT_TRUE(w.view->HasSelection());
  Release(w.view, QPoint(22, 22));
  EXPECT_FALSE(w.view->HasSelection());
  Press(w.view, QPoint(20, 20));
  Release(w.view, QPoint(23, 21));
  EXPECT_TRUE(w.view->HasSelection());
  EXPECT_EQ(w.view->GetSelection(), QRect(20, 20, 3, 1));
}

TEST(Selection, IsKeptInsideOnTheLeftAndTop) {
  CImageHost host;
  host.SetCurrentTool(ID_TOOL_SELECT);
  ImageWindow w(&host, PlainPicture(100, 80, Qt::white), 1.0);
  Press(w.view, QPoint(30, 30));
  Move(w.view, QPoint(-10, -5));
  Release(w.view, QPoint(-10, -5));
  EXPECT_EQ(w.view->GetSelection(), QRect(0, 0, 30, 30));
}

TEST(Selection, DrawingToolDropsIt) {
  CImageHost host;
  host.SetCurrentTool(ID_TOOL_SELECT);
  ImageWindow w(&host, PlainPicture(100, 80, Qt::white), 1.0);
  Press(w.view, QPoint(10, 10));
  Release(w.view, QPoint(50, 50));
  ASSERT_TRUE(w.view->HasSelection());
  host.SetCurrentTool(ID_DRAW_FREELINE);
  QTest::mouseClick(w.view->viewport(), Qt::LeftButton, {}, QPoint(60, 60));
  EXPECT_FALSE(w.view->HasSelection());
}

TEST(MouseMove, WithShiftOrCtrlDoesNothing) {
  CImageHost host;
  host.SetCurrentTool(ID_DRAW_FREELINE);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  Press(w.view, QPoint(5, 5));
  const int atPress = CountDrawn(w.view);
  QMouseEvent move(QEvent::MouseMove, QPointF(30, 5), w.view->viewport()->mapToGlobal(QPointF(30, 5)), Qt::NoButton,
                   Qt::LeftButton, Qt::ShiftModifier);
  QApplication::sendEvent(w.view->viewport(), &move);
  EXPECT_EQ(CountDrawn(w.view), atPress);
  EXPECT_FALSE(Drawn(w.view, 20, 5));
  Release(w.view, QPoint(5, 5));
}

// ------------------------------------------------------------ live monitor and stroke end

TEST(Stroke, SuspendsTheRunningLiveMonitorUntilRelease) {
  RecordingHost host;
  host.liveRunning = true;
  host.SetCurrentTool(ID_DRAW_FREELINE);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  Press(w.view, QPoint(5, 5));
  EXPECT_EQ(host.suspends, 1);
  Move(w.view, QPoint(20, 5));
  EXPECT_EQ(host.resumes, 0);
  Release(w.view, QPoint(20, 5));
  EXPECT_EQ(host.resumes, 1);
}

TEST(Stroke, WithoutRunningLiveMonitorResumesNothing) {
  RecordingHost host;
  host.SetCurrentTool(ID_TOOL_HAND);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  Press(w.view, QPoint(5, 5));
  Release(w.view, QPoint(5, 5));
  EXPECT_EQ(host.suspends, 1);
  EXPECT_EQ(host.resumes, 0);
}

TEST(Stroke, EndsWhenFocusIsLost) {
  RecordingHost host;
  host.liveRunning = true;
  host.SetCurrentTool(ID_DRAW_LINE);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  Press(w.view, QPoint(5, 5));
  Move(w.view, QPoint(30, 5));
  QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
  QApplication::sendEvent(w.view, &out);
  EXPECT_FALSE(w.view->IsStrokeActive());
  EXPECT_EQ(host.resumes, 1);
  // The line ends where the pointer was last seen.
  EXPECT_TRUE(Drawn(w.view, 20, 5));
}

TEST(Stroke, EndsWhenAMoveArrivesWithoutTheButton) {
  RecordingHost host;
  host.liveRunning = true;
  host.SetCurrentTool(ID_DRAW_FREELINE);
  ImageWindow w(&host, PlainPicture(40, 30, Qt::white), 1.0);
  Press(w.view, QPoint(5, 5));
  QMouseEvent move(QEvent::MouseMove, QPointF(30, 5), w.view->viewport()->mapToGlobal(QPointF(30, 5)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w.view->viewport(), &move);
  EXPECT_FALSE(w.view->IsStrokeActive());
  EXPECT_EQ(host.resumes, 1);
}

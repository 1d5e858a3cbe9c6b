// Still pictures behind the main frame's commands: capture, open, palette, save.
#include <QAbstractButton>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <filesystem>

#include "Common/Bmp.h"
#include "Image/DrawToolDlg.h"
#include "Image/ImageFrame.h"
#include "Image/ImageView.h"
#include "App/Resource.h"
#include "TestSupport.h"

using namespace fotavi::test;

namespace {

class ImageApp : public AppFixture {
 protected:
  CImageFrame* ActiveImage() { return qobject_cast<CImageFrame*>(Main()->GetActiveChild()); }
  std::vector<CImageFrame*> ImageFrames() {
    std::vector<CImageFrame*> frames;
    for (QMdiSubWindow* w : Main()->GetMdiArea()->subWindowList())
      if (auto* f = qobject_cast<CImageFrame*>(w)) frames.push_back(f);
    return frames;
  }
};

}  // namespace

TEST_F(ImageApp, StillCapturesOpenNumberedModifiedWindows) {
  ASSERT_TRUE(Start());
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  Pump(30);
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  Pump(30);
  const auto frames = ImageFrames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_TRUE(frames[0]->windowTitle().startsWith("Untitled-1 "));
  EXPECT_TRUE(frames[1]->windowTitle().startsWith("Untitled-2 "));
  EXPECT_TRUE(frames[0]->GetDocument()->IsModified());
  EXPECT_EQ(frames[0]->GetImageView()->GetPictureLayer().size(), QSize(1024, 768));
  // The second window cascades from the first.
  EXPECT_NE(frames[0]->pos(), frames[1]->pos());
  for (CImageFrame* f : frames) f->GetDocument()->SetModifiedFlag(false);
}

TEST_F(ImageApp, FailedCaptureLeavesNoWindow) {
  ASSERT_TRUE(Start());
  device->PushSyncResults({FALSE, FALSE, FALSE});
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  Pump(30);
  EXPECT_TRUE(ImageFrames().empty());
  EXPECT_EQ(Main()->GetUntitledCount(), 0);
}

TEST_F(ImageApp, OpenedFileIsUnmodifiedAndNamedByItsFile) {
  ASSERT_TRUE(Start());
  const std::string path = env->dir() + "/scan.bmp";
  CBitmap24 picture = CreateBitmap24(64, 48);
  picture.fill(Qt::blue);
  ASSERT_TRUE(CBmp().Save(path, picture));
  ASSERT_TRUE(Main()->FileOpen(path));
  Pump(20);
  CImageFrame* frame = ActiveImage();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->windowTitle().toStdString(), "scan.bmp 100%");
  EXPECT_FALSE(frame->GetDocument()->IsModified());
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_FILE_SAVEFILE));
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_FILE_SAVEAS));
  // The client area takes the picture's size at zoom 1.
  EXPECT_EQ(frame->GetImageView()->GetClientSize(), QSize(64, 48));
}

TEST_F(ImageApp, SaveCommandOfACaptureAsksForAName) {
  ASSERT_TRUE(Start());
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  Pump(20);
  ASSERT_NE(ActiveImage(), nullptr);
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_FILE_SAVEFILE));
  ui.chooserAnswer = env->dir() + "/capture.jpg";
  Main()->OnCommand(ID_FILE_SAVEFILE);
  EXPECT_TRUE(std::filesystem::exists(env->dir() + "/capture.jpg"));
  EXPECT_TRUE(ActiveImage()->windowTitle().startsWith("capture.jpg "));
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_FILE_SAVEFILE));
}

TEST_F(ImageApp, PaletteSetsTheMainFramesToolAndClosingItLeavesTheHand) {
  ASSERT_TRUE(Start());
  Main()->OnCommand(ID_TOOL_DRAW);
  auto* palette = qobject_cast<CEditViewTool*>(Main()->GetDrawPalette());
  ASSERT_NE(palette, nullptr);
  EXPECT_TRUE(Main()->IsCommandChecked(ID_TOOL_DRAW));
  QTest::mouseClick(palette->GetButton(IDC_ERASER), Qt::LeftButton);
  EXPECT_EQ(Main()->GetCurrentTool(), ID_DRAW_ERASER);
  QTest::mouseClick(palette->GetEraseForm()->GetChoice(IDC_SIZE_SMALL), Qt::LeftButton);
  EXPECT_EQ(Main()->GetEraserSize(), 6);
  Main()->OnCommand(ID_TOOL_DRAW);
  Pump(20);
  EXPECT_EQ(Main()->GetCurrentTool(), ID_TOOL_HAND);
  EXPECT_FALSE(Main()->IsCommandChecked(ID_TOOL_DRAW));
}

TEST_F(ImageApp, HandToolButtonOfAPictureReleasesThePalette) {
  ASSERT_TRUE(Start());
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  Main()->OnCommand(ID_TOOL_DRAW);
  auto* palette = qobject_cast<CEditViewTool*>(Main()->GetDrawPalette());
  ASSERT_NE(palette, nullptr);
  QTest::mouseClick(palette->GetButton(IDC_LINE), Qt::LeftButton);
  Main()->GetMdiArea()->setActiveSubWindow(ImageFrames().front());
  Main()->OnCommand(ID_TOOL_SELECT);
  EXPECT_EQ(Main()->GetCurrentTool(), ID_TOOL_SELECT);
  EXPECT_FALSE(palette->GetButton(IDC_LINE)->isChecked());
  EXPECT_TRUE(Main()->IsCommandChecked(ID_TOOL_SELECT));
  for (CImageFrame* f : ImageFrames()) f->GetDocument()->SetModifiedFlag(false);
}

TEST_F(ImageApp, PaletteEraseAllClearsTheActivePicturesDrawing) {
  ASSERT_TRUE(Start());
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  Pump(20);
  CImageFrame* frame = ActiveImage();
  ASSERT_NE(frame, nullptr);
  Main()->OnCommand(ID_TOOL_DRAW);
  auto* palette = qobject_cast<CEditViewTool*>(Main()->GetDrawPalette());
  ASSERT_NE(palette, nullptr);
  QTest::mouseClick(palette->GetButton(IDC_HORIZON), Qt::LeftButton);
  CImageView* view = frame->GetImageView();
  QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(100, 10));
  const QPoint onLine = view->ClientToPicture(QPoint(50, 10));
  ASSERT_NE(qAlpha(view->GetDrawingLayer().pixel(onLine)), 0);
  QTest::mouseClick(palette->GetButton(IDC_ERASEALL), Qt::LeftButton);
  EXPECT_EQ(qAlpha(view->GetDrawingLayer().pixel(onLine)), 0);
  EXPECT_TRUE(palette->GetButton(IDC_HORIZON)->isChecked());
  frame->GetDocument()->SetModifiedFlag(false);
}

// "All Close" closes the active window, then the one that became active, until none is left.
class ImageAppAllClose : public ImageApp, public ::testing::WithParamInterface<int> {};

TEST_P(ImageAppAllClose, ClosesEveryPictureWindow) {
  ASSERT_TRUE(Start());
  for (int i = 0; i < GetParam(); ++i) {
    Main()->OnCommand(ID_TOOL_STILLCAPTURE);
    Pump(20);
  }
  ASSERT_EQ(ImageFrames().size(), static_cast<size_t>(GetParam()));
  for (CImageFrame* f : ImageFrames()) f->GetDocument()->SetModifiedFlag(false);
  Main()->OnCommand(ID_FILE_ALLCLOSE);
  Pump(50);
  EXPECT_TRUE(ImageFrames().empty());
  EXPECT_TRUE(ui.Texts().empty());
}
INSTANTIATE_TEST_SUITE_P(Windows, ImageAppAllClose, ::testing::Values(1, 2, 3),
                         [](const auto& info) { return std::to_string(info.param) + "Windows"; });

TEST_F(ImageApp, AllCloseStopsAtAPictureThatIsNotSaved) {
  ASSERT_TRUE(Start());
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  Pump(20);
  CImageFrame* back = ActiveImage();
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  Pump(20);
  ASSERT_EQ(ImageFrames().size(), 2u);
  ASSERT_NE(back, nullptr);
  ASSERT_NE(ActiveImage(), back);
  // The front window closes; the back one keeps its changes: the save
  // question is answered Yes but no name is chosen, so it stays open.
  ActiveImage()->GetDocument()->SetModifiedFlag(false);
  Main()->OnCommand(ID_FILE_ALLCLOSE);
  Pump(50);
  const auto left = ImageFrames();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left.front(), back);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Save changes to the document Untitled-1 before closing?"});
  back->GetDocument()->SetModifiedFlag(false);
}

// An erase after a save is a change like any stroke: the picture asks again
// before it closes, whichever erase button made it.
class ImageAppEraseAfterSave : public ImageApp, public ::testing::WithParamInterface<int> {};

TEST_P(ImageAppEraseAfterSave, MarksThePictureChanged) {
  ASSERT_TRUE(Start());
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  Pump(20);
  CImageFrame* frame = ActiveImage();
  ASSERT_NE(frame, nullptr);
  Main()->OnCommand(ID_TOOL_DRAW);
  auto* palette = qobject_cast<CEditViewTool*>(Main()->GetDrawPalette());
  ASSERT_NE(palette, nullptr);
  QTest::mouseClick(palette->GetButton(IDC_HORIZON), Qt::LeftButton);
  CImageView* view = frame->GetImageView();
  QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(100, 10));
  ui.chooserAnswer = env->dir() + "/board.jpg";
  Main()->OnCommand(ID_FILE_SAVEFILE);
  ASSERT_FALSE(frame->GetDocument()->IsModified());
  if (GetParam() == IDC_ERASEAREA) {
    // A selection over the line, dragged as the user does.
    Main()->OnCommand(ID_TOOL_SELECT);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(5, 2));
    QTest::mouseMove(view->viewport(), QPoint(60, 20));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(60, 20));
  }
  const QPoint onLine = view->ClientToPicture(QPoint(30, 10));
  ASSERT_NE(qAlpha(view->GetDrawingLayer().pixel(onLine)), 0);
  QTest::mouseClick(palette->GetButton(GetParam()), Qt::LeftButton);
  ASSERT_EQ(qAlpha(view->GetDrawingLayer().pixel(onLine)), 0);
  EXPECT_TRUE(frame->GetDocument()->IsModified());
  Main()->UpdateCommandUI();
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_FILE_SAVEFILE));
  ui.texts.clear();
  ui.chooserAnswer.clear();
  // The question comes; its Yes saves to the same file without a chooser.
  EXPECT_TRUE(frame->close());
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Save changes to the document board.jpg before closing?"});
}
INSTANTIATE_TEST_SUITE_P(Buttons, ImageAppEraseAfterSave, ::testing::Values(IDC_ERASEAREA, IDC_ERASEALL),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == IDC_ERASEAREA ? "EraseArea" : "EraseAll");
                         });

// A second erase of what is already clear changes nothing and marks nothing.
TEST_F(ImageApp, EraseAllOfAPictureWithoutDrawingMarksNothing) {
  ASSERT_TRUE(Start());
  const std::string path = env->dir() + "/scan.bmp";
  CBitmap24 picture = CreateBitmap24(64, 48);
  picture.fill(Qt::blue);
  ASSERT_TRUE(CBmp().Save(path, picture));
  ASSERT_TRUE(Main()->FileOpen(path));
  Pump(20);
  CImageFrame* frame = ActiveImage();
  ASSERT_NE(frame, nullptr);
  Main()->OnCommand(ID_TOOL_DRAW);
  auto* palette = qobject_cast<CEditViewTool*>(Main()->GetDrawPalette());
  ASSERT_NE(palette, nullptr);
  QTest::mouseClick(palette->GetButton(IDC_ERASEALL), Qt::LeftButton);
  EXPECT_FALSE(frame->GetDocument()->IsModified());
}

// The palette opens inside the main window's work area, clear of its menu,
// toolbar and caption, with its right edge near the area's.
TEST_F(ImageApp, PaletteOpensInsideTheWorkArea) {
  ASSERT_TRUE(Start());
  Main()->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Main()));
  Main()->OnCommand(ID_TOOL_DRAW);
  auto* palette = qobject_cast<CEditViewTool*>(Main()->GetDrawPalette());
  ASSERT_NE(palette, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(palette));
  QMdiArea* area = Main()->GetMdiArea();
  const QRect work(area->mapToGlobal(QPoint(0, 0)), area->size());
  const QRect shown = palette->frameGeometry();
  EXPECT_TRUE(work.contains(shown)) << "work area " << work.x() << "," << work.y() << " " << work.width() << "x"
                                    << work.height() << ", palette " << shown.x() << "," << shown.y() << " "
                                    << shown.width() << "x" << shown.height();
  EXPECT_EQ(shown.right(), work.right() - 10);
  // Below the caption row of a document window placed at the area's top.
  EXPECT_GT(shown.top(), work.top() + DocumentFrameMetrics().captionHeight);
}

// A card picture bigger than the work area keeps its zoom (1 with the live
// monitor at 100 %) and opens in a window that fits the main frame's work
// area, the picture scrolling inside it.
TEST_F(ImageApp, ACardPictureBiggerThanTheWorkAreaOpensInsideItAtItsZoom) {
  ASSERT_TRUE(Start());
  Main()->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Main()));
  Main()->OnCommand(ID_LIVE_SIZE100);
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_NE(Main()->GetLiveFrame(), nullptr);
  const std::string jpeg = MakeJpeg(1600, 1200);
  ASSERT_TRUE(Main()->FileOpen("ABCD0001.JPG", reinterpret_cast<const BYTE*>(jpeg.data()), DWORD(jpeg.size())));
  Pump(20);
  CImageFrame* frame = ActiveImage();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->windowTitle().toStdString(), "ABCD0001.JPG 100%");
  const QRect work = Main()->GetMdiArea()->viewport()->rect();
  EXPECT_TRUE(work.contains(frame->geometry()))
      << "work area " << work.width() << "x" << work.height() << ", window at " << frame->x() << "," << frame->y()
      << " " << frame->width() << "x" << frame->height();
  CImageView* view = frame->GetImageView();
  EXPECT_TRUE(view->horizontalScrollBar()->isVisible());
  EXPECT_TRUE(view->verticalScrollBar()->isVisible());
  EXPECT_GT(view->horizontalScrollBar()->maximum(), 0);
  EXPECT_GT(view->verticalScrollBar()->maximum(), 0);
  frame->GetDocument()->SetModifiedFlag(false);
}

// A picture bigger than its window scrolls to every pixel at each zoom: with
// both bars at their end the picture's last corner pixel is shown in the
// view's last corner, and at their start its first.
struct ScrollReachCase {
  const char* name;
  int zoomIns;   // zoom-in commands before scrolling
  int zoomOuts;  // zoom-out commands before scrolling
};

class ImageScrollReach : public ImageApp, public ::testing::WithParamInterface<ScrollReachCase> {};

TEST_P(ImageScrollReach, TheBarsReachBothCornersOfThePicture) {
  ASSERT_TRUE(Start());
  Main()->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Main()));
  const std::string path = env->dir() + "/large.bmp";
  CBitmap24 picture = CreateBitmap24(2000, 1500);
  picture.fill(Qt::white);
  {
    QPainter p(&picture);
    p.fillRect(0, 0, 40, 40, Qt::blue);
    p.fillRect(2000 - 40, 1500 - 40, 40, 40, Qt::red);
  }
  ASSERT_TRUE(CBmp().Save(path, picture));
  ASSERT_TRUE(Main()->FileOpen(path));
  Pump(20);
  CImageFrame* frame = ActiveImage();
  ASSERT_NE(frame, nullptr);
  for (int i = 0; i < GetParam().zoomIns; ++i) Main()->OnCommand(ID_VIEW_ZOOMIN);
  for (int i = 0; i < GetParam().zoomOuts; ++i) Main()->OnCommand(ID_VIEW_ZOOMOUT);
  Pump(20);
  CImageView* view = frame->GetImageView();
  QScrollBar* across = view->horizontalScrollBar();
  QScrollBar* down = view->verticalScrollBar();
  ASSERT_TRUE(across->isVisible()) << frame->windowTitle().toStdString() << " " << frame->width() << "x" << frame->height() << " view " << view->GetClientSize().width() << "x" << view->GetClientSize().height();
  ASSERT_TRUE(down->isVisible());
  const auto shownCorner = [&](bool last) {
    Pump(10);
    const QImage shown = view->viewport()->grab().toImage();
    return last ? shown.pixelColor(shown.width() - 1, shown.height() - 1) : shown.pixelColor(0, 0);
  };
  across->triggerAction(QAbstractSlider::SliderToMaximum);
  down->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(shownCorner(true), QColor(Qt::red)) << frame->windowTitle().toStdString();
  across->triggerAction(QAbstractSlider::SliderToMinimum);
  down->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(shownCorner(false), QColor(Qt::blue)) << frame->windowTitle().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Zooms, ImageScrollReach,
                         ::testing::Values(ScrollReachCase{"OneStepIn", 1, 0},
                                           ScrollReachCase{"TwoStepsIn", 2, 0},
                                           ScrollReachCase{"ThreeStepsIn", 3, 0},
                                           ScrollReachCase{"FourStepsInOneOut", 4, 1}),
                         [](const ::testing::TestParamInfo<ScrollReachCase>& info) {
                           return std::string(info.param.name);
                         });

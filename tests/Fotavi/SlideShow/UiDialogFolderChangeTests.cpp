// Both card trees (the slide-show dialog's and the SD viewer's) driven with
// the mouse and the keyboard while the camera answers each picture read
// late: two quick folder changes during a reading, then Escape.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

#include "CardWindowFixture.h"
#include "CardHost.h"
#include "Common/ControlDialog.h"
#include "Platform/GlobalMemory.h"
#include "Platform/UiService.h"
#include "SlideShowDlg.h"
#include "ViewerFrame.h"

namespace fotavi::test {
namespace {

// The hide and show events of a widget, in order.
class ShowHideLog : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Hide) events += "hide ";
    if (event->type() == QEvent::Show) events += "show ";
    return false;
  }
  std::string events;
};

enum class Tool { SlideShow, Viewer };

// The tree and the thumbnails of the window under test.
struct Panes {
  CSDTree* tree = nullptr;
  CThumbnailList* thumbs = nullptr;
};

class FolderChangeThenEscape : public CardWindowFixture<AnsweringUi>, public ::testing::WithParamInterface<Tool> {
 protected:
  void TearDown() override {
    slideShow_.reset();
    viewer_.reset();
    CardWindowFixture::TearDown();
  }
  Panes Open() {
    QWidget* window = nullptr;
    Panes panes;
    if (GetParam() == Tool::SlideShow) {
      slideShow_ = std::make_unique<CSlideShow>();
      panes = {slideShow_->Frame()->GetTree(), slideShow_->Frame()->GetThumbnail()};
      window = slideShow_.get();
    } else {
      viewer_ = std::make_unique<CViewerFrame>();
      panes = {viewer_->GetTreePane(), viewer_->GetThumbnailPane()};
      window = viewer_.get();
    }
    window->show();
    window->activateWindow();
    return panes;
  }
  // A left click on the folder item, as the user selects it.
  static void ClickFolder(CSDTree* tree, int row) {
    QTreeWidgetItem* item = tree->topLevelItem(row);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
  }
  // The card files read (0x8104) from one folder, in order.
  std::vector<std::string> ReadsIn(const std::string& folder) const {
    std::vector<std::string> out;
    const std::string prefix = "C:\\DCIM\\" + folder + "\\";
    for (const std::string& path : PathsIn())
      if (path.rfind(prefix, 0) == 0 && path.size() > 4 && path.substr(path.size() - 4) == ".JPG") out.push_back(path);
    return out;
  }
  bool ReadingShown() const {
    return GetParam() == Tool::SlideShow ? slideShow_->IsProgressShown() : viewer_->IsReadingMode();
  }

  std::unique_ptr<CSlideShow> slideShow_;
  std::unique_ptr<CViewerFrame> viewer_;
};

// The first folder loads; the second is chosen during its second read and
// the third 150 ms later; Escape after two of the third folder's pictures
// stops that folder after the read in flight: three reads, three pictures,
// nothing read twice, the second folder not at all, nothing loads
// afterwards.
TEST_P(FolderChangeThenEscape, StopsTheLastFolderAfterTheReadInFlight) {
  PutPictures("100AAAAA", 8);
  PutPictures("101BBBBB", 8);
  PutPictures("102CCCCC", 8);
  ASSERT_TRUE(Start());
  Command("delay 0x8104 600 always");
  const Panes panes = Open();
  // The first folder's first picture shows, the second one's read is in
  // flight (the dialog's playlist, read meanwhile, is in too).
  ASSERT_TRUE(ServeUntil([&] { return panes.tree->topLevelItemCount() == 3 && panes.thumbs->count() == 1; }));
  ASSERT_TRUE(panes.thumbs->IsLoading());

  // The status bar (or the dialog's progress) leaves the reading mode
  // between the cancelled folder and the next one: its progress bar is
  // hidden and shown again. Escape goes to the thumbnails once two of the
  // third folder's pictures show, from a timer, so it also comes while a
  // click has not returned.
  auto* progress = (GetParam() == Tool::SlideShow ? static_cast<QWidget*>(slideShow_.get()) : viewer_.get())
                       ->findChild<QProgressBar*>();
  ASSERT_NE(progress, nullptr);
  ShowHideLog progressLog;
  progress->installEventFilter(&progressLog);
  bool escaped = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!escaped && panes.thumbs->IsLoading() &&
        panes.thumbs->Loader()->GetFolderCache().find("102CCCCC") != std::string::npos && panes.thumbs->count() == 2) {
      escaped = true;
      QTest::keyClick(panes.thumbs, Qt::Key_Escape);
    }
  });
  watch.start(5);

  QTimer::singleShot(150, panes.tree, [&] { ClickFolder(panes.tree, 2); });
  ClickFolder(panes.tree, 1);
  // The click has returned at once: nothing waited inside it for the
  // cancelled read, let alone for the third folder's reading.
  EXPECT_FALSE(escaped);
  EXPECT_TRUE(panes.thumbs->IsLoading());
  ASSERT_TRUE(ServeUntil([&] { return escaped && !panes.thumbs->IsLoading(); }));
  // Nothing starts again afterwards.
  ServeFor(2500);
  watch.stop();
  EXPECT_FALSE(panes.thumbs->IsLoading());
  EXPECT_FALSE(ReadingShown());
  EXPECT_EQ(panes.thumbs->count(), 3);
  EXPECT_EQ(ReadsIn("100AAAAA").size(), 2u);
  EXPECT_TRUE(ReadsIn("101BBBBB").empty());
  const std::vector<std::string> reads = ReadsIn("102CCCCC");
  EXPECT_EQ(reads, (std::vector<std::string>{"C:\\DCIM\\102CCCCC\\ABCD0001.JPG", "C:\\DCIM\\102CCCCC\\ABCD0002.JPG",
                                             "C:\\DCIM\\102CCCCC\\ABCD0003.JPG"}));
  EXPECT_EQ(CommandsIn("0x8104"), 5u);
  EXPECT_EQ(progressLog.events, "hide show hide ");  // the first folder ends, the third runs and ends
  EXPECT_EQ(panes.tree->currentItem(), panes.tree->topLevelItem(2));
  EXPECT_TRUE(ui_.texts.empty());
  Command("clear");
  slideShow_.reset();
  viewer_.reset();
  CloseCamera();
  EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
}

INSTANTIATE_TEST_SUITE_P(Trees, FolderChangeThenEscape, ::testing::Values(Tool::SlideShow, Tool::Viewer),
                         [](const ::testing::TestParamInfo<Tool>& info) {
                           return std::string(info.param == Tool::SlideShow ? "SlideShow" : "Viewer");
                         });

}  // namespace
}  // namespace fotavi::test

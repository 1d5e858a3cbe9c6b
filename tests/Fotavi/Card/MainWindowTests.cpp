// The SD viewer opened from the program's main window, against the camera
// emulator; the main window closed while the viewer is busy.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>

#include "CardFixture.h"
#include "CardHost.h"
#include "FotaviApp.h"
#include "MainFrm.h"
#include "Platform/GlobalMemory.h"
#include "Platform/UiService.h"
#include "Resource.h"
#include "ViewerFrame.h"

namespace fotavi::test {
namespace {

CViewerFrame* FindViewer() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* viewer = qobject_cast<CViewerFrame*>(w)) return viewer;
  return nullptr;
}

class MainWindowWithViewer : public CardFixture {
 protected:
  void SetUp() override {
    CardFixture::SetUp();
    previous_ = SetUserInterfaceService(&ui_);
    CardHost() = CCardHost{};
  }
  void TearDown() override {
    if (app_) app_->ExitInstance();
    app_.reset();
    CardHost() = CCardHost{};
    SetUserInterfaceService(previous_);
    CardFixture::TearDown();
  }
  // The program on the emulated camera, with the viewer opened from its menu.
  // With `delayMs`, every picture read is answered that late.
  CViewerFrame* StartWithViewer(int delayMs = 0) {
    if (!StartCamera()) return nullptr;
    if (delayMs) Command("delay 0x8104 " + std::to_string(delayMs) + " always");
    app_ = std::make_unique<CFotaviApp>();
    app_->SetDeviceBinding({[this](CDeviceInterface** p) {
                              *p = device_;
                              return TRUE;
                            },
                            [](CDeviceInterface** p) { *p = nullptr; }});
    if (!app_->InitInstance()) return nullptr;
    main_ = app_->GetMainFrame();
    if (!ServeUntil([&] { return main_->IsDeviceOpen() && main_->IsCommandEnabled(ID_TOOL_VIEWER); })) return nullptr;
    main_->GetAction(ID_TOOL_VIEWER)->trigger();
    CViewerFrame* viewer = FindViewer();
    if (!viewer || !ServeUntil([&] { return viewer->GetTreePane()->topLevelItemCount() > 0; })) return nullptr;
    return viewer;
  }
  // The card files read (0x8104) from one folder.
  // After ExpectEverythingHandedBack, from the exchange up to then.
  size_t ReadsIn(const std::string& folder) const {
    size_t n = 0;
    for (const std::string& path : emulator_ ? PathsIn() : exchange_)
      if (path.rfind("C:\\DCIM\\" + folder + "\\", 0) == 0 && path.find(".JPG") != std::string::npos) ++n;
    return n;
  }
  // After the main window has gone: no viewer, the device closed, and once
  // the camera is closed every reply block is back.
  void ExpectEverythingHandedBack() {
    EXPECT_TRUE(ServeUntil([&] { return FindViewer() == nullptr; }));
    EXPECT_FALSE(main_->IsDeviceOpen());
    exchange_ = PathsIn();
    folderLists_ = CommandsIn("0x8102");
    app_->ExitInstance();
    app_.reset();
    CloseCamera();
    EXPECT_EQ(GlobalBlockCount(), blocksAtStart_);
  }

  AnsweringUi ui_;
  IUserInterfaceService* previous_ = nullptr;
  std::unique_ptr<CFotaviApp> app_;
  CMainFrame* main_ = nullptr;
  std::vector<std::string> exchange_;
  size_t folderLists_ = 0;
};

// The main window is closed while the viewer waits for the read in flight
// of a folder it cancelled (another folder was clicked): the read comes
// back and is handed back, the other folder is not loaded, the program
// ends without a crash.
TEST_F(MainWindowWithViewer, ClosedWhileTheViewerWaitsForACancelledRead) {
  PutPictures("100AAAAA", 5);
  PutPictures("101BBBBB", 5);
  CViewerFrame* viewer = StartWithViewer(/*delayMs=*/600);
  ASSERT_NE(viewer, nullptr);
  CViewerTree* tree = viewer->GetTreePane();
  CViewerThumbnail* list = viewer->GetThumbnailPane();
  // Loading: the first picture's read is in flight (the camera logs it only
  // when it answers).
  ASSERT_TRUE(ServeUntil([&] { return list->IsLoading(); }));
  ASSERT_EQ(ReadsIn("100AAAAA"), 0u);
  // The close comes from a timer: it must also come while a click has not
  // returned.
  bool closeAsked = false;
  QTimer::singleShot(0, main_, [&] {
    closeAsked = true;
    main_->close();
  });
  QTreeWidgetItem* second = tree->topLevelItem(1);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(second).center());
  ASSERT_TRUE(ServeUntil([&] { return closeAsked; }));
  ExpectEverythingHandedBack();
  EXPECT_EQ(ReadsIn("100AAAAA"), 1u);
  EXPECT_EQ(ReadsIn("101BBBBB"), 0u);
}

// The main window is closed while the viewer's context menu is open: the
// menu closes, nothing it offers runs, the program ends without a crash.
TEST_F(MainWindowWithViewer, ClosedWhileTheViewersContextMenuIsOpen) {
  PutPictures("100AAAAA", 2);
  CViewerFrame* viewer = StartWithViewer();
  ASSERT_NE(viewer, nullptr);
  CViewerTree* tree = viewer->GetTreePane();
  ASSERT_TRUE(ServeUntil([&] { return !viewer->GetThumbnailPane()->IsLoading(); }));
  viewer->activateWindow();
  const size_t foldersBefore = CommandsIn("0x8102");
  bool menuShown = false;
  bool closeAsked = false;
  QTimer::singleShot(200, main_, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    menuShown = menu && menu->isVisible();
    closeAsked = true;
    main_->close();
  });
  // Through the viewer's window, as the window system delivers a right
  // click (which raises the context menu).
  const QPoint at = tree->viewport()->mapTo(viewer, tree->visualItemRect(tree->topLevelItem(0)).center());
  QTest::mouseClick(viewer->windowHandle(), Qt::RightButton, {}, at);
  ASSERT_TRUE(ServeUntil([&] { return closeAsked; }));
  EXPECT_TRUE(menuShown);
  ExpectEverythingHandedBack();
  EXPECT_EQ(folderLists_, foldersBefore);  // "Refresh" did not run
  EXPECT_TRUE(ui_.texts.empty());
}

}  // namespace
}  // namespace fotavi::test

// The movie program's main window as a user meets it on the emulated
// camera: commands chosen from the shown menus and tool bar, sizes read from
// the shown windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <filesystem>
#include <fstream>

#include "Common/QtUserInterfaceService.h"
#include "FRMDlg.h"
#include "MainFrm.h"
#include "Platform/DeviceInterface.h"
#include "MovProgramFixture.h"
#include "MovResource.h"
#include "MovUiDriver.h"
#include "MoviePlay.h"
#include "MovieVideoWindow.h"
#include "Platform/Settings.h"
#include "RecSettings.h"
#include "SliderDialogBar.h"
#include "../MovTestSupport.h"

using namespace movtest;

namespace {

class ShownFrame : public MovProgramFixture {
 protected:
  bool Start() {
    if (!StartCamera() || !StartApp() || !Main() || !Main()->IsDeviceOpen()) return false;
    return WaitFor([&] { return Main()->isVisible(); }, 5000);
  }
  CFotaviMovView* View() { return Main()->GetView(); }
  QToolBar* ToolBar() { return Main()->findChild<QToolBar*>(QStringLiteral("MainToolBar")); }
  bool Click(UINT id) { return ClickToolButton(ToolBar(), Main()->Action(id)); }
  bool Menu(const QStringList& path) { return ChooseMenu(Main(), path); }
  // Texts shown other than the question before overwriting a file.
  std::vector<std::string> Complaints() {
    std::vector<std::string> out;
    for (const auto& t : ui.Texts()) {
      if (t != "The specified file already exists. May I overwrite?") out.push_back(t);
    }
    return out;
  }
};

// A camera slow to give its first picture: Record, Stop and Record again
// before it comes. The second recording waits for the picture as the first
// did, then records; nothing goes wrong.
TEST_F(ShownFrame, StopBeforeTheFirstPictureLeavesTheNextRecordingWaiting) {
  const std::string output = Dir() + "/slow.avi";
  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, output);
  ASSERT_TRUE(StartCamera());
  ASSERT_TRUE(emulator->Command("delay 0x808E 4000 always"));
  ASSERT_TRUE(StartApp() && Main()->IsDeviceOpen());
  ASSERT_TRUE(WaitFor([&] { return Main()->isVisible(); }, 5000));
  ASSERT_TRUE(Menu({"&Live Monitor", "&Start"}));
  ASSERT_TRUE(View()->IsSemiAnimation());
  Main()->UpdateCommands();
  ASSERT_TRUE(Click(ID_MOV_RECORD));
  ASSERT_TRUE(View()->IsRecording());
  ASSERT_TRUE(Click(ID_MOV_MOVIE_STOP));
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 10000));
  Main()->UpdateCommands();
  ASSERT_TRUE(Click(ID_MOV_RECORD));
  ASSERT_TRUE(View()->IsRecording());
  // The first picture comes 4 s after the live start; frames follow it.
  Pump(1000);
  EXPECT_TRUE(Complaints().empty()) << Complaints().front();
  EXPECT_TRUE(View()->IsRecording());
  ASSERT_TRUE(WaitFor([&] { return View()->PaintedFrames() >= 1 || !View()->IsRecording(); }, 15000));
  Pump(1500);
  EXPECT_TRUE(View()->IsRecording());
  ASSERT_TRUE(Click(ID_MOV_MOVIE_STOP));
  EXPECT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 10000));
  EXPECT_GT(View()->LastFrameCount(), 0u);
  EXPECT_TRUE(Complaints().empty()) << Complaints().front();
}

// The text shown in the status bar's pane.
std::string PaneShown(CMainFrame* frame) {
  for (auto* label : frame->statusBar()->findChildren<QLabel*>()) {
    if (label->isVisible()) return label->text().toStdString();
  }
  return {};
}

// Movie > Open while recording ends the recording and the live picture: the
// status bar says so, the movie open in the view is not being recorded.
TEST_F(ShownFrame, OpeningAMovieWhileRecordingLeavesNoRecordingText) {
  const std::string output = Dir() + "/recorded.avi";
  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, output);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Menu({"&Live Monitor", "&Start"}));
  ASSERT_TRUE(WaitFor([&] { return View()->PaintedFrames() >= 2; }, 20000));
  Main()->UpdateCommands();
  ASSERT_TRUE(Click(ID_MOV_RECORD));
  ASSERT_TRUE(WaitFor([&] { return FileSize(output) > 1000000 && PaneShown(Main()) == "Recording ..."; }, 20000));

  ui.AnswerChooser(output);
  ASSERT_TRUE(Menu({"&Movie", "&Open"}));
  // The movie opens once the recording's file is complete.
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording() && View()->IsMovieOpen(); }, 20000));
  Pump(500);
  EXPECT_EQ(PaneShown(Main()), "Ready");
  EXPECT_FALSE(Main()->IsToolButtonPressed(ID_MOV_RECORD));
  EXPECT_TRUE(Complaints().empty()) << Complaints().front();
}

// The camera pulled as the socket contract removes it (its folder first, its
// sockets half a second later) while the live picture runs, and put back
// 0.1 s after: the window says the camera is gone, then that it is ready,
// and the live picture starts again on the camera put back.
TEST_F(ShownFrame, ACameraPulledFolderFirstAndPutBackIsSeenToGoAndCome) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Menu({"&Live Monitor", "&Start"}));
  ASSERT_TRUE(WaitFor([&] { return View()->PaintedFrames() >= 2; }, 20000));
  ASSERT_TRUE(emulator->Command("unplug folder 500 100"));
  EXPECT_TRUE(WaitFor([&] { return PaneShown(Main()) == "Unable to use the main unit."; }, 5000))
      << PaneShown(Main());
  EXPECT_FALSE(View()->IsSemiAnimation());
  ASSERT_TRUE(WaitFor([&] { return PaneShown(Main()) == "Ready" && Main()->IsCommandEnabled(ID_MOV_LIVE_START); },
                      10000))
      << PaneShown(Main());
  ASSERT_TRUE(Menu({"&Live Monitor", "&Start"}));
  const auto painted = View()->PaintedFrames();
  EXPECT_TRUE(WaitFor([&] { return View()->PaintedFrames() >= painted + 2; }, 20000));
  // The live thread's own failure may race the removal: at most its text.
  for (const auto& text : Complaints()) EXPECT_EQ(text, "Unable to acquire live-monitor image.");
}

// The camera pulled and put back at once while the device watcher is held
// up (as on a loaded machine), so that the removal and the return reach the
// library as one change: the window still ends ready, not greyed, and the
// live picture starts again on the camera put back.
TEST_F(ShownFrame, ACameraPulledAndPutBackWhileTheWatcherIsHeldUpEndsReady) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Menu({"&Live Monitor", "&Start"}));
  ASSERT_TRUE(WaitFor([&] { return View()->PaintedFrames() >= 2; }, 20000));
  HoldDeviceWatcher(true);
  const bool pulled = emulator->Command("unplug folder 0 0");
  const bool back = pulled && WaitFor([&] { return Exists(emulator->DevicePath() + "/control"); }, 10000);
  HoldDeviceWatcher(false);
  ASSERT_TRUE(back);
  ASSERT_TRUE(WaitFor([&] { return PaneShown(Main()) == "Ready" && Main()->IsCommandEnabled(ID_MOV_LIVE_START); },
                      10000))
      << PaneShown(Main());
  ASSERT_TRUE(Menu({"&Live Monitor", "&Start"}));
  const auto painted = View()->PaintedFrames();
  EXPECT_TRUE(WaitFor([&] { return View()->PaintedFrames() >= painted + 2; }, 20000));
  for (const auto& text : Complaints()) EXPECT_EQ(text, "Unable to acquire live-monitor image.");
}

// Every menu of the shown menu bar lies on the bar (none folded away behind
// an extension button) and opens with a click on its title.
void ExpectEveryMenuOpens(QMainWindow* frame) {
  QMenuBar* bar = frame->menuBar();
  ASSERT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->actions().size(), 6);
  for (QAction* title : bar->actions()) {
    QMenu* menu = title->menu();
    ASSERT_NE(menu, nullptr) << title->text().toStdString();
    const QRect place = bar->actionGeometry(title);
    EXPECT_TRUE(bar->rect().contains(place))
        << title->text().toStdString() << " lies outside a bar " << bar->width() << " wide";
    QTest::mouseClick(bar, Qt::LeftButton, {}, place.center());
    EXPECT_TRUE(WaitFor([&] { return menu->isVisible(); }, 2000)) << title->text().toStdString() << " did not open";
    menu->close();
    WaitFor([&] { return !menu->isVisible(); }, 2000);
  }
}

// The live picture, `draw` pixels wide, in the middle of the frame's width
// as shown, black on either side.
void ExpectPictureInTheMiddle(QWidget* view, int draw) {
  QWidget* centre = view->parentWidget();
  const QImage shown = centre->grab(QRect(0, view->y(), centre->width(), view->height())).toImage();
  ASSERT_GE(shown.width(), draw);
  const int left = (shown.width() - draw) / 2;
  const int y = shown.height() / 4;
  auto black = [&](int x) { return (shown.pixel(x, y) & 0xFFFFFF) == 0; };
  for (int x = 0; x < left; ++x) ASSERT_TRUE(black(x)) << "column " << x << " left of the picture";
  for (int x = left + draw; x < shown.width(); ++x) ASSERT_TRUE(black(x)) << "column " << x << " right of it";
  int lit = 0;
  for (int x = left; x < left + draw; ++x) lit += black(x) ? 0 : 1;
  EXPECT_GT(lit, draw / 2);
}

// The live picture at each view size and the two small output sizes: every
// menu stays on the bar and opens, and a picture narrower than the bar lies
// in the middle of the view, black on either side.
struct MenuCase {
  const char* name;
  const char* item;
  DWORD videoSize;
  int drawWidth;  // the picture's width at that view size
  friend void PrintTo(const MenuCase& c, std::ostream* os) { *os << c.name; }
};

class MenusAtViewSize : public ShownFrame, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(MenusAtViewSize, EveryMenuStaysOnTheBarAndOpens) {
  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, Dir() + "/menus.avi");
  WriteRecInt(recreg::kVideoSize, GetParam().videoSize);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Menu({"&Live Monitor", "&Start"}));
  ASSERT_TRUE(WaitFor([&] { return View()->PaintedFrames() >= 2; }, 20000));
  ASSERT_TRUE(Menu({"&View", "View &Size", GetParam().item}));
  Pump(200);
  ExpectEveryMenuOpens(Main());
  ExpectPictureInTheMiddle(View(), GetParam().drawWidth);
  // The frame is back to its full menu bar after the live picture, too.
  ASSERT_TRUE(Menu({"&Live Monitor", "S&top"}));
  Pump(200);
  ExpectEveryMenuOpens(Main());
  EXPECT_TRUE(Complaints().empty()) << Complaints().front();
}

INSTANTIATE_TEST_SUITE_P(Table, MenusAtViewSize,
                         ::testing::Values(MenuCase{"QuarterAtHalf", "&3 50%", VIDEOSIZE_25, 128},
                                           MenuCase{"QuarterAtFull", "&2 100%", VIDEOSIZE_25, 256},
                                           MenuCase{"QuarterAtDouble", "&1 200%", VIDEOSIZE_25, 512},
                                           MenuCase{"HalfAtHalf", "&3 50%", VIDEOSIZE_50, 256}),
                         [](const auto& info) { return std::string(info.param.name); });

// View sizes switched back and forth under a live picture, then a
// recording that ends by its time limit: after each step every menu is on
// the bar and opens, the picture lies in the middle of the view and the
// frame lies on the screen.
TEST_F(ShownFrame, MenusStayWholeAcrossViewSizesAndARecording) {
  const std::string output = Dir() + "/sizes.avi";
  WriteSettings(COMPRESS_AVI, RECCOND_TIME, 1, output);
  WriteRecInt(recreg::kVideoSize, VIDEOSIZE_25);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Menu({"&Live Monitor", "&Start"}));
  ASSERT_TRUE(WaitFor([&] { return View()->PaintedFrames() >= 2; }, 20000));
  const QRect work = Main()->screen()->availableGeometry();
  auto expectWhole = [&](const char* step, int draw) {
    SCOPED_TRACE(step);
    const unsigned long long painted = View()->PaintedFrames();
    ASSERT_TRUE(WaitFor([&] { return View()->PaintedFrames() >= painted + 2; }, 20000));
    ExpectEveryMenuOpens(Main());
    ExpectPictureInTheMiddle(View(), draw);
    EXPECT_TRUE(work.contains(Main()->frameGeometry()))
        << Main()->frameGeometry().width() << "x" << Main()->frameGeometry().height();
  };
  const struct {
    const char* item;
    int draw;
  } steps[] = {{"&1 200%", 512}, {"&3 50%", 128}, {"&2 100%", 256}, {"&3 50%", 128}, {"&1 200%", 512},
               {"&3 50%", 128}};
  for (const auto& step : steps) {
    ASSERT_TRUE(Menu({"&View", "View &Size", step.item}));
    expectWhole(step.item, step.draw);
  }
  Main()->UpdateCommands();
  ASSERT_TRUE(Click(ID_MOV_RECORD));
  ASSERT_TRUE(WaitFor([&] { return View()->IsRecording(); }, 20000));
  expectWhole("recording", 128);
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 30000));
  ASSERT_TRUE(Exists(output));
  expectWhole("after the recording", 128);
  EXPECT_TRUE(Complaints().empty()) << Complaints().front();
}

// A recorded 512 x 384 movie opened at each view size: the view shows it at
// its size times the percent (with its 2-pixel edges), shrunk with its
// aspect when the screen is too small, and the frame, with its slider bar
// and status bar, stays on the screen.
struct ViewSizeCase {
  const char* name;
  const char* item;
  int percent;
  friend void PrintTo(const ViewSizeCase& c, std::ostream* os) { *os << c.name; }
};

class MovieViewSize : public ShownFrame, public ::testing::WithParamInterface<ViewSizeCase> {};

TEST_P(MovieViewSize, ShowsTheMovieAtItsSizeWithTheFrameOnTheScreen) {
  const std::string output = Dir() + "/sized.avi";
  WriteSettings(COMPRESS_AVI, RECCOND_TIME, 1, output);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Menu({"&Live Monitor", "&Start"}));
  ASSERT_TRUE(WaitFor([&] { return View()->PaintedFrames() >= 2; }, 20000));
  Main()->UpdateCommands();
  ASSERT_TRUE(Click(ID_MOV_RECORD));
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 30000));
  ASSERT_TRUE(Exists(output));

  ASSERT_TRUE(Menu({"&View", "View &Size", GetParam().item}));
  ui.AnswerChooser(output);
  ASSERT_TRUE(Menu({"&Movie", "&Open"}));
  ASSERT_TRUE(View()->IsMovieOpen());
  Pump(200);

  const QRect work = Main()->screen()->availableGeometry();
  const QSize wanted(512 * GetParam().percent / 100, 384 * GetParam().percent / 100);
  // The picture as the video window shows it, in the middle of the view.
  auto* video = View()->findChild<CMovieVideoWindow*>();
  ASSERT_NE(video, nullptr);
  const QSize shown = video->VideoRect().size();
  if (wanted.width() + 200 < work.width() && wanted.height() + 200 < work.height()) {
    EXPECT_EQ(shown, wanted);
  } else {
    EXPECT_LT(shown.width(), wanted.width());
    EXPECT_NEAR(double(shown.width()) / shown.height(), 4.0 / 3.0, 0.02);
    // Shrunk to what the screen leaves: the frame fills it in one direction.
    EXPECT_TRUE(Main()->frameGeometry().width() >= work.width() - 2 ||
                Main()->frameGeometry().height() >= work.height() - 2)
        << Main()->frameGeometry().width() << "x" << Main()->frameGeometry().height();
  }
  EXPECT_TRUE(work.contains(Main()->frameGeometry())) << Main()->frameGeometry().width() << "x"
                                                      << Main()->frameGeometry().height();
  CSliderDialogBar* slider = Main()->GetSlider();
  EXPECT_TRUE(slider->isVisible());
  EXPECT_TRUE(work.contains(ScreenRect(slider)));
  EXPECT_TRUE(work.contains(ScreenRect(Main()->statusBar())));
  ExpectEveryMenuOpens(Main());
  EXPECT_TRUE(Complaints().empty()) << Complaints().front();
}

INSTANTIATE_TEST_SUITE_P(Table, MovieViewSize,
                         ::testing::Values(ViewSizeCase{"Half", "&3 50%", 50},
                                           ViewSizeCase{"Full", "&2 100%", 100},
                                           ViewSizeCase{"Double", "&1 200%", 200}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// Catches the URLs the program hands the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  std::vector<std::string> files;
 public slots:
  void Open(const QUrl& url) { files.push_back(url.toLocalFile().toStdString()); }
};

namespace {

// Help > Help hands the installation's help file to the desktop; while the
// file is missing a box says so instead.
TEST_F(ShownFrame, HelpOpensTheInstalledHelpFile) {
  const std::string install = Dir() + "/install";
  std::filesystem::create_directories(install + "/Logs");
  ASSERT_TRUE(SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters",
                                  "InstallPath", install));
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
  ASSERT_TRUE(Start());
  const std::string help = install + "/HELP/Fotavi.chm";
  ASSERT_TRUE(Menu({"&Help", "&Help"}));
  EXPECT_TRUE(catcher.files.empty());
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"The help file is not available.\n" + help});

  std::filesystem::create_directories(install + "/HELP");
  std::ofstream(help) << "help";
  ASSERT_TRUE(Menu({"&Help", "&Help"}));
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  EXPECT_EQ(catcher.files, std::vector<std::string>{help});
  EXPECT_EQ(ui.Texts().size(), 1u);
}

// Movie > Open starts where the user's movies are: the recordings' folder,
// else (a bare output name) the documents folder.
struct OpenFolderCase {
  const char* name;
  bool inFolder;
  friend void PrintTo(const OpenFolderCase& c, std::ostream* os) { *os << c.name; }
};

class OpenFolder : public ShownFrame, public ::testing::WithParamInterface<OpenFolderCase> {};

TEST_P(OpenFolder, StartsWhereTheMoviesAre) {
  const std::string movies = Dir() + "/movies";
  std::filesystem::create_directories(movies);
  WriteSettings(COMPRESS_AVI, RECCOND_NONE, 0, GetParam().inFolder ? movies + "/take.avi" : "take.avi");
  ASSERT_TRUE(Start());
  ui.AnswerChooser("");
  ASSERT_TRUE(Menu({"&Movie", "&Open"}));
  EXPECT_EQ(ui.LastChooser().folder, GetParam().inFolder ? movies : Dir() + "/Documents");
  EXPECT_FALSE(View()->IsMovieOpen());
}

INSTANTIATE_TEST_SUITE_P(Table, OpenFolder,
                         ::testing::Values(OpenFolderCase{"OutputFolder", true},
                                           OpenFolderCase{"Documents", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The settings dialog opened from the menu and the program's message boxes
// show the program's icon, as the main window does.
TEST_F(ShownFrame, TheSettingsDialogAndMessageBoxesCarryTheProgramIcon) {
  ASSERT_TRUE(Start());
  EXPECT_FALSE(Main()->windowIcon().isNull());
  CFRMDlg* dialog = Main()->GetDocument()->GetSettingDialog();
  ASSERT_NE(dialog, nullptr);
  bool seen = false, withIcon = false;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (!dialog->isVisible()) return;
    seen = true;
    withIcon = !dialog->windowIcon().isNull();
    look.stop();
    dialog->reject();
  });
  look.start(20);
  ASSERT_TRUE(Menu({"&Tools", "Recording &Settings"}));
  ASSERT_TRUE(WaitFor([&] { return seen && !dialog->isVisible(); }, 10000));
  EXPECT_TRUE(withIcon);

  // A box of the program's Qt boxes: Help > Help without a help file.
  CQtUserInterfaceService boxes;
  SetUserInterfaceService(&boxes);
  bool boxSeen = false, boxWithIcon = false;
  QObject::connect(&look, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    boxSeen = true;
    boxWithIcon = !box->windowIcon().isNull();
    look.stop();
    box->button(QMessageBox::Ok)->click();
  });
  look.start(20);
  const bool chosen = Menu({"&Help", "&Help"});
  SetUserInterfaceService(&ui);
  ASSERT_TRUE(chosen);
  EXPECT_TRUE(boxSeen);
  EXPECT_TRUE(boxWithIcon);
}

}  // namespace

#include "ShownFrameTest.moc"

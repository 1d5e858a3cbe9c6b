// Start-up, the main frame's device handling, command states, still capture
// and shut-down, on a scripted device.
#include <QAction>
#include <QApplication>
#include <QTest>
#include <QPushButton>
#include <QPointer>
#include <QMessageBox>
#include <QDir>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QFileInfo>

#include <filesystem>
#include <fstream>

#include "Live/AnimeFrame.h"
#include "Common/CommonFunc.h"
#include "Common/ControlDialog.h"
#include "Common/TiryxDialog.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Library.h"
#include "Platform/Settings.h"
#include "App/Icons.h"
#include "App/Resource.h"
#include "TestSupport.h"

using namespace fotavi::test;

class Startup : public AppFixture {};

TEST_F(Startup, SecondInstanceIsRefusedWithTheLaunchedText) {
  std::unique_ptr<CNamedMutex> held;
  ASSERT_EQ(CreateAppMutex(APP_MUTEX_NAME, true, &held), APPMUTEX_CREATED);
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Fotavi or Tiryx TWAIN DS is already launched."});
  EXPECT_EQ(app->GetMainFrame(), nullptr);
}

TEST_F(Startup, MissingDeviceLibraryNamesIt) {
  app->SetDeviceBinding({});
  app->SetDeviceLibraryName("FotaviNoSuchLibrary.dll");
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to load FotaviNoSuchLibrary.dll. "});
}

TEST_F(Startup, LibraryWithoutReleaseInstanceEndsWithTheInitText) {
  app->SetDeviceBinding({});
  app->SetDeviceLibraryName(FOTAVI_NORELEASE_MODULE);
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to initialize application.Closing application."});
  EXPECT_EQ(app->GetDevice(), nullptr);
}

TEST_F(Startup, FailingCreateInstanceEndsWithTheInitText) {
  app->SetDeviceBinding({[](CDeviceInterface** p) {
                           *p = nullptr;
                           return FALSE;
                         },
                         {}});
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to initialize application.Closing application."});
}

TEST_F(Startup, NoDocumentOpensAndTheCameraIsOpened) {
  ASSERT_TRUE(Start());
  EXPECT_TRUE(Main()->GetMdiArea()->subWindowList().isEmpty());
  EXPECT_TRUE(Main()->IsDeviceOpen());
  EXPECT_EQ(Main()->GetStatusText(), "Ready");
  EXPECT_EQ(device->notifyWindow(), Main()->GetSafeHwnd());
  EXPECT_TRUE(ui.Texts().empty());
}

TEST_F(Startup, ShutDownClosesTheDeviceThenReleasesIt) {
  ASSERT_TRUE(Start());
  app->ExitInstance();
  EXPECT_EQ(device->closeCalls.load(), 1);
  EXPECT_TRUE(releaseCalled);
}

TEST_F(Startup, CameraMissingDisablesTheDeviceCommands) {
  device->connected = false;
  ASSERT_TRUE(Start());
  EXPECT_EQ(Main()->GetStatusText(), "Unable to use the main unit.");
  Main()->UpdateCommandUI();
  for (int id : {ID_LIVE_START, ID_LIVE_STOP, ID_TOOL_STILLCAPTURE, ID_TOOL_REMOTECTRL, ID_TOOL_CONVERT,
                 ID_TOOL_TRANSFER, ID_TOOL_VIEWER, ID_TOOL_SLIDESHOW})
    EXPECT_FALSE(Main()->IsCommandEnabled(id)) << id;
  for (int id : {ID_LIVE_SIZE25, ID_LIVE_SIZE50, ID_LIVE_SIZE100, ID_FILE_OPENFILE})
    EXPECT_TRUE(Main()->IsCommandEnabled(id)) << id;
  EXPECT_TRUE(ui.Texts().empty());
}

struct OpenCase {
  DWORD error;
  bool open;
  bool box;
};
class OpenErrors : public AppFixture, public ::testing::WithParamInterface<OpenCase> {};
TEST_P(OpenErrors, QuietAndSuccessfulCodes) {
  device->openResult = FALSE;
  device->openError = GetParam().error;
  ASSERT_TRUE(Start());
  EXPECT_EQ(Main()->IsDeviceOpen() != FALSE, GetParam().open);
  EXPECT_EQ(Main()->GetStatusText(), GetParam().open ? "Ready" : "Unable to use the main unit.");
  EXPECT_EQ(ui.Texts().size(), GetParam().box ? 1u : 0u);
  if (GetParam().box) {
    EXPECT_EQ(ui.Texts()[0], "An internal error had occurred.");
  }
}
// The case's name: the test's name and its printed parameter.
std::string OpenCaseName(const OpenCase& c) { return "Error" + std::to_string(c.error); }
void PrintTo(const OpenCase& c, std::ostream* os) { *os << OpenCaseName(c); }

INSTANTIATE_TEST_SUITE_P(Table, OpenErrors,
                         ::testing::Values(OpenCase{ERR_FOTAVI_ALREADYOPEN, true, false},
                                           OpenCase{ERR_FOTAVI_ALREADYUSE, false, false},
                                           OpenCase{ERR_FOTAVI_NODEVICE, false, false},
                                           OpenCase{ERR_FOTAVI_CREATEDEVICE, false, true}),
                         [](const auto& info) { return OpenCaseName(info.param); });

class DeviceState : public AppFixture {};

TEST_F(DeviceState, GoneThenBackReopensAndEnablesStart) {
  ASSERT_TRUE(Start());
  device->connected = false;
  PostMessage(device->notifyWindow(), WM_FOTAVI_DEVICESTATE, FOTAVI_DEVICE_GONE, 0);
  ASSERT_TRUE(WaitFor([&] { return !Main()->IsDeviceOpen(); }));
  EXPECT_EQ(Main()->GetStatusText(), "Unable to use the main unit.");
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_LIVE_START));
  device->connected = true;
  PostMessage(device->notifyWindow(), WM_FOTAVI_DEVICESTATE, FOTAVI_DEVICE_PRESENT, 0);
  ASSERT_TRUE(WaitFor([&] { return Main()->IsDeviceOpen() != FALSE; }));
  EXPECT_EQ(Main()->GetStatusText(), "Ready");
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_LIVE_START));
  EXPECT_EQ(device->openCalls.load(), 2);
}

TEST_F(DeviceState, ToolsCloseOnlyWhenTheLastMessageBoxCloses) {
  ASSERT_TRUE(Start());
  auto* panel = qobject_cast<CTiryxDialog*>(Main()->GetRemoteCtrl());
  ASSERT_NE(panel, nullptr);
  Main()->OnCommand(ID_TOOL_REMOTECTRL);
  ASSERT_TRUE(panel->isVisible());
  EXPECT_TRUE(Main()->IsCommandChecked(ID_TOOL_REMOTECTRL));
  CControlDialog* counter = app->GetControlDialog();
  counter->BeginModal();  // a message box stands open
  device->connected = false;
  PostMessage(Main()->GetSafeHwnd(), WM_FOTAVI_DEVICESTATE, FOTAVI_DEVICE_GONE, 0);
  ASSERT_TRUE(WaitFor([&] { return !Main()->IsDeviceOpen(); }));
  Pump(30);
  EXPECT_TRUE(panel->isVisible());
  counter->EndModal();  // posts WM_CONTROLDIALOG_END
  EXPECT_TRUE(WaitFor([&] { return !panel->isVisible(); }));
}

TEST_F(DeviceState, LiveSizeWhileClosedOnlyStoresTheStep) {
  ASSERT_TRUE(Start());
  Main()->OnCommand(ID_LIVE_SIZE25);
  EXPECT_EQ(Main()->GetLiveSizeStep(), 4);
  EXPECT_TRUE(Main()->IsCommandChecked(ID_LIVE_SIZE25));
  EXPECT_FALSE(Main()->IsCommandChecked(ID_LIVE_SIZE50));
  EXPECT_EQ(Main()->GetLiveFrame(), nullptr);
  Main()->OnCommand(ID_LIVE_SIZE100);
  EXPECT_EQ(Main()->GetLiveSizeStep(), 1);
}

class StillCapture : public AppFixture {};

TEST_F(StillCapture, ThreeFailuresShowTheStillText) {
  ASSERT_TRUE(Start());
  device->PushSyncResults({FALSE, FALSE, FALSE});
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  EXPECT_EQ(device->syncCalls.load(), 3);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to acquire still image."});
  EXPECT_EQ(Main()->GetUntitledCount(), 0);
  // No empty picture window is left behind.
  EXPECT_TRUE(WaitFor([&] { return Main()->GetMdiArea()->subWindowList().isEmpty(); }, 2000));
}

TEST_F(StillCapture, DeviceGoneAfterTheFirstFailureStopsRetrying) {
  ASSERT_TRUE(Start());
  device->PushSyncResults({FALSE, FALSE, FALSE});
  device->connected = false;
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  EXPECT_EQ(device->syncCalls.load(), 1);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to acquire still image."});
}

TEST_F(StillCapture, TwoFailuresThenAFrameSucceeds) {
  ASSERT_TRUE(Start());
  device->PushSyncResults({FALSE, FALSE, TRUE});
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  EXPECT_EQ(device->syncCalls.load(), 3);
  EXPECT_TRUE(ui.Texts().empty());
  EXPECT_EQ(Main()->GetUntitledCount(), 1);
  // The picture goes to a new still-image window.
  const auto windows = Main()->GetMdiArea()->subWindowList();
  ASSERT_EQ(windows.size(), 1);
  auto* frame = qobject_cast<CChildFrame*>(windows[0]);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->GetTemplateName(), "Image");
  const CViewData* holder = frame->GetDocument()->GetViewData();
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(holder->GetPictureWidth(), 1024);
  EXPECT_EQ(holder->GetPictureHeight(), 768);
}

// A still-image window that cannot be made: the capture is refused with the
// still text, asks the camera nothing and counts nothing.
class StillCaptureWithoutImageWindow : public AppFixture {
 protected:
  // After the start-up registration: an "Image" factory that cannot make a window.
  void BreakImageWindows() {
    saved_ = FindDocTemplateFactory(DOCTEMPLATE_IMAGE);
    RegisterDocTemplateFactory(DOCTEMPLATE_IMAGE, [](CMainFrame*, CDocTemplate*) -> CChildFrame* { return nullptr; });
  }
  void TearDown() override {
    AppFixture::TearDown();
    if (saved_) RegisterDocTemplateFactory(DOCTEMPLATE_IMAGE, saved_);
  }
  CDocTemplate::Factory saved_;
};

TEST_F(StillCaptureWithoutImageWindow, IsRefusedWithAMessage) {
  ASSERT_TRUE(Start());
  BreakImageWindows();
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to acquire still image."});
  EXPECT_EQ(device->syncCalls.load(), 0);
  EXPECT_EQ(Main()->GetUntitledCount(), 0);
}

TEST_F(StillCapture, EmptyReplyIsQuietAndCountsNothing) {
  ASSERT_TRUE(Start());
  device->syncEmpty = true;
  const size_t blocks = GlobalBlockCount();
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  EXPECT_TRUE(ui.Texts().empty());
  EXPECT_EQ(Main()->GetUntitledCount(), 0);
  EXPECT_EQ(GlobalBlockCount(), blocks);
}

TEST_F(StillCapture, ADataBlockIsFreedAfterTheLoad) {
  ASSERT_TRUE(Start());
  const size_t blocks = GlobalBlockCount();
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  EXPECT_EQ(GlobalBlockCount(), blocks);
}

class FileOpenCmd : public AppFixture {};

TEST_F(FileOpenCmd, WrongExtensionIsRefusedAndInputFolderKept) {
  ASSERT_TRUE(Start());
  const std::string txt = env->dir() + "/notes.txt";
  FILE* f = std::fopen(txt.c_str(), "w");
  std::fputs("x", f);
  std::fclose(f);
  ui.chooserAnswer = txt;
  Main()->OnCommand(ID_FILE_OPENFILE);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to open file. "});
  CRegOperation reg;
  EXPECT_EQ(reg.GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, "InputFolder", "none"),
            "none");
}

class MainCaption : public AppFixture {};

TEST_F(MainCaption, NamesTheActiveDocument) {
  ASSERT_TRUE(Start());
  const std::string program = "Fotavi for Presentation";
  auto caption = [&] { return Main()->windowTitle().toStdString(); };
  EXPECT_EQ(caption(), program);
  const std::string path = env->dir() + "/Picture1.jpg";
  {
    std::ofstream out(path, std::ios::binary);
    out << MakeJpeg(64, 48);
  }
  ASSERT_TRUE(Main()->FileOpen(path));
  EXPECT_TRUE(WaitFor([&] { return caption() == program + " - Picture1.jpg"; })) << caption();
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_NE(Main()->GetLiveFrame(), nullptr);
  Main()->GetMdiArea()->setActiveSubWindow(Main()->GetLiveFrame());
  EXPECT_TRUE(WaitFor([&] { return caption() == program + " - Live Monitor"; })) << caption();
  Main()->GetLiveFrame()->showMinimized();
  EXPECT_TRUE(WaitFor([&] { return caption() == program; })) << caption();
  Main()->OnCommand(ID_FILE_ALLCLOSE);
  EXPECT_TRUE(WaitFor([&] { return Main()->GetMdiArea()->subWindowList().isEmpty(); }));
  EXPECT_TRUE(WaitFor([&] { return caption() == program; })) << caption();
}

// The toolbar, rendered: every command on it shows an icon that paints
// something, from the installed icon theme where the theme has the name.
class Toolbar : public AppFixture {};

TEST_F(Toolbar, EveryCommandHasAnIcon) {
  ASSERT_TRUE(Start());
  Main()->show();
  QToolBar* bar = Main()->findChild<QToolBar*>("toolbar128");
  ASSERT_NE(bar, nullptr);
  ASSERT_TRUE(WaitFor([&] { return bar->isVisible(); }));
  bar->grab();
  const std::vector<int> expected = {ID_FILE_OPENFILE, ID_FILE_SAVEFILE,  ID_VIEW_FULLSCREEN, ID_TOOL_HAND,
                                     ID_TOOL_SELECT,   ID_ROTATE_90CCW,   ID_ROTATE_90CW,     ID_VIEW_ZOOMIN,
                                     ID_VIEW_ZOOMOUT,  ID_LIVE_STOP,      ID_LIVE_START,      ID_TOOL_STILLCAPTURE,
                                     ID_TOOL_DRAW,     ID_TOOL_REMOTECTRL};
  std::vector<int> shown;
  for (QAction* action : bar->actions()) {
    if (action->isSeparator()) continue;
    const int id = action->data().toInt();
    shown.push_back(id);
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
    ASSERT_NE(button, nullptr) << id;
    EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonIconOnly) << id;
    ASSERT_FALSE(button->icon().isNull()) << "command " << id << " has no icon";
    // The icon paints a figure, not a blank square or a single letter.
    const QImage pixels = button->icon().pixmap(button->iconSize()).toImage();
    int painted = 0;
    for (int y = 0; y < pixels.height(); ++y)
      for (int x = 0; x < pixels.width(); ++x) painted += qAlpha(pixels.pixel(x, y)) > 64 ? 1 : 0;
    EXPECT_GT(painted, pixels.width() * pixels.height() / 10) << id;
    // Themed where the theme has the name.
    const QString themeName = QString::fromLatin1(CommandIconThemeName(id));
    if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName)) {
      EXPECT_EQ(button->icon().name(), themeName) << id;
    }
    EXPECT_FALSE(action->toolTip().isEmpty()) << id;
  }
  EXPECT_EQ(shown, expected);
  EXPECT_TRUE(QIcon::hasThemeIcon("document-open")) << "no icon theme found: run scripts/setup.sh";
  EXPECT_FALSE(Main()->windowIcon().isNull());
}

// Enabled and disabled toolbar buttons look apart, with the icon theme and
// with the drawn icons that stand in without one: a disabled button shows
// far less of its picture than an enabled one, and an enabled one is never
// pale. Judged on the buttons as shown.
class ToolbarStates : public AppFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    theme_ = QIcon::themeName();
    fallback_ = QIcon::fallbackThemeName();
    paths_ = QIcon::themeSearchPaths();
    if (!GetParam()) {
      // No icon theme anywhere: the program's start-up finds none.
      dataDirs_ = qgetenv("XDG_DATA_DIRS");
      dataHome_ = qgetenv("XDG_DATA_HOME");
      qputenv("XDG_DATA_DIRS", "/nonexistent");
      qputenv("XDG_DATA_HOME", "/nonexistent");
      QIcon::setThemeSearchPaths({});
    }
    AppFixture::SetUp();
  }
  void TearDown() override {
    AppFixture::TearDown();
    if (!GetParam()) {
      qputenv("XDG_DATA_DIRS", dataDirs_);
      qputenv("XDG_DATA_HOME", dataHome_);
    }
    QIcon::setThemeSearchPaths(paths_);
    QIcon::setThemeName(theme_);
    QIcon::setFallbackThemeName(fallback_);
  }
  // How much the button's picture stands out from the bar: the sum of each
  // pixel's distance from the bar's colour.
  static double Ink(QToolButton* button) {
    const QImage shown = button->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QSize icon = button->iconSize();
    const QRect inner(QPoint((shown.width() - icon.width()) / 2, (shown.height() - icon.height()) / 2), icon);
    const QColor bar = button->palette().color(QPalette::Button);
    double ink = 0;
    for (int y = inner.top(); y <= inner.bottom(); ++y)
      for (int x = inner.left(); x <= inner.right(); ++x) {
        const QColor c = shown.pixelColor(x, y);
        ink += std::abs(c.red() - bar.red()) + std::abs(c.green() - bar.green()) + std::abs(c.blue() - bar.blue());
      }
    return ink / (icon.width() * icon.height());
  }
  QString theme_, fallback_;
  QStringList paths_;
  QByteArray dataDirs_, dataHome_;
};

TEST_P(ToolbarStates, EnabledAndDisabledButtonsLookApart) {
  ASSERT_TRUE(Start());
  if (!GetParam()) {
    ASSERT_FALSE(QIcon::hasThemeIcon("document-open"));
  }
  Main()->show();
  QToolBar* bar = Main()->findChild<QToolBar*>("toolbar128");
  ASSERT_NE(bar, nullptr);
  ASSERT_TRUE(WaitFor([&] { return bar->isVisible(); }));
  double weakestEnabled = 1e9, strongestDisabled = 0;
  for (QAction* action : bar->actions()) {
    if (action->isSeparator()) continue;
    const int id = action->data().toInt();
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
    ASSERT_NE(button, nullptr) << id;
    action->setChecked(false);
    action->setEnabled(true);
    const double enabled = Ink(button);
    action->setEnabled(false);
    const double disabled = Ink(button);
    EXPECT_GT(enabled, 2.5 * disabled) << "command " << id << ": enabled " << enabled << ", disabled " << disabled;
    weakestEnabled = std::min(weakestEnabled, enabled);
    strongestDisabled = std::max(strongestDisabled, disabled);
  }
  // No enabled button is as pale as any disabled one.
  EXPECT_GT(weakestEnabled, strongestDisabled);
  Main()->UpdateCommandUI();
}
INSTANTIATE_TEST_SUITE_P(Icons, ToolbarStates, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Theme" : "Drawn");
                         });

// The About box opens without a loop of its own: the command returns with
// the box open over the main window, counted as an open box until it has
// been closed; the camera's removal meanwhile waits for it.
TEST_F(Startup, AboutOpensWithoutWaitingAndCountsUntilItIsClosed) {
  ASSERT_TRUE(Start());
  Main()->show();
  auto* panel = qobject_cast<CTiryxDialog*>(Main()->GetRemoteCtrl());
  ASSERT_NE(panel, nullptr);
  Main()->OnCommand(ID_TOOL_REMOTECTRL);
  ASSERT_TRUE(panel->isVisible());
  Main()->OnCommand(ID_APP_ABOUT);
  QPointer<QMessageBox> box;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowTitle().toStdString(), "Fotavi for Presentation");
  EXPECT_EQ(app->GetControlDialog()->GetModalCount(), 1);
  device->connected = false;
  PostMessage(Main()->GetSafeHwnd(), WM_FOTAVI_DEVICESTATE, FOTAVI_DEVICE_GONE, 0);
  ASSERT_TRUE(WaitFor([&] { return !Main()->IsDeviceOpen(); }));
  EXPECT_TRUE(panel->isVisible());  // the box stands in front
  QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  EXPECT_TRUE(WaitFor([&] { return !box && app->GetControlDialog()->GetModalCount() == 0; }));
  EXPECT_TRUE(WaitFor([&] { return !panel->isVisible(); }));  // then the check runs again
}

class WorkFolder : public AppFixture {};

TEST_F(WorkFolder, RemovedAtExitWithoutFollowingLinks) {
  ASSERT_TRUE(Start());
  const std::string work = CMainFrame::GetWorkFolder();
  ASSERT_FALSE(work.empty());
  EXPECT_EQ(work.rfind(env->dir() + "/work", 0), 0u);
  const std::string outside = env->dir() + "/outside";
  std::filesystem::create_directories(outside);
  std::filesystem::create_directories(work + "/TRANS");
  { FILE* f = std::fopen((outside + "/keep.jpg").c_str(), "w"); std::fputs("k", f); std::fclose(f); }
  std::filesystem::create_directory_symlink(outside, work + "/TRANS/link");
  app->ExitInstance();
  EXPECT_FALSE(std::filesystem::exists(work));
  EXPECT_TRUE(std::filesystem::exists(outside + "/keep.jpg"));
}

TEST_F(WorkFolder, ExitWithoutWorkFolderIsFine) {
  ASSERT_TRUE(Start());
  app->ExitInstance();
  EXPECT_FALSE(std::filesystem::exists(CMainFrame::GetWorkFolder()));
}

// The main frame's end: every document window goes before the frame it
// points to, also one that was closed and waits for its deferred delete.
class Shutdown : public AppFixture {
 protected:
  // Opens a picture and the live monitor, closes them as the user and the
  // program do (their delete deferred, the event loop not run again), then
  // ends the application. Each frame records, as it goes, whether the main
  // frame was still whole.
  void CloseThenEnd(const std::function<void(CChildFrame* picture, CChildFrame* live)>& close) {
    ASSERT_TRUE(Start());
    const std::string path = env->dir() + "/Picture1.jpg";
    {
      std::ofstream out(path, std::ios::binary);
      out << MakeJpeg(64, 48);
    }
    ASSERT_TRUE(Main()->FileOpen(path));
    Main()->OnCommand(ID_LIVE_START);
    ASSERT_NE(Main()->GetLiveFrame(), nullptr);
    QList<QMdiSubWindow*> frames = Main()->GetMdiArea()->subWindowList();
    ASSERT_EQ(frames.size(), 2);
    auto* picture = qobject_cast<CChildFrame*>(frames[0]);
    CChildFrame* live = Main()->GetLiveFrame();
    if (picture == live) picture = qobject_cast<CChildFrame*>(frames[1]);
    ASSERT_NE(picture, nullptr);
    QObject* main = Main();
    int gone = 0, goneWithMainWhole = 0;
    for (CChildFrame* frame : {picture, live}) {
      QObject::connect(frame, &QObject::destroyed, [&gone, &goneWithMainWhole, main] {
        ++gone;
        // A frame that goes after ~CMainFrame sees only what is left of it.
        if (qobject_cast<CMainFrame*>(main)) ++goneWithMainWhole;
      });
    }
    close(picture, live);
    app->ExitInstance();
    app.reset();
    EXPECT_EQ(gone, 2);
    EXPECT_EQ(goneWithMainWhole, 2);
  }
};

TEST_F(Shutdown, FramesClosedByTheirCloseMessageGoBeforeTheMainFrame) {
  CloseThenEnd([](CChildFrame* picture, CChildFrame* live) {
    // The picture was opened from a file: it closes without a question.
    SendMessage(picture->GetSafeHwnd(), WM_CLOSE, 0, 0);
    SendMessage(live->GetSafeHwnd(), WM_CLOSE, 0, 0);
  });
}

TEST_F(Shutdown, FramesClosedByAllCloseGoBeforeTheMainFrame) {
  CloseThenEnd([this](CChildFrame*, CChildFrame*) { Main()->OnCommand(ID_FILE_ALLCLOSE); });
}

TEST_F(Shutdown, FramesClosedWithTheMainWindowGoBeforeItsEnd) {
  CloseThenEnd([this](CChildFrame*, CChildFrame*) { EXPECT_TRUE(Main()->close()); });
}

// Help > Help, chosen with the mouse on the shown menu bar, without the
// installation's help file: an information box names the file it looked for.
class HelpCommand : public AppFixture {};

TEST_F(HelpCommand, WithoutTheHelpFileABoxNamesIt) {
  const std::string install = env->dir() + "/install";
  std::filesystem::create_directories(install + "/Logs");
  ASSERT_TRUE(SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters",
                                  "InstallPath", install));
  ASSERT_TRUE(Start());
  Main()->show();
  QMenuBar* bar = Main()->menuBar();
  ASSERT_TRUE(WaitFor([&] { return bar->isVisible(); }));
  QMenu* help = nullptr;
  for (QAction* title : bar->actions())
    if (title->text() == "&Help") help = title->menu();
  ASSERT_NE(help, nullptr);
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(help->menuAction()).center());
  ASSERT_TRUE(WaitFor([&] { return help->isVisible(); }));
  QAction* item = nullptr;
  for (QAction* a : help->actions())
    if (a->text() == "&Help") item = a;
  ASSERT_NE(item, nullptr);
  QTest::mouseClick(help, Qt::LeftButton, {}, help->actionGeometry(item).center());
  ASSERT_TRUE(WaitFor([&] { return !ui.Texts().empty(); }));
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"The help file is not available.\n" + install + "/HELP/Fotavi.chm"});
  EXPECT_EQ(ui.types.at(0) & MB_ICONMASK, UINT(MB_ICONINFORMATION));
}

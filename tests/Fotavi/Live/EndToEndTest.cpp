// The presentation program on the real device library and the camera
// emulator: live monitor, unplug and replug, still capture, the card tools'
// hold of the live monitor.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <filesystem>

#include "Common/ControlDialog.h"
#include "Common/QtUserInterfaceService.h"
#include "Live/AnimeFrame.h"
#include "Live/AnimeView.h"
#include "EmulatorProcess.h"
#include "Live/FullScreenWnd.h"
#include "Platform/GlobalMemory.h"
#include "App/Resource.h"
#include "TestSupport.h"

using namespace fotavi::test;

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    env = std::make_unique<IsolatedEnv>();
    root = env->dir() + "/devices";
    setenv("FOTAVI_DEVICE_ROOT", root.c_str(), 1);
    EmulatorOptions options;
    options.deviceRoot = root;
    if (withCard) {
      options.cardDir = env->dir() + "/card";
      std::filesystem::create_directories(options.cardDir + "/DCIM/100ABCDE");
    }
    emulator = std::make_unique<EmulatorProcess>(options);
    ASSERT_TRUE(emulator->Start());
    SetUserInterfaceService(&ui);
    app = std::make_unique<CFotaviApp>();
    ASSERT_TRUE(app->InitInstance());
    Pump(20);
  }
  void TearDown() override {
    if (app) app->ExitInstance();
    app.reset();
    emulator.reset();
    SetUserInterfaceService(nullptr);
    unsetenv("FOTAVI_DEVICE_ROOT");
    env.reset();
  }
  CMainFrame* Main() { return app->GetMainFrame(); }
  CAnimeFrame* Frame() { return Main()->GetLiveFrame(); }
  uint64_t Painted() {
    return Frame() && Frame()->GetAnimeView() ? Frame()->GetAnimeView()->GetStats().framesPainted.load() : 0;
  }

  bool withCard = false;  // set by a fixture's constructor
  std::unique_ptr<IsolatedEnv> env;
  std::string root;
  std::unique_ptr<EmulatorProcess> emulator;
  RecordingUi ui;
  std::unique_ptr<CFotaviApp> app;
};

class EndToEndSizes : public EndToEnd, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(EndToEndSizes, TheCamerasPictureMovesAtEachStep) {
  ASSERT_TRUE(Main()->IsDeviceOpen());
  Main()->OnCommand(GetParam().first);
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_NE(Frame(), nullptr);
  ASSERT_TRUE(WaitFor([&] { return Painted() >= 10; }, 10000));
  const int step = GetParam().second;
  EXPECT_EQ(Frame()->GetDocument()->GetPictureWidth(), 1024 / step);
  EXPECT_EQ(Frame()->windowTitle().toStdString(),
            "Live Monitor " + std::to_string(1024 / step) + "x" + std::to_string(768 / step) + " 100%");
  EXPECT_TRUE(ui.Texts().empty());
}
INSTANTIATE_TEST_SUITE_P(Steps, EndToEndSizes,
                         ::testing::Values(std::make_pair(ID_LIVE_SIZE25, 4), std::make_pair(ID_LIVE_SIZE50, 2),
                                           std::make_pair(ID_LIVE_SIZE100, 1)),
                         [](const auto& info) { return "Reduced" + std::to_string(info.param.second) + "Times"; });

TEST_F(EndToEnd, UnplugClosesTheMonitorAndReplugBringsStartBack) {
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_TRUE(WaitFor([&] { return Painted() >= 3; }, 10000));
  ASSERT_TRUE(emulator->Unplug());
  ASSERT_TRUE(WaitFor([&] { return Frame() == nullptr; }, 10000));
  EXPECT_TRUE(WaitFor([&] { return Main()->GetStatusText() == "Unable to use the main unit."; }, 5000));
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_LIVE_START));
  ASSERT_TRUE(emulator->Replug());
  ASSERT_TRUE(WaitFor([&] { return Main()->IsCommandEnabled(ID_LIVE_START); }, 10000));
  EXPECT_EQ(Main()->GetStatusText(), "Ready");
  Main()->OnCommand(ID_LIVE_START);
  EXPECT_TRUE(WaitFor([&] { return Painted() >= 3; }, 10000));
}

TEST_F(EndToEnd, StillCaptureBringsAFullSizePicture) {
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  EXPECT_TRUE(ui.Texts().empty());
  EXPECT_EQ(Main()->GetUntitledCount(), 1);
}

TEST_F(EndToEnd, StopAndCloseLeaveNoDataBlockBehind) {
  const size_t blocks = GlobalBlockCount();
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_TRUE(WaitFor([&] { return Painted() >= 5; }, 10000));
  Main()->OnCommand(ID_LIVE_STOP);
  Pump(300);
  Frame()->close();
  Pump(100);
  EXPECT_EQ(Frame(), nullptr);
  EXPECT_EQ(GlobalBlockCount(), blocks);
}

// The camera sends one broken frame while the GUI thread is busy and the
// paint of the frame before it is still queued. The live view keeps the last
// good picture: the window does not go black, full screen does not end.
class EndToEndBadFrame : public EndToEnd, public ::testing::WithParamInterface<bool> {};

TEST_P(EndToEndBadFrame, KeepsTheLastGoodPicture) {
  const bool fullScreen = GetParam();
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_TRUE(WaitFor([&] { return Painted() >= 3; }, 10000));
  CAnimeView* view = Frame()->GetAnimeView();
  if (fullScreen) {
    Main()->GetMdiArea()->setActiveSubWindow(Frame());
    Main()->OnCommand(ID_VIEW_FULLSCREEN);
    ASSERT_NE(view->GetFullScreenWnd(), nullptr);
    const uint64_t painted = Painted();
    ASSERT_TRUE(WaitFor([&] { return Painted() >= painted + 3; }, 10000));
  }
  const CLiveStats& stats = view->GetStats();
  ASSERT_EQ(stats.decodeFailures.load(), 0u);

  // The GUI thread is busy from here on: its event loop does not run.
  QThread::msleep(300);  // good frames meanwhile: a paint is queued
  ASSERT_TRUE(emulator->Command("bad-frame 1"));
  // Every frame after the broken one comes late, so the broken one is the
  // last decoded when the GUI thread gets to its queue.
  ASSERT_TRUE(emulator->Command("delay 0x808E 4000 3"));
  QElapsedTimer busy;
  busy.start();
  while (stats.decodeFailures.load() == 0 && busy.elapsed() < 20000) QThread::msleep(10);
  ASSERT_EQ(stats.decodeFailures.load(), 1u);

  Pump(300);  // the queued paint runs now
  ASSERT_NE(Frame(), nullptr);
  EXPECT_TRUE(ui.Texts().empty());
  EXPECT_FALSE(view->GetPicture().isNull());
  EXPECT_EQ(view->GetPicture().width(), fullScreen ? 1024 : 512);
  if (fullScreen) {
    ASSERT_NE(view->GetFullScreenWnd(), nullptr);
    EXPECT_NE(view->GetFullScreenWnd()->GetMemoryImage().pixelColor(640, 500), QColor(Qt::black));
  }
  EXPECT_TRUE(emulator->Command("clear"));
  const uint64_t painted = Painted();
  EXPECT_TRUE(WaitFor([&] { return Painted() > painted; }, 15000));  // the monitor goes on
  EXPECT_TRUE(ui.Texts().empty());
}
INSTANTIATE_TEST_SUITE_P(Modes, EndToEndBadFrame, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("FullScreen") : std::string("Window");
                         });

// The card tools check the card before they hold the live monitor: without
// a card the message is shown while the live monitor goes on, and nothing
// is held; with a card the tool holds it while it is open and resumes it
// when it closes.
struct CardToolCase {
  const char* name;
  int id;
  bool card;
};
void PrintTo(const CardToolCase& c, std::ostream* os) { *os << c.name; }

class EndToEndCardTools : public EndToEnd, public ::testing::WithParamInterface<CardToolCase> {
 protected:
  EndToEndCardTools() { withCard = GetParam().card; }
};

TEST_P(EndToEndCardTools, TheLiveMonitorIsHeldOnlyForATool) {
  const CardToolCase c = GetParam();
  Main()->OnCommand(ID_LIVE_START);
  ASSERT_TRUE(WaitFor([&] { return Painted() >= 3; }, 10000));
  QWidget* panel = Main()->GetRemoteCtrl();
  ASSERT_NE(panel, nullptr);
  // What the user sees while the message box is up.
  bool boxShown = false, heldAtBox = true, suspendedAtBox = true, panelOnAtBox = false;
  ui.onBox = [&](const std::string&) {
    boxShown = true;
    heldAtBox = Main()->IsLiveHeld() != FALSE;
    suspendedAtBox = Frame()->IsSuspended();
    panelOnAtBox = panel->isEnabled();
  };
  // What the user sees while a modal tool is up; then it is closed as the
  // user closes it (again after a reading it stopped).
  bool heldWhileOpen = false;
  QTimer closer;
  closer.setInterval(50);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    heldWhileOpen = Main()->IsLiveHeld() && Frame()->IsSuspended() && !panel->isEnabled();
    dialog->reject();
  });
  closer.start();
  Main()->GetAction(c.id)->trigger();
  if (!c.card) {
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"SD memory card is not inserted."});
    EXPECT_TRUE(boxShown);
    EXPECT_FALSE(heldAtBox);
    EXPECT_FALSE(suspendedAtBox);
    EXPECT_TRUE(panelOnAtBox);
    EXPECT_FALSE(Main()->IsToolWindowOpen());
  } else {
    if (c.id == ID_TOOL_VIEWER) {
      // The viewer is not modal: it is open now, and closed by the user.
      ASSERT_TRUE(Main()->IsToolWindowOpen());
      heldWhileOpen = Main()->IsLiveHeld() && Frame()->IsSuspended() && !panel->isEnabled();
      QPointer<QWidget> viewer;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == "Fotavi for Presentation -Viewer-") viewer = w;
      ASSERT_NE(viewer, nullptr);
      ASSERT_TRUE(WaitFor([&] {
        if (viewer && viewer->isVisible()) viewer->close();
        return !Main()->IsToolWindowOpen();
      }, 10000));
    }
    EXPECT_TRUE(heldWhileOpen);
    EXPECT_TRUE(ui.Texts().empty());
  }
  EXPECT_TRUE(WaitFor([&] { return !Main()->IsLiveHeld() && Main()->IsLiveRunning() && !Frame()->IsSuspended(); }));
  EXPECT_TRUE(panel->isEnabled());
  const uint64_t painted = Painted();
  EXPECT_TRUE(WaitFor([&] { return Painted() >= painted + 2; }, 10000));  // the picture goes on moving
}
INSTANTIATE_TEST_SUITE_P(Tools, EndToEndCardTools,
                         ::testing::Values(CardToolCase{"ViewerWithoutCard", ID_TOOL_VIEWER, false},
                                           CardToolCase{"TransferWithoutCard", ID_TOOL_TRANSFER, false},
                                           CardToolCase{"SlideShowWithoutCard", ID_TOOL_SLIDESHOW, false},
                                           CardToolCase{"ViewerWithCard", ID_TOOL_VIEWER, true},
                                           CardToolCase{"TransferWithCard", ID_TOOL_TRANSFER, true},
                                           CardToolCase{"SlideShowWithCard", ID_TOOL_SLIDESHOW, true}),
                         [](const ::testing::TestParamInfo<CardToolCase>& info) {
                           return std::string(info.param.name);
                         });

// The card tools and the conversion close when the camera is pulled, as the
// SD viewer does: nothing of theirs stands in front of them.
struct PulledToolCase {
  const char* name;
  int id;
};
void PrintTo(const PulledToolCase& c, std::ostream* os) { *os << c.name; }

class EndToEndPulledTools : public EndToEnd, public ::testing::WithParamInterface<PulledToolCase> {
 protected:
  EndToEndPulledTools() { withCard = true; }
};

TEST_P(EndToEndPulledTools, ThePulledCameraClosesTheOpenTool) {
  QPointer<QDialog> tool;
  bool unplugged = false, stayed = false;
  QElapsedTimer limit;
  QTimer watch;
  watch.setInterval(50);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!tool && !unplugged) {
      tool = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!tool) return;
      unplugged = emulator->Unplug();
      limit.start();
      if (!unplugged) tool->reject();
    } else if (tool && limit.hasExpired(20000)) {
      stayed = true;  // the limit: a tool that stays is closed here
      tool->reject();
    }
  });
  watch.start();
  Main()->GetAction(GetParam().id)->trigger();
  watch.stop();
  EXPECT_TRUE(unplugged);
  EXPECT_FALSE(stayed) << "the tool stayed open after the camera was pulled";
  EXPECT_FALSE(Main()->IsToolWindowOpen());
  EXPECT_EQ(Main()->GetStatusText(), "Unable to use the main unit.");
}
INSTANTIATE_TEST_SUITE_P(Tools, EndToEndPulledTools,
                         ::testing::Values(PulledToolCase{"Transfer", ID_TOOL_TRANSFER},
                                           PulledToolCase{"SlideShow", ID_TOOL_SLIDESHOW},
                                           PulledToolCase{"Conversion", ID_TOOL_CONVERT}),
                         [](const ::testing::TestParamInfo<PulledToolCase>& info) {
                           return std::string(info.param.name);
                         });

// The program's own boxes, as a user sees them: file and folder boxes are
// the real ones, message boxes are recorded and answered.
class RealBoxesUi : public CQtUserInterfaceService {
 public:
  int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override {
    const int recorded = recorder.MessageBox(owner, text, caption, type);
    return realMessages ? CQtUserInterfaceService::MessageBox(owner, text, caption, type) : recorded;
  }
  RecordingUi recorder;
  bool realMessages = false;  // show the real message box (and record its text)
};

class EndToEndBoxes : public EndToEnd {
 protected:
  EndToEndBoxes() { withCard = true; }
  void SetUp() override {
    EndToEnd::SetUp();
    SetUserInterfaceService(&boxes);
    Main()->show();
  }
  static QFileDialog* ShownBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QFileDialog*>(w); box && box->isVisible()) return box;
    return nullptr;
  }
  LONG OpenBoxes() { return app->GetControlDialog()->GetModalCount(); }
  RealBoxesUi boxes;
};

// A folder box of the transfer is open when the camera is pulled: the tool
// stays while the box stands in front of it, and closes once the box has.
// Both of its "..." boxes: the computer's folders and the card's.
struct FolderBoxCase {
  const char* name;
  const char* button;
};
void PrintTo(const FolderBoxCase& c, std::ostream* os) { *os << c.name; }

class EndToEndPulledWithABox : public EndToEndBoxes, public ::testing::WithParamInterface<FolderBoxCase> {};

TEST_P(EndToEndPulledWithABox, ThePulledCameraClosesTheTransferOnceItsBoxHasClosed) {
  QPointer<QDialog> tool;
  QPointer<QDialog> box;
  bool clicked = false, openAfterTheClick = false, unplugged = false, stayedWithTheBox = false, timedOut = false;
  LONG countWithTheBox = 0;
  QElapsedTimer limit;
  limit.start();
  QTimer script;
  script.setInterval(50);
  QObject::connect(&script, &QTimer::timeout, [&] {
    if (limit.hasExpired(30000)) {  // the limit: the test closes what stays
      timedOut = true;
      if (box) box->reject();
      if (tool) tool->reject();
      return;
    }
    if (!tool) {
      tool = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      return;
    }
    if (!clicked) {
      for (QPushButton* b : tool->findChildren<QPushButton*>())
        if (b->text() == GetParam().button) QTest::mouseClick(b, Qt::LeftButton);
      clicked = true;
      // The click returned at once, the box open: it answers later.
      for (QDialog* d : tool->findChildren<QDialog*>())
        if (d->isVisible() && d->isWindow()) openAfterTheClick = true;
      return;
    }
    if (!box) {
      for (QDialog* d : tool->findChildren<QDialog*>())
        if (d->isVisible() && d->isWindow()) box = d;
      if (!box) return;
      countWithTheBox = OpenBoxes();
      unplugged = emulator->Unplug();
      return;
    }
    if (box->isVisible() && Main()->GetStatusText() == "Unable to use the main unit.") {
      // The removal has been handled: the tool is still there behind the box.
      stayedWithTheBox = tool && tool->isVisible();
      box->reject();  // the user cancels the box
    }
  });
  script.start();
  Main()->GetAction(ID_TOOL_TRANSFER)->trigger();
  script.stop();
  EXPECT_FALSE(timedOut);
  EXPECT_TRUE(openAfterTheClick);
  EXPECT_TRUE(unplugged);
  EXPECT_EQ(countWithTheBox, 1);
  EXPECT_TRUE(stayedWithTheBox);
  EXPECT_FALSE(Main()->IsToolWindowOpen());
  EXPECT_TRUE(WaitFor([&] { return OpenBoxes() == 0 && !box; }));
  EXPECT_TRUE(boxes.recorder.Texts().empty());
}
INSTANTIATE_TEST_SUITE_P(Boxes, EndToEndPulledWithABox,
                         ::testing::Values(FolderBoxCase{"ComputerFolder", "&Browse..."},
                                           FolderBoxCase{"CardFolder", "B&rowse..."}),
                         [](const ::testing::TestParamInfo<FolderBoxCase>& info) {
                           return std::string(info.param.name);
                         });

// The main window closed while its Open box is open: the box goes with it,
// its answer never comes, the count of open boxes falls back to 0 and the
// program ends cleanly.
TEST_F(EndToEndBoxes, ClosingTheMainWindowWithItsOpenBoxEndsCleanly) {
  Main()->OnCommand(ID_FILE_OPENFILE);
  // The command returned at once, with the box open in front of the window.
  QPointer<QFileDialog> box = ShownBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowModality(), Qt::WindowModal);
  EXPECT_EQ(box->parentWidget(), Main());
  EXPECT_EQ(OpenBoxes(), 1);
  EXPECT_TRUE(Main()->close());
  app->ExitInstance();
  app.reset();
  EXPECT_TRUE(WaitFor([&] { return !box; }));
  EXPECT_TRUE(boxes.recorder.Texts().empty());
}

// The conversion's source box answers into the dialog while it is open; the
// dialog closed with the box open takes no answer.
TEST_F(EndToEndBoxes, TheMainWindowClosedWithAToolsBoxOpenEndsCleanly) {
  QPointer<QDialog> tool;
  QPointer<QFileDialog> box;
  bool clicked = false, closed = false, openAfterTheClick = false;
  LONG countWithTheBox = 0;
  QElapsedTimer limit;
  limit.start();
  QTimer script;
  script.setInterval(50);
  QObject::connect(&script, &QTimer::timeout, [&] {
    if (limit.hasExpired(30000)) {
      if (tool) tool->reject();
      return;
    }
    if (!tool) {
      tool = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      return;
    }
    if (!clicked) {
      for (QPushButton* b : tool->findChildren<QPushButton*>())
        if (b->text() == "&Browse...") QTest::mouseClick(b, Qt::LeftButton);
      clicked = true;
      openAfterTheClick = ShownBox() != nullptr;
      return;
    }
    if (!box) {
      box = ShownBox();
      if (box) countWithTheBox = OpenBoxes();
      return;
    }
    if (!closed) {
      closed = true;
      Main()->close();  // the main window ends the tool and its box with it
    }
  });
  script.start();
  Main()->GetAction(ID_TOOL_TRANSFER)->trigger();
  script.stop();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(openAfterTheClick);
  EXPECT_EQ(countWithTheBox, 1);
  EXPECT_TRUE(WaitFor([&] { return !box && !tool; }));
  EXPECT_EQ(OpenBoxes(), 0);
  app->ExitInstance();
  app.reset();
}

// Closing a changed picture: Yes to the question opens the save box without
// waiting; the window stays open behind it and closes once the box has
// saved the picture.
TEST_F(EndToEndBoxes, YesToTheQuestionSavesThroughTheBoxThenTheWindowCloses) {
  Main()->OnCommand(ID_TOOL_STILLCAPTURE);
  ASSERT_EQ(Main()->GetMdiArea()->subWindowList().size(), 1);
  QPointer<QMdiSubWindow> picture = Main()->GetMdiArea()->subWindowList().front();
  EXPECT_FALSE(picture->close());  // the question (answered Yes), then the box
  EXPECT_EQ(boxes.recorder.Texts(), std::vector<std::string>{"Save changes to the document Untitled-1 before closing?"});
  QPointer<QFileDialog> box = ShownBox();
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(picture && picture->isVisible());
  EXPECT_EQ(OpenBoxes(), 1);
  // A second close while the box is open asks nothing and keeps the window.
  EXPECT_FALSE(picture->close());
  EXPECT_EQ(boxes.recorder.Texts().size(), 1u);
  const std::string path = env->dir() + "/board.jpg";
  // The user types the name and presses Enter.
  auto* name = box->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(name, nullptr);
  QTest::mouseClick(name, Qt::LeftButton);
  name->selectAll();
  QTest::keyClick(name, Qt::Key_Delete);
  box->setDirectory(QString::fromStdString(env->dir()));  // the folder the user went to
  QTest::keyClicks(name, QStringLiteral("board.jpg"));
  QPushButton* save = nullptr;
  for (QPushButton* b : box->findChildren<QPushButton*>())
    if (b->text().remove('&') == "Save") save = b;
  ASSERT_NE(save, nullptr);
  ASSERT_TRUE(WaitFor([&] { return save->isEnabled(); }));
  QTest::mouseClick(save, Qt::LeftButton);
  EXPECT_TRUE(WaitFor([&] { return !picture; }));
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_TRUE(WaitFor([&] { return OpenBoxes() == 0 && !box; }));
}

// A chosen file whose name cannot be used is refused with a message, shown
// after the file box has closed: that message still stands in front of the
// conversion, so a camera pulled while the box was open closes the tool only
// once the message has closed too.
TEST_F(EndToEndBoxes, APulledCameraClosesTheConversionOnlyOnceTheRefusalMessageHasClosed) {
  boxes.realMessages = true;
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("fotavi-refused-" + std::to_string(QCoreApplication::applicationPid()));
  std::filesystem::create_directories(folder);
  const std::string refused = (folder / "con.jpg").string();  // a device name
  { FILE* f = std::fopen(refused.c_str(), "wb"); ASSERT_NE(f, nullptr); std::fclose(f); }
  QPointer<QDialog> tool;
  QPointer<QFileDialog> box;
  QPointer<QMessageBox> message;
  bool clicked = false, unplugged = false, typed = false, timedOut = false;
  bool toolWithTheMessage = true;
  LONG leastCountWithTheMessage = 99;
  int ticksWithTheMessage = 0;
  QElapsedTimer limit;
  limit.start();
  QTimer script;
  script.setInterval(50);
  QObject::connect(&script, &QTimer::timeout, [&] {
    if (limit.hasExpired(30000)) {  // the limit: the test closes what stays
      timedOut = true;
      if (message) message->accept();
      if (box) box->reject();
      if (tool) tool->reject();
      return;
    }
    if (!tool) {
      tool = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      return;
    }
    if (!clicked) {
      for (QPushButton* b : tool->findChildren<QPushButton*>())
        if (b->text() == "&Browse...") QTest::mouseClick(b, Qt::LeftButton);
      clicked = true;
      return;
    }
    if (!box && !typed) {
      box = ShownBox();
      if (box) unplugged = emulator->Unplug();
      return;
    }
    if (!typed) {
      if (Main()->GetStatusText() != "Unable to use the main unit.") return;
      // The removal has been handled with the box open; the user now picks
      // the file by typing its path.
      auto* name = box->findChild<QLineEdit*>("fileNameEdit");
      if (!name) {
        box->reject();
        typed = true;
        return;
      }
      name->setFocus();
      name->selectAll();
      QTest::keyClicks(name, QString::fromStdString(refused));
      typed = true;
      // Enter from a turn of its own, so that this script runs on while the
      // message it brings stands.
      QTimer::singleShot(0, name, [name] { QTest::keyClick(name, Qt::Key_Return); });
      return;
    }
    if (!message) {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<QMessageBox*>(w); m && m->isVisible()) message = m;
      return;
    }
    // The message stands: the tool behind it stays, counted boxes and all.
    leastCountWithTheMessage = std::min(leastCountWithTheMessage, OpenBoxes());
    if (!tool || !tool->isVisible()) toolWithTheMessage = false;
    if (++ticksWithTheMessage == 5) message->accept();  // the user reads it and clicks OK
  });
  script.start();
  Main()->GetAction(ID_TOOL_CONVERT)->trigger();
  script.stop();
  std::filesystem::remove_all(folder);
  EXPECT_FALSE(timedOut);
  EXPECT_TRUE(unplugged);
  ASSERT_TRUE(typed);
  ASSERT_GE(ticksWithTheMessage, 1) << "no refusal message was shown";
  const std::vector<std::string> texts = boxes.recorder.Texts();
  EXPECT_EQ(texts, std::vector<std::string>{"The specified file is not available."});
  EXPECT_TRUE(toolWithTheMessage) << "the conversion closed while its refusal message stood in front of it";
  EXPECT_GE(leastCountWithTheMessage, 1);
  EXPECT_FALSE(Main()->IsToolWindowOpen());
  EXPECT_TRUE(WaitFor([&] { return OpenBoxes() == 0; }));
}

// The capture dialog's window: its controls and captions, labels that fit,
// the close box asking to close, the version box, and view calls from
// another thread arriving on the window's thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <thread>

#include "CaptureCore.h"
#include "DsGuiThread.h"
#include "TwainDSApp.h"
#include "TwainDlg.h"

namespace {

class RecordingOwner : public ICaptureOwner {
 public:
  void OnUserTransfer() override { ++transfers; }
  void OnUserClose() override { ++closes; }
  int transfers = 0;
  int closes = 0;
};

bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

class Dialog : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog = std::make_unique<CTwainDlg>(CTwainDSApp::MakeIdentity());
    core = std::make_unique<CCaptureCore>(&link, &image, &owner, dialog.get());
    dialog->SetCore(core.get());
    dialog->show();
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    if (!dialog) return;  // the test took it down itself
    dialog->SetCore(nullptr);
    core.reset();
    dialog.reset();
  }
  CDeviceLink link{[](const std::string&) {}};  // never loaded: no camera
  CDSImage image;
  RecordingOwner owner;
  std::unique_ptr<CTwainDlg> dialog;
  std::unique_ptr<CCaptureCore> core;
};

struct ControlRow {
  int id;
  const char* caption;
  bool enabledAtStart;
};

class DialogControls : public Dialog, public ::testing::WithParamInterface<ControlRow> {};

}  // namespace

TEST_P(DialogControls, EachControlHasItsCaptionAndAFittingLabel) {
  const ControlRow& row = GetParam();
  QPushButton* b = dialog->Control(row.id);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->text(), QString::fromUtf8(row.caption));
  EXPECT_EQ(b->isEnabled(), row.enabledAtStart);
  EXPECT_GE(b->width(), b->sizeHint().width()) << "the caption fits";
}

namespace {
// The case's name: the test's name and its printed parameter.
std::string ControlRowName(const ControlRow& c) {
  std::string n;
  for (char ch : std::string(c.caption)) n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return n + "_" + std::to_string(c.id);
}
void PrintTo(const ControlRow& c, std::ostream* os) { *os << ControlRowName(c); }
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    All, DialogControls,
    ::testing::Values(ControlRow{IDC_TWAIN_STILL, "ST&ILL", true}, ControlRow{IDC_TWAIN_PLAY, "&PLAY", true},
                      ControlRow{IDC_TWAIN_STOP, "&STOP", false}, ControlRow{IDC_TWAIN_TRANSFER, "&TRANSFER", false},
                      ControlRow{IDC_TWAIN_CLOSE, "&CLOSE", true}, ControlRow{IDC_TWAIN_ABOUT, "&ABOUT...", true},
                      ControlRow{IDC_IRIS_OPEN, "OPEN", true}, ControlRow{IDC_IRIS_CLOSE, "CLOSE", true},
                      ControlRow{IDC_IRIS_NORMAL, "NORMAL", true}, ControlRow{IDC_FOCUS_NEAR, "NEAR", true},
                      ControlRow{IDC_FOCUS_FAR, "FAR", true}, ControlRow{IDC_FOCUS_AUTO, "AF", true},
                      ControlRow{IDC_ZOOM_TELE, "TELE", true}, ControlRow{IDC_ZOOM_WIDE, "WIDE", true}),
    [](const auto& info) { return ControlRowName(info.param); });

TEST_F(Dialog, TheCaptionAndThePreviewArea) {
  EXPECT_EQ(dialog->windowTitle(), "Tiryx TWAIN DS (K27)");
  int w = 0, h = 0;
  dialog->PreviewSize(&w, &h);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(dialog->Preview()->size(), QSize(320, 240));
}

TEST_F(Dialog, TheCloseBoxAndEscapeAskTheApplicationToClose) {
  dialog->close();
  EXPECT_EQ(owner.closes, 1);
  EXPECT_TRUE(dialog->isVisible()) << "the application closes the source, not the window";
  QMetaObject::invokeMethod(dialog.get(), "reject");  // what Escape calls
  EXPECT_EQ(owner.closes, 2);
}

TEST_F(Dialog, StillWithoutACameraSaysSoAndOffersNothing) {
  std::vector<std::string> boxes;
  SetDsMessageBoxHandler([&](const std::string& text) { boxes.push_back(text); });
  dialog->Control(IDC_TWAIN_STILL)->click();
  ASSERT_TRUE(PumpUntil([&] { return !boxes.empty(); }));
  EXPECT_EQ(boxes, std::vector<std::string>{"Unable to acquire still image."});
  EXPECT_FALSE(dialog->Control(IDC_TWAIN_TRANSFER)->isEnabled());
  SetDsMessageBoxHandler({});
}

TEST_F(Dialog, ViewCallsFromAnotherThreadArriveOnTheWindowsThread) {
  CBitmap24 picture = CreateBitmap24(320, 240);
  picture.fill(Qt::red);
  std::thread worker([&] {
    dialog->EnableControl(IDC_TWAIN_TRANSFER, true);
    dialog->ShowPreview(picture);
  });
  worker.join();
  ASSERT_TRUE(PumpUntil([&] { return dialog->Control(IDC_TWAIN_TRANSFER)->isEnabled(); }));
  ASSERT_TRUE(PumpUntil([&] { return !dialog->ShownPicture().isNull(); }));
  EXPECT_EQ(dialog->ShownPicture().pixelColor(10, 10), QColor(Qt::red));
}

// Opens the version box as a user does: Alt+A on the shown dialog.
QPointer<QDialog> OpenVersionBox(CTwainDlg* dialog) {
  dialog->activateWindow();
  if (!QTest::qWaitForWindowActive(dialog)) return nullptr;
  QTest::keyClick(dialog, Qt::Key_A, Qt::AltModifier);
  // A mnemonic clicks its button the way a user sees it: pressed, released a moment later.
  PumpUntil([&] { return dialog->VersionBox() != nullptr; });
  return dialog->VersionBox();
}

TEST_F(Dialog, AltAOpensTheVersionBoxWithNameVersionAndCompanyAndEscapeClosesIt) {
  QPointer<QDialog> box = OpenVersionBox(dialog.get());
  ASSERT_FALSE(box.isNull());
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->windowTitle(), "Tiryx TWAIN DS (K27)");
  QStringList texts;
  for (QLabel* label : box->findChildren<QLabel*>()) texts << label->text();
  for (const char* expected : {"Product Name", "Version", "Company", "Tiryx TWAIN DS (K27)", "Version 1.10"})
    EXPECT_TRUE(texts.contains(expected)) << expected << " in " << texts.join(", ").toStdString();
  // A second ABOUT brings the same box forward.
  dialog->Control(IDC_TWAIN_ABOUT)->click();
  EXPECT_EQ(dialog->VersionBox(), box.data());
  EXPECT_EQ(dialog->findChildren<QDialog*>("TiryxK27VersionBox").size(), 1);
  QTest::keyClick(box, Qt::Key_Escape);
  EXPECT_TRUE(PumpUntil([&] { return box.isNull(); })) << "closed and gone";
  EXPECT_EQ(owner.closes, 0) << "Escape on the box does not ask to close the source";
}

TEST_F(Dialog, TheVersionBoxGoesWithTheDialog) {
  QPointer<QDialog> box = OpenVersionBox(dialog.get());
  ASSERT_FALSE(box.isNull());
  dialog->SetCore(nullptr);
  core.reset();
  dialog.reset();
  EXPECT_TRUE(box.isNull());
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_NE(w->objectName(), "TiryxK27VersionBox");
}

TEST(DialogTeardown, WhenTheWindowsThreadIsLateItsQueuedCommandsStillReachALiveCore) {
  CDeviceLink link{[](const std::string&) {}};
  CDSImage image;
  RecordingOwner owner;
  const TW_IDENTITY identity = CTwainDSApp::MakeIdentity();
  const CaptureDialogParams params{nullptr, &link, &image, &owner, &identity};
  std::unique_ptr<ICaptureDialog> made;
  std::atomic<bool> done{false};
  std::thread maker([&] {
    made = MakeQtCaptureDialog(params);
    done = true;
  });
  // Made once this thread has answered, however long that takes.
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 60000));
  maker.join();
  ASSERT_NE(made, nullptr);
  QPointer<CTwainDlg> dlg;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == "TiryxK27CaptureDialog") dlg = qobject_cast<CTwainDlg*>(w);
  }
  ASSERT_FALSE(dlg.isNull());
  // A CLOSE click waits in the window's queue while the source tears the
  // dialog down from another thread, and this thread pumps nothing
  // meanwhile: every call to it runs out of time.
  QMetaObject::invokeMethod(dlg, [d = dlg.data()] { d->Control(IDC_TWAIN_CLOSE)->click(); }, Qt::QueuedConnection);
  // Late for certain, however short the limit: this thread answers only
  // once the teardown is over.
  SetDsGuiCallLimit(300);
  std::thread closer([&] { made.reset(); });
  closer.join();
  EXPECT_TRUE(PumpUntil([&] { return dlg.isNull(); }));
  EXPECT_EQ(owner.closes, 1) << "the click reached the core";
  SetDsGuiCallLimit(30000);
}

int main(int argc, char** argv) {
  // Freed blocks are overwritten and not cached, so a window that reaches a
  // deleted object fails instead of reading what was left there. The C
  // library reads both settings at start: the program starts again with them.
  if (!std::getenv("MALLOC_PERTURB_")) {
    setenv("MALLOC_PERTURB_", "165", 1);
    setenv("GLIBC_TUNABLES", "glibc.malloc.tcache_count=0", 1);
    execv("/proc/self/exe", argv);
    return 127;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

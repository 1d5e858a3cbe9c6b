// The data source in a Qt program: the host's GUI thread calls DS_Entry and
// pumps the events, so the capture dialog lives on that thread. The eight
// camera buttons are pressed and released like a user does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>


#include "CaptureCore.h"
#include "CommonFunc.h"
#include "DsFixture.h"
#include "IsolatedCamera.h"
#include "TwainHost.h"

using namespace twain_test;

namespace {

fotavi::test::EmulatorProcess* g_emulator = nullptr;  // the camera main() starts
RecordingUi g_ui;

bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

QDialog* FindDialog() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == "TiryxK27CaptureDialog" && w->isVisible()) return qobject_cast<QDialog*>(w);
  }
  return nullptr;
}

std::pair<long, long> Count(WORD cmd) { return EmulatorCount(*g_emulator, cmd); }

class QtHost : public ::testing::Test {
 protected:
  void SetUp() override {
    g_emulator->Command("clear");
    std::string error;
    ASSERT_TRUE(host.Load(TWAIN_DS_MODULE, &error)) << error;
    ASSERT_TRUE(host.Scan());
    ASSERT_EQ(host.OpenDS(true), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(true), TWRC_SUCCESS);
    dialog = FindDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->thread(), QThread::currentThread()) << "the dialog lives on the host's GUI thread";
  }
  void TearDown() override {
    host.Disable();
    host.CloseDS();
    EXPECT_EQ(FindDialog(), nullptr);
  }
  QPushButton* Button(int id) { return dialog->findChild<QPushButton*>(QString("control%1").arg(id)); }
  CTwainHost host;
  QDialog* dialog = nullptr;
};

struct ButtonRow {
  int id;
  WORD command;
  long pressValue;   // -1: nothing sent at press
  long releaseValue; // -1: nothing sent at release
};

class QtHostButtons : public QtHost, public ::testing::WithParamInterface<ButtonRow> {};

}  // namespace

TEST_P(QtHostButtons, PressAndReleaseSendTheCamerasCommand) {
  const ButtonRow& row = GetParam();
  QPushButton* button = Button(row.id);
  ASSERT_NE(button, nullptr);
  const auto start = Count(row.command);
  long expected = start.first;
  QTest::mousePress(button, Qt::LeftButton);
  if (row.pressValue >= 0) {
    ++expected;
    ASSERT_TRUE(PumpUntil([&] { return Count(row.command).first == expected; }));
    EXPECT_EQ(Count(row.command).second, row.pressValue);
  }
  QTest::mouseRelease(button, Qt::LeftButton);
  if (row.releaseValue >= 0) {
    ++expected;
    ASSERT_TRUE(PumpUntil([&] { return Count(row.command).first == expected; }));
    EXPECT_EQ(Count(row.command).second, row.releaseValue);
  }
  QTest::qWait(100);
  EXPECT_EQ(Count(row.command).first, expected) << "nothing else was sent";
}

namespace {
// The case's name: the test's name and its printed parameter.
std::string ButtonRowName(const ButtonRow& c) { return std::string(FindCameraButton(c.id)->caption); }
void PrintTo(const ButtonRow& c, std::ostream* os) { *os << ButtonRowName(c); }
}  // namespace

INSTANTIATE_TEST_SUITE_P(Eight, QtHostButtons,
                         ::testing::Values(ButtonRow{IDC_IRIS_OPEN, 0xE2, 2, 4}, ButtonRow{IDC_IRIS_CLOSE, 0xE2, 3, 4},
                                           ButtonRow{IDC_IRIS_NORMAL, 0xE2, 5, -1},
                                           ButtonRow{IDC_FOCUS_NEAR, 0xEA, 1, 0}, ButtonRow{IDC_FOCUS_FAR, 0xEA, 2, 0},
                                           ButtonRow{IDC_FOCUS_AUTO, 0xE1, -1, 0}, ButtonRow{IDC_ZOOM_TELE, 0xE0, 1, 0},
                                           ButtonRow{IDC_ZOOM_WIDE, 0xE0, 2, 0}),
                         [](const auto& info) { return ButtonRowName(info.param); });

TEST_F(QtHost, TransferOfTheStillFromTheHostsOwnThread) {
  QTest::mouseClick(Button(IDC_TWAIN_STILL), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return Button(IDC_TWAIN_TRANSFER)->isEnabled(); }));
  QTest::mouseClick(Button(IDC_TWAIN_TRANSFER), Qt::LeftButton);
  ASSERT_TRUE(host.WaitNotice(MSG_XFERREADY, 1, 5000));
  std::vector<TW_UINT8> rgb;
  TW_UINT32 width = 0, rows = 0;
  ASSERT_EQ(host.TransferMemory(0, &rgb, &width, &rows), TWRC_XFERDONE);
  EXPECT_EQ(rows, 768u);
  TW_UINT16 count = 9;
  ASSERT_EQ(host.EndTransfer(&count), TWRC_SUCCESS);
  EXPECT_EQ(count, 0);
  ASSERT_TRUE(PumpUntil([&] { return Button(IDC_TWAIN_TRANSFER)->isEnabled(); }));
}

TEST_F(QtHost, ThePreviewRunsInTheHostsEventLoop) {
  QTest::mouseClick(Button(IDC_TWAIN_PLAY), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return Button(IDC_TWAIN_STOP)->isEnabled(); }));
  EXPECT_FALSE(Button(IDC_TWAIN_STILL)->isEnabled());
  auto* preview = dialog->findChild<QLabel*>("preview");
  ASSERT_TRUE(PumpUntil([&] { return !preview->pixmap().isNull(); }));
  QTest::mouseClick(Button(IDC_TWAIN_STOP), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return Button(IDC_TWAIN_PLAY)->isEnabled(); }));
  EXPECT_FALSE(Button(IDC_TWAIN_STOP)->isEnabled());
}

TEST_F(QtHost, AnApplicationThatClosesInsideTheCloseNoticeDoesNotCrash) {
  // The application answers the request at once, inside the notice, while
  // the dialog's CLOSE click is still being handled.
  int handled = 0;
  host.onNotice = [&](TW_UINT16 msg) {
    if (msg != MSG_CLOSEDSREQ) return;
    ++handled;
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
  };
  QPointer<QPushButton> close = Button(IDC_TWAIN_CLOSE);
  QTest::mouseClick(close, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return handled == 1; }));
  PumpUntil([&] { return close.isNull(); }, 3000);
  EXPECT_TRUE(close.isNull()) << "the dialog went with DISABLEDS";
  host.onNotice = nullptr;
}

TEST(QtHostWithoutScreen, ARefusedOpenShowsNoBoxNobodyCouldAnswer) {
  // The offscreen platform draws into memory only; the program installed no
  // user-interface service of its own.
  SetUserInterfaceService(nullptr);
  std::unique_ptr<CNamedMutex> held;
  ASSERT_EQ(CreateAppMutex(APP_MUTEX_NAME, true, &held), APPMUTEX_CREATED);
  CTwainHost host;
  std::string error;
  ASSERT_TRUE(host.Load(TWAIN_DS_MODULE, &error)) << error;
  ASSERT_TRUE(host.Scan());
  // A box shown anyway would wait inside OPENDS: it is found and closed, so
  // the test fails instead of hanging.
  bool boxShown = false;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        boxShown = true;
        box->reject();
      }
    }
  });
  closer.start(200);
  EXPECT_EQ(host.OpenDS(true), TWRC_FAILURE);
  EXPECT_EQ(host.Status(), TWCC_NODS);
  EXPECT_FALSE(boxShown);
  SetUserInterfaceService(&g_ui);
}

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  IsolatedCamera camera("twainqt");
  if (!camera.Start()) return 1;
  g_emulator = camera.Emulator();
  SetUserInterfaceService(&g_ui);
  const int rc = RUN_ALL_TESTS();
  SetUserInterfaceService(nullptr);
  return rc;
}

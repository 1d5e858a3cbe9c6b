// Widgets of the shared components, offscreen: the remote-control panel
// against a recording device, the file chooser's checks against a recording
// user-interface service, the Qt message box service.
#include <QAbstractButton>
#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>
#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "FileSelDlg.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Messages.h"
#include "Platform/Settings.h"
#include "Platform/Sync.h"
#include "QtUserInterfaceService.h"
#include "StringTable.h"
#include "TestEnv.h"
#include "TiryxButton.h"
#include "TiryxDialog.h"
#include "WindowHelpers.h"

namespace {

// Records every command block the panel sends.
class RecordingDevice : public CDeviceInterface {
 public:
  struct Sent {
    HWND target;
    DEVICE_CMD cmd;
  };
  std::vector<Sent> sent;
  DWORD connected = 1;

  BOOL bSetNotifyWindow(HWND) override { return TRUE; }
  DWORD bIsConnected() override { return connected; }
  BOOL bOpen(HWND, DWORD* e) override { return Fail(e); }
  BOOL bClose(DWORD* e) override { return Fail(e); }
  BOOL bIoctlAsync(HWND, DWORD, const void*, DWORD, WORD*, DWORD* e) override { return Fail(e); }
  BOOL bIoctl(DWORD, void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Fail(e); }
  BOOL bReadAsync(HWND, void*, DWORD, WORD*, DWORD* e) override { return Fail(e); }
  BOOL bRead(void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Fail(e); }
  BOOL bWriteAsync(HWND, const void*, DWORD, WORD*, DWORD* e) override { return Fail(e); }
  BOOL bWrite(const void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Fail(e); }
  BOOL bRequestAsync(HWND, CRequestParam*, WORD*, DWORD* e) override { return Fail(e); }
  BOOL bRequestAsync(HWND target, const DEVICE_CMD* cmd, WORD* seq, DWORD* e) override {
    sent.push_back({target, *cmd});
    if (seq) *seq = static_cast<WORD>(sent.size());
    if (e) *e = 0;
    return TRUE;
  }
  BOOL bRequest(CRequestParam*, DWORD* e) override { return Fail(e); }
  BOOL bRequest(const DEVICE_CMD*, HGLOBAL*, DWORD*, DWORD* e) override { return Fail(e); }

  // Commands as "code:value" texts, for comparing with the expected rows.
  QStringList Texts() const {
    QStringList list;
    for (const auto& s : sent) list << QString("%1:%2").arg(s.cmd.wCommand).arg(s.cmd.dwParam);
    return list;
  }

 private:
  static BOOL Fail(DWORD* e) {
    if (e) *e = ERR_FOTAVI_NOOPEN;
    return FALSE;
  }
};

// Answers the file chooser with a fixed result and records message boxes.
class RecordingService : public IUserInterfaceService {
 public:
  int MessageBox(HWND, const std::string& text, const std::string& caption, UINT type) override {
    boxes.push_back({text, caption, type});
    return IDOK;
  }
  FileChooserResult ChooseFile(HWND, const FileChooserRequest& r) override {
    requests.push_back(r);
    return answer;
  }
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return {}; }
  struct Box {
    std::string text, caption;
    UINT type;
  };
  std::vector<Box> boxes;
  std::vector<FileChooserRequest> requests;
  FileChooserResult answer;
};

}  // namespace

class CommonUiTest : public QObject {
  Q_OBJECT

 private:
  RecordingDevice device_;
  std::unique_ptr<CTiryxDialog> panel_;
  HWND owner_ = nullptr;
  int closedNotices_ = 0;
  std::string root_;

  void Act(const QString& step) {
    // "press X", "release X" or "click X" with X the caption without "BTN".
    const QStringList parts = step.split(' ');
    CTiryxButton* button = panel_->ButtonByCaption("BTN" + parts[1]);
    QVERIFY2(button, qPrintable(step));
    if (parts[0] == "press" || parts[0] == "click") QTest::mousePress(button, Qt::LeftButton);
    if (parts[0] == "release" || parts[0] == "click") QTest::mouseRelease(button, Qt::LeftButton);
  }

 private slots:
  void initTestCase() {
    root_ = fotavi_test::IsolateEnvironment("ui");
    owner_ = CreateWindowTarget(
        [this](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
          if (msg == WM_REMOTECTRL_CLOSED) ++closedNotices_;
          return 0;
        },
        "owner");
  }
  void cleanupTestCase() {
    panel_.reset();
    DestroyWindow(owner_);
    std::filesystem::remove_all(root_);
  }
  void init() {
    device_.sent.clear();
    panel_ = std::make_unique<CTiryxDialog>(&device_);
    QVERIFY(panel_->Create(owner_));
    panel_->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
  }
  void cleanup() { panel_.reset(); }

  // ---------------------------------------------------------- panel layout

  void panelHasTheTableLayout() {
    QCOMPARE(panel_->windowTitle(), QString("Remote Control"));
    QCOMPARE(panel_->size(), QSize(240, 527));
    for (int i = 0; i < TIRYX_BUTTON_COUNT; ++i) {
      const TIRYX_BUTTON_DEF& def = g_TiryxButtons[static_cast<size_t>(i)];
      CTiryxButton* button = panel_->Button(i);
      QVERIFY(button);
      QCOMPARE(button->geometry(), QRect(def.x, def.y, def.width, def.height));
      QCOMPARE(button->GetCommand(), def.command);
      QCOMPARE(button->GetParameter(), def.parameter);
      QVERIFY(IsWindow(button->GetReplyWindow()));
    }
  }

  // ---------------------------------------------------------- keys

  void keys_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<WORD>("pendingAfter");
    using L = QStringList;
    QTest::newRow("PRESET then 3, then 3 again") << L{"click PRESET", "click 3", "click 3"} << L{"525:3"} << WORD(0);
    QTest::newRow("PRESET then CALL then 5") << L{"click PRESET", "click CALL", "click 5"} << L{"526:5"} << WORD(0);
    QTest::newRow("PRESET stays armed") << L{"click PRESET"} << L{} << WORD(525);
    QTest::newRow("number key unarmed") << L{"click 1", "click 8"} << L{} << WORD(0);
    QTest::newRow("PRESET then TELE disarms at press")
        << L{"click PRESET", "press TELE"} << L{"224:1"} << WORD(0);
    QTest::newRow("PRESET, TELE, then a number sends nothing more")
        << L{"click PRESET", "click TELE", "click 3"} << L{"224:1", "224:0"} << WORD(0);
    QTest::newRow("TELE and WIDE") << L{"click TELE", "click WIDE"} << L{"224:1", "224:0", "224:2", "224:0"} << WORD(0);
    QTest::newRow("NEAR and FAR") << L{"click NEAR", "click FAR"} << L{"234:1", "234:0", "234:2", "234:0"} << WORD(0);
    QTest::newRow("OPEN iris") << L{"press OPEN", "release OPEN"} << L{"226:2", "226:4"} << WORD(0);
    QTest::newRow("CLOSE iris") << L{"click CLOSE"} << L{"226:3", "226:4"} << WORD(0);
    QTest::newRow("NORMAL iris sends nothing on release") << L{"click NORMAL"} << L{"226:5"} << WORD(0);
    QTest::newRow("AF nothing at press") << L{"press AF"} << L{} << WORD(0);
    QTest::newRow("AF at release") << L{"click AF"} << L{"225:0"} << WORD(0);
    QTest::newRow("LAMP without a value") << L{"press LAMP", "release LAMP"} << L{"518:0"} << WORD(0);
    QTest::newRow("single-shot keys")
        << L{"click POSI", "click COLOR", "click IMAGE", "click PAUSE", "click SLIDE", "click CAMERA", "click SD",
             "click MEGANE", "click INPUT", "click EDGE", "click TEXT"}
        << L{"513:0", "514:0", "515:0", "516:0", "524:0", "523:0", "522:0", "521:0", "519:0", "520:0", "517:0"}
        << WORD(0);
    QTest::newRow("cursor keys carry their values")
        << L{"click MENU", "click UP", "click LEFT", "click ENTER", "click RIGHT", "click DOWN"}
        << L{"250:109", "250:107", "250:104", "250:13", "250:108", "250:106"} << WORD(0);
    QTest::newRow("PRESET then LAMP disarms") << L{"click PRESET", "click LAMP", "click 2"} << L{"518:0"} << WORD(0);
  }

  void keys() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, sent);
    QFETCH(WORD, pendingAfter);
    for (const QString& step : steps) Act(step);
    QCOMPARE(device_.Texts(), sent);
    QCOMPARE(panel_->GetPendingCommand(), pendingAfter);
    QCOMPARE(panel_->IsArmTimerRunning(), pendingAfter != 0);
    for (const auto& s : device_.sent) {
      // Every block goes to the sending button's own reply target, the rest zero.
      QVERIFY(IsWindow(s.target));
      QCOMPARE(s.cmd.wReserved, WORD(0));
      for (BYTE b : s.cmd.reserved) QCOMPARE(b, BYTE(0));
    }
  }

  void doubleClickActsAsASecondPress() {
    CTiryxButton* tele = panel_->ButtonByCaption("BTNTELE");
    QTest::mousePress(tele, Qt::LeftButton);
    QTest::mouseRelease(tele, Qt::LeftButton);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), tele->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tele, &dbl);
    QTest::mouseRelease(tele, Qt::LeftButton);
    QCOMPARE(device_.Texts(), (QStringList{"224:1", "224:0", "224:1", "224:0"}));
  }

  void replyGoesToTheButtonThatSent() {
    Act("click LAMP");
    QCOMPARE(device_.sent.size(), size_t(1));
    QCOMPARE(device_.sent[0].target, panel_->ButtonByCaption("BTNLAMP")->GetReplyWindow());
  }

  // ---------------------------------------------------------- arming timer

  void callKeepsThePresetTimer() {
    Act("click PRESET");
    const int timer = panel_->ArmTimerId();
    QVERIFY(timer != 0);
    Act("click CALL");
    QCOMPARE(panel_->ArmTimerId(), timer);
    QCOMPARE(panel_->GetPendingCommand(), WORD(526));
  }

  void armingRunsOutAfterFourSecondsAndCanArmAgain() {
    Act("click PRESET");
    QTest::qWait(3000);
    QCOMPARE(panel_->GetPendingCommand(), WORD(525));
    QTRY_COMPARE_WITH_TIMEOUT(panel_->GetPendingCommand(), WORD(0), 3000);
    QVERIFY(!panel_->IsArmTimerRunning());
    Act("click 3");
    QVERIFY(device_.sent.empty());
    Act("click PRESET");
    QVERIFY(panel_->IsArmTimerRunning());
    QCOMPARE(panel_->GetPendingCommand(), WORD(525));
  }

  // ---------------------------------------------------------- close and show

  void closeHidesAndNotifiesTheOwner() {
    closedNotices_ = 0;
    Act("click PRESET");
    panel_->close();
    QVERIFY(!panel_->isVisible());
    DrainMessages();
    QCOMPARE(closedNotices_, 1);
    panel_->show();
    QVERIFY(panel_->isVisible());
    QCOMPARE(panel_->GetPendingCommand(), WORD(525));  // state kept while hidden
    QTest::keyClick(panel_.get(), Qt::Key_Escape);
    QVERIFY(!panel_->isVisible());
    DrainMessages();
    QCOMPARE(closedNotices_, 2);
  }

  void showFollowsTheCamerasPresence_data() {
    QTest::addColumn<DWORD>("connected");
    QTest::addColumn<bool>("shown");
    QTest::newRow("camera connected") << DWORD(1) << true;
    QTest::newRow("camera missing") << DWORD(0) << false;
  }

  void showFollowsTheCamerasPresence() {
    QFETCH(DWORD, connected);
    QFETCH(bool, shown);
    panel_->hide();
    device_.connected = connected;
    panel_->show();
    const bool visible = panel_->isVisible();
    device_.connected = 1;
    QCOMPARE(visible, shown);
    // Hiding works whatever the camera does.
    panel_->show();
    QVERIFY(panel_->isVisible());
    device_.connected = 0;
    panel_->hide();
    device_.connected = 1;
    QVERIFY(!panel_->isVisible());
  }

  // ---------------------------------------------------------- labels

  void everyLabelFitsItsKey_data() {
    QTest::addColumn<double>("fontScale");
    QTest::newRow("default font") << 1.0;
    QTest::newRow("font scaled 1.5x") << 1.5;
  }

  void everyLabelFitsItsKey() {
    QFETCH(double, fontScale);
    const QFont original = QApplication::font();
    QFont scaled = original;
    if (scaled.pointSizeF() > 0) scaled.setPointSizeF(scaled.pointSizeF() * fontScale);
    else scaled.setPixelSize(qRound(scaled.pixelSize() * fontScale));
    QApplication::setFont(scaled);
    panel_->grab();  // render the panel with the font in effect
    int labelled = 0;
    for (int i = 0; i < TIRYX_BUTTON_COUNT; ++i) {
      CTiryxButton* button = panel_->Button(i);
      const QString label = button->Label();
      if (label.isEmpty()) continue;  // the arrow keys show arrows
      ++labelled;
      const QFont font = button->LabelFont();
      const QFontMetricsF fm(font);
      const QRectF box = button->LabelRect();
      QVERIFY2(fm.horizontalAdvance(label) <= box.width(),
               qPrintable(QString("%1: %2 px wide in %3").arg(label).arg(fm.horizontalAdvance(label)).arg(box.width())));
      QVERIFY2(fm.height() <= box.height(), qPrintable(label));
      QVERIFY2(QFontInfo(font).pixelSize() >= 6, qPrintable(label));
      QVERIFY(box.width() > 0 && QRectF(button->rect()).contains(box));
    }
    QApplication::setFont(original);
    QCOMPARE(labelled, TIRYX_BUTTON_COUNT - 4);
  }

  // ---------------------------------------------------------- completions

  void completionFreesTheBlockAndHandsTheRecordBack() {
    std::atomic<LPARAM> handedBack{0};
    CEvent got;
    CPlatformThread library([&] {
      RunMessageLoop([&](const MSG& msg) {
        if (msg.message == WM_FOTAVI_RELASERSP) {
          handedBack = msg.lParam;
          got.Set();
        }
      });
    });
    DEVICE_RSP reply{};
    reply.bResult = TRUE;
    reply.wCommand = 518;
    HGLOBAL block = GlobalAlloc(GHND, 16);
    reply.pData = block;
    HWND target = panel_->ButtonByCaption("BTNLAMP")->GetReplyWindow();
    QVERIFY(PostMessage(target, WM_FOTAVI_REQUEST, library.id(), reinterpret_cast<LPARAM>(&reply)));
    DrainMessages();
    QCOMPARE(got.Wait(5000), WAIT_OBJECT_0);
    QCOMPARE(handedBack.load(), reinterpret_cast<LPARAM>(&reply));
    QCOMPARE(GlobalFree(block), block);  // already freed: the handle is unknown now
    PostThreadMessage(library.id(), WM_QUIT, 0, 0);
    QVERIFY(library.Join(5000));
  }

  void completionWithoutARecordIsTolerated() {
    QCOMPARE(CTiryxButton::OnRequestComp(12345, 0), LRESULT(0));
    HWND target = panel_->ButtonByCaption("BTNAF")->GetReplyWindow();
    QVERIFY(PostMessage(target, WM_FOTAVI_REQUEST, 12345, 0));
    DrainMessages();
  }

  // ---------------------------------------------------------- file chooser

  void fileChooserStartsOnTheFileWithoutItsExtension() {
    RecordingService service;
    IUserInterfaceService* old = SetUserInterfaceService(&service);
    CFileSelDlg dialog(false, "jpg", "", OFN_OVERWRITEPROMPT, "JPEG (*.jpg)|*.jpg|BMP (*.bmp)|*.bmp||");
    std::string buffer = "/pics/a.jpg";
    QCOMPARE(dialog.DoModal("Save As", "/pics", &buffer, 260), IDCANCEL);
    QCOMPARE(service.requests.size(), size_t(1));
    const FileChooserRequest& r = service.requests[0];
    QCOMPARE(r.fileName, std::string("/pics/a"));
    QCOMPARE(r.folder, std::string("/pics"));
    QCOMPARE(r.title, std::string("Save As"));
    QVERIFY(r.save);
    QCOMPARE(r.filters.size(), size_t(2));
    QCOMPARE(r.filters[1].second, std::string("*.bmp"));
    QCOMPARE(buffer, std::string("/pics/a.jpg"));  // cancel leaves it
    QVERIFY(service.boxes.empty());
    SetUserInterfaceService(old);
  }

  void fileChooserChecksTheChoice_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("bufferLength");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("logText");
    const QString p20 = "/pics/abcdefghij.jpg";  // 20 characters
    QTest::newRow("length one below the buffer") << p20 << 21 << IDOK << QString();
    QTest::newRow("length equal to the buffer") << p20 << 20 << IDCANCEL << "Invalid File Path Length.";
    QTest::newRow("device name") << "/pics/nul.jpg" << 260 << IDCANCEL << "Invalid File Name.";
    QTest::newRow("reserved character") << "/pics/a|b.jpg" << 260 << IDCANCEL << "Invalid File Name.";
    QTest::newRow("Japanese name") << QString::fromUtf8("/pics/\xE5\x86\x99\xE7\x9C\x9F.jpg") << 260 << IDOK
                                   << QString();
  }

  void fileChooserChecksTheChoice() {
    QFETCH(QString, chosen);
    QFETCH(int, bufferLength);
    QFETCH(int, result);
    QFETCH(QString, logText);
    const std::string install = root_ + "/install";
    std::filesystem::create_directories(install + "/Logs");
    std::filesystem::remove(install + "/Logs/FotaviPreTrc.log");
    QVERIFY(SettingsWriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters",
                                "InstallPath", install));
    SetApplicationTitle("Fotavi");
    SetStringTableEntry(160, "The specified file is not available.");

    RecordingService service;
    service.answer.accepted = true;
    service.answer.paths = {chosen.toStdString()};
    service.answer.filterIndex = 1;
    IUserInterfaceService* old = SetUserInterfaceService(&service);
    CFileSelDlg dialog(true, "", "", 0, "JPEG|*.jpg|BMP|*.bmp||");
    std::string buffer = "/old/x.jpg";
    QCOMPARE(dialog.DoModal(nullptr, nullptr, &buffer, static_cast<size_t>(bufferLength)), result);
    SetUserInterfaceService(old);

    if (result == IDOK) {
      QCOMPARE(QString::fromStdString(buffer), chosen);
      QCOMPARE(dialog.GetFilterIndex(), 1);
      QVERIFY(service.boxes.empty());
    } else {
      QCOMPARE(buffer, std::string("/old/x.jpg"));
      QCOMPARE(dialog.GetFilterIndex(), 0);  // remembered only after a good choice
      QCOMPARE(service.boxes.size(), size_t(1));
      QCOMPARE(service.boxes[0].text, std::string("The specified file is not available."));
      QCOMPARE(service.boxes[0].caption, std::string("Fotavi"));
      QCOMPARE(service.boxes[0].type, MB_OK | MB_ICONEXCLAMATION);
      const std::string log = fotavi_test::ReadFile(install + "/Logs/FotaviPreTrc.log");
      QVERIFY2(log.find("[CFileSelDlg::DoModal            ] " + logText.toStdString() + "\r\n") != std::string::npos,
               log.c_str());
    }
  }

  void filterIndexIsRememberedBetweenCalls() {
    RecordingService service;
    service.answer.accepted = true;
    service.answer.paths = {"/pics/b.bmp"};
    service.answer.filterIndex = 1;
    IUserInterfaceService* old = SetUserInterfaceService(&service);
    CFileSelDlg dialog(true, "", "", 0, "JPEG|*.jpg|BMP|*.bmp||");
    std::string buffer = "/pics/a.jpg";
    QCOMPARE(dialog.DoModal(nullptr, nullptr, &buffer, 260), IDOK);
    QCOMPARE(dialog.DoModal(nullptr, nullptr, &buffer, 260), IDOK);
    QCOMPARE(service.requests[0].filterIndex, 0);
    QCOMPARE(service.requests[1].filterIndex, 1);
    SetUserInterfaceService(old);
  }

  // ---------------------------------------------------------- Qt service

  void qtMessageBoxMapsButtonsAndIcons_data() {
    QTest::addColumn<UINT>("type");
    QTest::addColumn<int>("click");  // QMessageBox::StandardButton to press
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("icon");
    QTest::newRow("OK stop") << (MB_OK | MB_ICONSTOP) << int(QMessageBox::Ok) << IDOK << int(QMessageBox::Critical);
    QTest::newRow("Yes/No/Cancel exclamation, No")
        << (MB_YESNOCANCEL | MB_ICONEXCLAMATION) << int(QMessageBox::No) << IDNO << int(QMessageBox::Warning);
    QTest::newRow("Yes/No question, Yes")
        << (MB_YESNO | MB_ICONQUESTION) << int(QMessageBox::Yes) << IDYES << int(QMessageBox::Question);
    QTest::newRow("OK/Cancel information, Cancel")
        << (MB_OKCANCEL | MB_ICONINFORMATION) << int(QMessageBox::Cancel) << IDCANCEL
        << int(QMessageBox::Information);
    QTest::newRow("Retry/Cancel, Retry") << UINT(MB_RETRYCANCEL) << int(QMessageBox::Retry) << IDRETRY
                                         << int(QMessageBox::NoIcon);
  }

  void qtMessageBoxMapsButtonsAndIcons() {
    QFETCH(UINT, type);
    QFETCH(int, click);
    QFETCH(int, answer);
    QFETCH(int, icon);
    int seenIcon = -1;
    QString seenText, seenCaption;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      seenIcon = box->icon();
      seenText = box->text();
      seenCaption = box->windowTitle();
      box->button(static_cast<QMessageBox::StandardButton>(click))->click();
    });
    CQtUserInterfaceService service;
    QCOMPARE(service.MessageBox(nullptr, "Body text", "Caption", type), answer);
    QCOMPARE(seenIcon, icon);
    QCOMPARE(seenText, QString("Body text"));
    QCOMPARE(seenCaption, QString("Caption"));
  }

  // A short text under a long caption: the box is as wide as the caption
  // in a bold face, with room for the icon and the caption buttons.
  void qtMessageBoxIsWideEnoughForItsCaption() {
    const QString caption = QStringLiteral("Fotavi for Presentation");
    int width = 0;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      width = box->frameGeometry().width();
      box->button(QMessageBox::Ok)->click();
    });
    CQtUserInterfaceService service;
    QCOMPARE(service.MessageBox(nullptr, "Done.", caption.toStdString(), MB_OK), IDOK);
    QFont bold = QApplication::font();
    bold.setBold(true);
    QVERIFY2(width >= QFontMetrics(bold).horizontalAdvance(caption) + 4 * 24,
             qPrintable(QString("box %1 wide").arg(width)));
  }

  void qtMessageBoxFromAWorkerThreadRunsOnTheGuiThread() {
    CQtUserInterfaceService service;
    std::atomic<int> answer{-1};
    QThread* boxThread = nullptr;
    // The box runs its own loop on this thread; a timer inside that loop answers it.
    QTimer answerer;
    answerer.setInterval(20);
    connect(&answerer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      boxThread = box->thread();
      box->button(QMessageBox::Yes)->click();
    });
    answerer.start();
    std::thread worker([&] { answer = service.MessageBox(nullptr, "From a worker", "Caption", MB_YESNO); });
    QTRY_COMPARE_WITH_TIMEOUT(answer.load(), IDYES, 10000);
    worker.join();
    answerer.stop();
    QCOMPARE(boxThread, qApp->thread());
  }


  void chooserColumnsFitTheirContents() {
    // A file whose size, type and date texts must read whole.
    const QString folder = QString::fromStdString(root_);
    {
      QFile file(folder + "/a-picture-with-a-rather-long-name.jpg");
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(QByteArray(38 * 1024 + 123, 'x'));
    }
    // At 1.5x font scaling, where fixed column widths give way first.
    const QFont original = QApplication::font();
    QFont scaled = original;
    if (scaled.pointSizeF() > 0) scaled.setPointSizeF(scaled.pointSizeF() * 1.5);
    QApplication::setFont(scaled);
    QTimer inspector;
    inspector.setInterval(20);
    int tries = 0;
    bool checked = false;
    QStringList cut;
    connect(&inspector, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      auto* tree = dialog->findChild<QTreeView*>();
      if (++tries < 100 && (!tree || !tree->model() || tree->model()->rowCount(tree->rootIndex()) == 0)) return;
      if (tree && tree->model() && tree->model()->rowCount(tree->rootIndex()) > 0) {
        dialog->resize(520, 380);  // a small dialog: the name column gives way, the others do not
        QApplication::processEvents();
        checked = true;
        for (int column = 1; column < tree->header()->count(); ++column) {
          if (tree->isColumnHidden(column)) continue;
          int wanted = 0;
          const QAbstractItemModel* model = tree->model();
          for (int row = 0; row < model->rowCount(tree->rootIndex()); ++row) {
            const QString text = model->index(row, column, tree->rootIndex()).data().toString();
            wanted = std::max(wanted, tree->fontMetrics().horizontalAdvance(text) + 4);
          }
          if (tree->header()->sectionSize(column) < wanted)
            cut << QString("%1: %2 < %3").arg(column).arg(tree->header()->sectionSize(column)).arg(wanted);
        }
      }
      QMetaObject::invokeMethod(dialog, "reject");
    });
    inspector.start();
    CQtUserInterfaceService service;
    FileChooserRequest request;
    request.title = "Open";
    request.folder = root_;
    request.filters = {{"JPEG", "*.jpg"}};
    service.ChooseFile(nullptr, request);
    QApplication::setFont(original);
    QVERIFY(checked);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(", ")));
  }

  void qtFileChooserMapsFiltersAndAnswers() {
    const QString folder = QString::fromStdString(root_);
    QStringList seenFilters;
    QString seenSelected;
    // The dialog fills its folder view in the background; its answer is
    // tried again on the next tick until the dialog takes it.
    QTimer answerer;
    answerer.setInterval(20);
    int tries = 0;
    connect(&answerer, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      if (tries++ == 0) {
        seenFilters = dialog->nameFilters();
        seenSelected = dialog->selectedNameFilter();
      }
      dialog->selectNameFilter(seenFilters.value(0));
      QMetaObject::invokeMethod(dialog, tries < 100 ? "accept" : "reject");
    });
    answerer.start();
    CQtUserInterfaceService service;
    FileChooserRequest request;
    request.save = true;
    request.title = "Save As";
    request.folder = root_;
    // The last as the movie program words it: patterns parted by ';' and a
    // blank after the parenthesis.
    request.filters = {{"JPEG", "*.jpg;*.jpeg"}, {"BMP (*.bmp)", "*.bmp"}, {"Movie file (*.wmv;*.avi) ", "*.avi;*.wmv"}};
    request.filterIndex = 1;
    request.fileName = root_ + "/chosen";  // as the file chooser passes it: folder and name, no extension
    request.defaultExtension = "jpg";
    const FileChooserResult result = service.ChooseFile(nullptr, request);
    QCOMPARE(seenFilters, (QStringList{"JPEG (*.jpg *.jpeg)", "BMP (*.bmp)", "Movie file (*.wmv *.avi)"}));
    QCOMPARE(seenSelected, QString("BMP (*.bmp)"));
    QVERIFY(result.accepted);
    QCOMPARE(result.paths.size(), size_t(1));
    QCOMPARE(QString::fromStdString(result.paths[0]), folder + "/chosen.jpg");
    QCOMPARE(result.filterIndex, 0);
  }

  // Each program's file box, opened through the file chooser with the
  // filter string the program passes, lists the files of its kinds and no
  // others in the folder it shows.
  void qtFileBoxListsTheFilesOfEachFilter_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("movie") << "Movie file (*.wmv;*.avi) |*.avi;*.wmv||" << QStringList{"e.avi", "f.wmv"};
    QTest::newRow("slides") << "PPT (*.ppt; *.pptx)|*.ppt; *.pptx|JPEG (*.jpg)|*.jpg|BMP (*.bmp)|*.bmp||"
                            << QStringList{"a.ppt", "b.pptx"};
    QTest::newRow("picture") << "JPEG (*.jpg)|*.jpg|BMP (*.bmp)|*.bmp||" << QStringList{"c.jpg"};
  }

  void qtFileBoxListsTheFilesOfEachFilter() {
    QFETCH(QString, filter);
    QFETCH(QStringList, listed);
    const std::string folder = root_ + "/kinds";
    std::filesystem::create_directories(folder);
    for (const char* name : {"a.ppt", "b.pptx", "c.jpg", "d.bmp", "e.avi", "f.wmv", "g.txt"})
      std::ofstream(folder + "/" + name) << "x";
    QStringList shown;
    QTimer looker;
    looker.setInterval(20);
    int looks = 0;
    connect(&looker, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      auto* files = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
      QStringList now;
      if (files && files->model()) {
        const QModelIndex where = files->rootIndex();
        for (int row = 0; row < files->model()->rowCount(where); ++row)
          now << files->model()->index(row, 0, where).data().toString();
      }
      now.sort();
      // The folder view fills in the background: the list counts once it
      // holds what is asked for, or after some 10 s.
      if (now == listed || ++looks > 500) {
        shown = now;
        dialog->reject();
      }
    });
    looker.start();
    CQtUserInterfaceService service;
    IUserInterfaceService* old = SetUserInterfaceService(&service);
    CFileSelDlg dialog(true, "", "", OFN_HIDEREADONLY, filter.toStdString());
    std::string path;
    QCOMPARE(dialog.DoModal(nullptr, folder.c_str(), &path, 260), IDCANCEL);
    SetUserInterfaceService(old);
    looker.stop();
    QCOMPARE(shown, listed);
  }

  // ---------------------------------------------------------- helpers

  void clientRectIncludesVisibleScrollBars() {
    QScrollArea area;
    area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area.resize(300, 200);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    const QRect viewport = area.viewport()->rect();
    const QRect rect = GetClientRectNoScroll(&area);
    QCOMPARE(rect.width(), viewport.width() + area.verticalScrollBar()->width());
    QCOMPARE(rect.height(), viewport.height() + area.horizontalScrollBar()->height());
  }
};

QTEST_MAIN(CommonUiTest)
#include "UiTest.moc"

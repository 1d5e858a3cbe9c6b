// The recording settings dialog and the document that runs it: what it
// shows, the conversions while the user types, validation on OK, what OK
// writes and what Cancel keeps, the file chooser, and closing on removal.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include "Common/QtUserInterfaceService.h"
#include "FRMDlg.h"
#include "FotaviMovDoc.h"
#include "MovResource.h"
#include "MovTestSupport.h"
#include "Platform/Settings.h"
#include "QtGlue/QtMessagePump.h"

using namespace movtest;


class SettingsDialog : public MovFixture {
 protected:
  void SetUp() override {
    MovFixture::SetUp();
    pump = std::make_unique<QtMessagePump>();
    doc = std::make_unique<CFotaviMovDoc>();
    ASSERT_NE(doc->GetSettingDialog(), nullptr);
    ASSERT_TRUE(doc->SetVideoSize(1024, 768));
  }
  void TearDown() override {
    doc.reset();
    pump.reset();
    MovFixture::TearDown();
  }
  // Runs the dialog through the document; `body` works on it while it is
  // shown and must end it (OK, Cancel or a posted close).
  DWORD Run(const std::function<void(CFRMDlg*)>& body) {
    CFRMDlg* dlg = doc->GetSettingDialog();
    bool ran = false;
    QTimer::singleShot(0, dlg, [&] {
      ran = true;
      body(dlg);
      if (dlg->isVisible() && !closing) dlg->reject();
    });
    const DWORD result = doc->SaveDialogInfo();
    EXPECT_TRUE(ran);
    closing = false;
    return result;
  }
  QLineEdit* Edit(CFRMDlg* dlg, int id) { return qobject_cast<QLineEdit*>(dlg->Control(id)); }
  std::string Text(CFRMDlg* dlg, int id) { return Edit(dlg, id)->text().toStdString(); }
  // Replaces the text as typing does: the edit is emptied, then each key adds one character.
  void Type(CFRMDlg* dlg, int id, const char* text) {
    QLineEdit* edit = Edit(dlg, id);
    edit->clear();
    const QString full = QString::fromUtf8(text);
    for (int i = 1; i <= full.size(); ++i) edit->setText(full.left(i));
  }
  void Click(CFRMDlg* dlg, int id) { qobject_cast<QAbstractButton*>(dlg->Control(id))->click(); }
  bool Checked(CFRMDlg* dlg, int id) { return qobject_cast<QAbstractButton*>(dlg->Control(id))->isChecked(); }
  void Ok(CFRMDlg* dlg) {
    QMetaObject::invokeMethod(dlg->findChild<QDialogButtonBox*>(), "accepted");
  }

  std::unique_ptr<QtMessagePump> pump;
  std::unique_ptr<CFotaviMovDoc> doc;
  bool closing = false;
};

TEST_F(SettingsDialog, FirstShowingHasItsDefaultsAndPutsTheNameInDocuments) {
  const DWORD result = Run([&](CFRMDlg* d) {
    EXPECT_EQ(Text(d, IDC_FRM_OUTPUT), Dir() + "/Documents/output.avi");
    EXPECT_EQ(Text(d, IDC_FRM_RATE), "1");
    EXPECT_EQ(Text(d, IDC_FRM_SPLIT), "1024");
    EXPECT_TRUE(Checked(d, IDC_FRM_AVI));
    EXPECT_TRUE(Checked(d, IDC_FRM_SIZE50));
    EXPECT_TRUE(Checked(d, IDC_FRM_NOLIMIT));
    for (int id : {IDC_FRM_MINUTES, IDC_FRM_SECONDS, IDC_FRM_CAPACITY, IDC_FRM_QUALITY})
      EXPECT_FALSE(d->Control(id)->isEnabled()) << id;
    EXPECT_EQ(Text(d, IDC_FRM_QUALITY), "");
    EXPECT_FALSE(Text(d, IDC_FRM_FREESPACE).empty());
    EXPECT_NE(d->GetSafeHwnd(), nullptr);
    EXPECT_EQ(doc->GetSettingWnd(), d->GetSafeHwnd());
  });
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(doc->GetSettingWnd(), nullptr);
  EXPECT_EQ(StoredRecInt("IsSetting"), 0xDEADBEEFu);
}

TEST_F(SettingsDialog, AComputedValueNeverStartsTheOppositeConversion) {
  Run([&](CFRMDlg* d) {
    Type(d, IDC_FRM_RATE, "10");
    Click(d, IDC_FRM_TIME);
    Type(d, IDC_FRM_MINUTES, "1");
    EXPECT_EQ(Text(d, IDC_FRM_CAPACITY), "337");
    // Converting 337 MB back would have made it 0 minutes 59 seconds.
    EXPECT_EQ(Text(d, IDC_FRM_MINUTES), "1");
    EXPECT_EQ(Text(d, IDC_FRM_SECONDS), "");
    Click(d, IDC_FRM_CAPACITY_RADIO);
    Type(d, IDC_FRM_CAPACITY, "337");
    EXPECT_EQ(Text(d, IDC_FRM_MINUTES), "");
    EXPECT_EQ(Text(d, IDC_FRM_SECONDS), "59");
    EXPECT_EQ(Text(d, IDC_FRM_CAPACITY), "337");
    // A field that does not pass the silent check empties the converted one.
    Type(d, IDC_FRM_RATE, "25");
    EXPECT_EQ(Text(d, IDC_FRM_SECONDS), "");
    EXPECT_TRUE(ui.Texts().empty());
  });
}

TEST_F(SettingsDialog, SizeChangeShowsItsOwnRateAndConvertsAgain) {
  Run([&](CFRMDlg* d) {
    Type(d, IDC_FRM_RATE, "10");
    Click(d, IDC_FRM_TIME);
    Type(d, IDC_FRM_MINUTES, "1");
    ASSERT_EQ(Text(d, IDC_FRM_CAPACITY), "337");
    Click(d, IDC_FRM_SIZE100);  // remembered rate 1 for AVI at 100 %
    EXPECT_EQ(Text(d, IDC_FRM_RATE), "1");
    EXPECT_EQ(Text(d, IDC_FRM_CAPACITY), "135");  // (60 x 2,359,296 + 2560) / 1,048,576
  });
}

TEST_F(SettingsDialog, WmvDropsTheCapacityLimitAndFixesTheExtension) {
  Run([&](CFRMDlg* d) {
    Click(d, IDC_FRM_CAPACITY_RADIO);
    Type(d, IDC_FRM_CAPACITY, "700");
    Click(d, IDC_FRM_WMV);
    EXPECT_TRUE(Checked(d, IDC_FRM_NOLIMIT));
    EXPECT_EQ(Text(d, IDC_FRM_CAPACITY), "");
    EXPECT_FALSE(d->Control(IDC_FRM_CAPACITY_RADIO)->isEnabled());
    EXPECT_FALSE(d->Control(IDC_FRM_SPLIT)->isEnabled());
    EXPECT_TRUE(d->Control(IDC_FRM_QUALITY)->isEnabled());
    EXPECT_EQ(Text(d, IDC_FRM_QUALITY), "100");
    EXPECT_EQ(Text(d, IDC_FRM_OUTPUT), Dir() + "/Documents/output.wmv");
    Click(d, IDC_FRM_AVI);
    EXPECT_EQ(Text(d, IDC_FRM_SPLIT), "1024");
    EXPECT_EQ(Text(d, IDC_FRM_OUTPUT), Dir() + "/Documents/output.avi");
  });
}

struct OkCase {
  const char* name;
  const char* split;
  const char* text;  // "" when accepted
};
class SplitOnOk : public SettingsDialog, public ::testing::WithParamInterface<OkCase> {};
TEST_P(SplitOnOk, RefusedValuesKeepTheDialogOpen) {
  bool openAfterOk = false;
  std::string focus;
  const DWORD result = Run([&](CFRMDlg* d) {
    Type(d, IDC_FRM_SPLIT, GetParam().split);
    Ok(d);
    openAfterOk = d->isVisible();
    if (QApplication::focusWidget()) focus = QApplication::focusWidget()->objectName().toStdString();
  });
  const bool accepted = std::string(GetParam().text).empty();
  EXPECT_EQ(openAfterOk, !accepted);
  EXPECT_EQ(result, accepted ? 1u : 0u);
  if (accepted) {
    EXPECT_TRUE(ui.Texts().empty());
    EXPECT_EQ(StoredRecInt("MaxFileSize"), DWORD(std::stoul(GetParam().split)) * 1048576u);
  } else {
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{GetParam().text});
    EXPECT_EQ(ui.Types().at(0) & MB_ICONMASK, MB_ICONEXCLAMATION);
    EXPECT_EQ(StoredRecInt("MaxFileSize"), 0xDEADBEEFu);
  }
}
// The case's name: the test's name and its printed parameter.
std::string OkCaseName(const OkCase& c) { return std::string(c.name); }
void PrintTo(const OkCase& c, std::ostream* os) { *os << OkCaseName(c); }

INSTANTIATE_TEST_SUITE_P(
    Table, SplitOnOk,
    ::testing::Values(
        OkCase{"Accepted1024", "1024", ""},
        OkCase{"Refused1025", "1025",
               "The maximum size of the divided file is too large.\nPlease input a value of less than 1024."},
        OkCase{"Refused99", "99",
               "The maximum size of the divided file is too small.\nPlease input a value of 100 or more."}),
    [](const auto& info) { return OkCaseName(info.param); });

TEST_F(SettingsDialog, TimeLimitOfZeroIsRefusedOnOk) {
  Run([&](CFRMDlg* d) {
    Click(d, IDC_FRM_TIME);
    Type(d, IDC_FRM_MINUTES, "0");
    Ok(d);
    EXPECT_TRUE(d->isVisible());
  });
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Invalid value (The value of Recording time (minutes) is invalid.)"});
}

TEST_F(SettingsDialog, OkWritesEverySettingAndTheDocumentTakesThem) {
  int resized = 0;
  doc->SetLiveResizeHandler([&] { ++resized; });
  const DWORD result = Run([&](CFRMDlg* d) {
    Click(d, IDC_FRM_WMV);
    Click(d, IDC_FRM_SIZE100);
    Type(d, IDC_FRM_QUALITY, "60");
    Type(d, IDC_FRM_RATE, "15");
    Click(d, IDC_FRM_TIME);
    Type(d, IDC_FRM_MINUTES, "1");
    Type(d, IDC_FRM_SECONDS, "30");
    Ok(d);
  });
  EXPECT_EQ(result, 1u);
  EXPECT_EQ(resized, 1);
  EXPECT_TRUE(ui.Texts().empty());
  EXPECT_EQ(StoredRecText("OutputFileName"), Dir() + "/Documents/output.wmv");
  EXPECT_EQ(StoredRecText("ProfileFileName"), GetProfilePath(VIDEOSIZE_100));
  const std::vector<std::pair<const char*, DWORD>> expected = {
      {"CurrentRate", 15},  {"WMVRate100", 15},   {"WMVRate50", 1},       {"AVIRate100", 1},
      {"MaxFileSize", 0},   {"Compress", 1},      {"VideoSize", 2},       {"RecCondition", 1},
      {"RecSecond", 30},    {"RecMinute", 1},     {"RecCapacity", 0},     {"VideoWidth", 1024},
      {"VideoHeight", 768}, {"VideoQuality", 60}, {"WMVVideoQuality100", 60}, {"WMVVideoQuality50", 100},
      {"IsSetting", 1},     {"MaxReqCount", 10}};
  for (const auto& [name, value] : expected) EXPECT_EQ(StoredRecInt(name), value) << name;
  EXPECT_EQ(doc->GetRecLimit(), 90u);
  EXPECT_EQ(doc->GetFrameRate(), 15u);
  EXPECT_EQ(doc->GetCompress(), COMPRESS_WMV);
  EXPECT_EQ(doc->GetVideoWidth(), 1024u);
  EXPECT_EQ(doc->GetIsSetting(), 1u);
}

TEST_F(SettingsDialog, EachCombinationKeepsItsRateAndCancelKeepsTheSettings) {
  ASSERT_EQ(Run([&](CFRMDlg* d) {
              Type(d, IDC_FRM_RATE, "7");
              Ok(d);
            }),
            1u);
  EXPECT_EQ(StoredRecInt("AVIRate50"), 7u);
  const DWORD result = Run([&](CFRMDlg* d) {
    EXPECT_EQ(Text(d, IDC_FRM_RATE), "7");
    Click(d, IDC_FRM_WMV);
    EXPECT_EQ(Text(d, IDC_FRM_RATE), "1");
    d->SetFrameRate("12");  // as the measurement hands its result over
    Click(d, IDC_FRM_AVI);
    EXPECT_EQ(Text(d, IDC_FRM_RATE), "7");
    Click(d, IDC_FRM_WMV);
    EXPECT_EQ(Text(d, IDC_FRM_RATE), "12");
    d->reject();
  });
  EXPECT_EQ(result, 1u);  // the old confirmed value
  EXPECT_EQ(doc->GetCompress(), COMPRESS_AVI);
  EXPECT_EQ(doc->GetFrameRate(), 7u);
  EXPECT_EQ(StoredRecInt("Compress"), 0u);
}

TEST_F(SettingsDialog, ChosenFileGetsTheWritersExtensionAndLongPathsAreRefused) {
  ui.AnswerChooser("/videos/movie.WMV");
  ui.AnswerChooser("/" + std::string(300, 'x') + ".avi");
  Run([&](CFRMDlg* d) {
    Click(d, IDC_FRM_BROWSE);
    EXPECT_EQ(Text(d, IDC_FRM_OUTPUT), "/videos/movie.avi");
    const FileChooserRequest request = ui.LastChooser();
    EXPECT_TRUE(request.save);
    EXPECT_EQ(request.defaultExtension, "avi");
    EXPECT_EQ(request.fileName, "output.avi");
    ASSERT_EQ(request.filters.size(), 1u);
    EXPECT_EQ(request.filters[0].second, "*.avi;*.wmv");
    Click(d, IDC_FRM_BROWSE);
    EXPECT_EQ(Text(d, IDC_FRM_OUTPUT), "/videos/movie.avi");
  });
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to open file."});
  EXPECT_EQ(ui.Types().at(0) & MB_ICONMASK, MB_ICONEXCLAMATION);
}

TEST_F(SettingsDialog, APostedCloseEndsItAsCancel) {
  const DWORD result = Run([&](CFRMDlg* d) {
    Type(d, IDC_FRM_RATE, "9");
    closing = true;
    EXPECT_TRUE(PostMessage(doc->GetSettingWnd(), WM_CLOSE, 0, 0));
  });
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(doc->GetSettingWnd(), nullptr);
  EXPECT_EQ(StoredRecInt("CurrentRate"), 0xDEADBEEFu);
}

TEST_F(SettingsDialog, MaximumValueHandsTheFieldsToTheMeasurementAndTakesItsRate) {
  CFRMDlg* dlg = doc->GetSettingDialog();
  EXPECT_FALSE(dlg->Control(IDC_FRM_AUTO)->isEnabled());  // nothing to run yet
  int measured = 0;
  dlg->SetMeasureHandler([&](CFRMDlg* d) {
    ++measured;
    EXPECT_EQ(d->m_nOutputWidth, 256);
    EXPECT_EQ(d->m_nOutputHeight, 192);
    EXPECT_EQ(d->m_dwCompress, COMPRESS_WMV);
    EXPECT_EQ(d->m_strProfile, GetProfilePath(VIDEOSIZE_25));
    EXPECT_EQ(d->m_dwCurrentQuality, 40u);
    d->SetFrameRate("12");
  });
  Run([&](CFRMDlg* d) {
    EXPECT_TRUE(d->Control(IDC_FRM_AUTO)->isEnabled());
    Click(d, IDC_FRM_WMV);
    Click(d, IDC_FRM_SIZE25);
    Type(d, IDC_FRM_QUALITY, "40");
    Click(d, IDC_FRM_AUTO);
    EXPECT_EQ(Text(d, IDC_FRM_RATE), "12");
    Click(d, IDC_FRM_AVI);
    Click(d, IDC_FRM_WMV);
    EXPECT_EQ(Text(d, IDC_FRM_RATE), "12");  // kept for WMV at 25 %
  });
  EXPECT_EQ(measured, 1);
}

TEST_F(SettingsDialog, CloseDuringTheMeasurementCancelsItFirst) {
  CFRMDlg* dlg = doc->GetSettingDialog();
  std::vector<std::string> order;
  QEventLoop* running = nullptr;
  dlg->SetMeasureCancel([&] {
    order.push_back("cancel");
    if (running) running->quit();
  });
  dlg->SetMeasureHandler([&](CFRMDlg*) {
    // The measurement runs its own loop until it is cancelled.
    QEventLoop loop;
    running = &loop;
    PostMessage(doc->GetSettingWnd(), WM_CLOSE, 0, 0);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    running = nullptr;
    order.push_back("measurement ended");
  });
  const DWORD result = Run([&](CFRMDlg* d) {
    closing = true;
    Click(d, IDC_FRM_AUTO);
  });
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(order, (std::vector<std::string>{"cancel", "measurement ended"}));
}

// The output file box refuses a path whose folder does not exist, as the
// user meets it: typed into the shown box with Enter, the box stays open
// and says so; a path in an existing folder is then taken. The name field's
// completion list, filled from the folder as the name is typed, may be open
// when Enter comes and take it; the user then presses Enter again.
TEST_F(SettingsDialog, TheFileBoxRefusesAFolderThatDoesNotExist) {
  CQtUserInterfaceService qtUi;
  SetUserInterfaceService(&qtUi);
  const std::string missing = Dir() + "/missing/sub/movie.avi";
  const std::string good = Dir() + "/movie.avi";
  bool refused = false;
  bool gaveUp = false;
  int step = 0;
  int ticks = 0;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!box) {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<QFileDialog*>(w); b && b->isVisible()) box = b;
      }
    }
    if (!box) return;
    auto* name = box->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    if (++ticks > 200) {  // 10 s without the box doing what it should
      gaveUp = true;
      box->reject();
      return;
    }
    auto typeAndEnter = [&](const std::string& path) {
      QTest::mouseClick(name, Qt::LeftButton);
      name->selectAll();
      QTest::keyClick(name, Qt::Key_Delete);
      QTest::keyClicks(name, QString::fromStdString(path));
      QTest::keyClick(name, Qt::Key_Return);
    };
    if (step == 0) {
      typeAndEnter(missing);
      step = 1;
    } else if (step == 1) {
      bool said = false;
      for (QMessageBox* box2 : box->findChildren<QMessageBox*>()) {
        if (!box2->isVisible()) continue;
        said = true;
        refused = box->isVisible() && box2->text().contains(QStringLiteral("does not exist"));
        QTest::mouseClick(box2->button(QMessageBox::Ok), Qt::LeftButton);
        step = 2;
      }
      if (!said) QTest::keyClick(name, Qt::Key_Return);  // Enter again
    } else if (step == 2) {
      typeAndEnter(good);
      step = 3;
    } else {
      QTest::keyClick(name, Qt::Key_Return);  // the box is still open: Enter again
    }
  });
  user.start(50);
  Run([&](CFRMDlg* d) {
    auto* browse = qobject_cast<QAbstractButton*>(d->Control(IDC_FRM_BROWSE));
    QTest::mouseClick(browse, Qt::LeftButton);
    // The click returns at once; the box answers when the user is done.
    auto boxShown = [] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QFileDialog*>(w) && w->isVisible()) return true;
      return false;
    };
    // The answer comes from the turn after the box has gone.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return gaveUp || (step == 3 && !boxShown() && Text(d, IDC_FRM_OUTPUT) == good); }, 15000));
    EXPECT_FALSE(gaveUp);
    EXPECT_TRUE(refused);
    EXPECT_EQ(Text(d, IDC_FRM_OUTPUT), good);
  });
  user.stop();
  SetUserInterfaceService(&ui);
}

// The built data source (bin/TiryxK27.ds) through the project's own TWAIN
// host against the camera emulator: identity scan, negotiation, every
// transfer mode, the capture dialog on the source's own Qt thread, and many
// open/acquire/close cycles in one process.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "PackedField.h"
#include "CaptureCore.h"
#include "Dib.h"
#include "DsFixture.h"
#include "IsolatedCamera.h"
#include "Platform/Library.h"
#include "TwainHost.h"

using namespace twain_test;

namespace {

std::unique_ptr<IsolatedCamera> g_camera;
fotavi::test::EmulatorProcess* g_emulator = nullptr;  // g_camera's
RecordingUi* g_ui = nullptr;

class HostEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_camera = std::make_unique<IsolatedCamera>("twainhost");
    ASSERT_TRUE(g_camera->Start());
    g_emulator = g_camera->Emulator();
    g_ui = new RecordingUi;
    SetUserInterfaceService(g_ui);
  }
  void TearDown() override {
    SetUserInterfaceService(nullptr);
    g_camera.reset();
  }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new HostEnvironment);

// Runs `fn` on the Qt GUI thread (the one the source started) and waits.
template <typename Fn>
void OnGui(Fn fn) {
  ASSERT_NE(QCoreApplication::instance(), nullptr);
  QMetaObject::invokeMethod(QCoreApplication::instance(), fn, Qt::BlockingQueuedConnection);
}

// The shown top-level dialog of that name, NULL when none (or when the
// source runs no Qt application at all).
QDialog* FindDialog(const char* name = "TiryxK27CaptureDialog") {
  QDialog* found = nullptr;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return nullptr;
  QMetaObject::invokeMethod(app, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == name && w->isVisible()) found = qobject_cast<QDialog*>(w);
    }
  }, Qt::BlockingQueuedConnection);
  return found;
}

class Host : public ::testing::Test {
 protected:
  void SetUp() override {
    g_emulator->Command("clear");
    g_ui->Clear();
    std::string error;
    ASSERT_TRUE(host.Load(TWAIN_DS_MODULE, &error)) << error;
    ASSERT_TRUE(host.Scan());
  }
  void TearDown() override {
    host.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
  }
  void Click(QDialog* dialog, int id) {
    OnGui([&] {
      auto* b = dialog->findChild<QPushButton*>(QString("control%1").arg(id));
      ASSERT_NE(b, nullptr);
      ASSERT_TRUE(b->isEnabled()) << id;
      b->click();
    });
  }
  bool Enabled(QDialog* dialog, int id) {
    bool on = false;
    OnGui([&] { on = dialog->findChild<QPushButton*>(QString("control%1").arg(id))->isEnabled(); });
    return on;
  }
  CTwainHost host;
};

}  // namespace

TEST_F(Host, TheScanFindsTheSourcesIdentity) {
  const TW_IDENTITY& id = host.Source();
  EXPECT_STREQ(id.ProductName, "Tiryx TWAIN DS (K27)");
  EXPECT_STREQ(id.ProductFamily, "Tiryx Utility Software (K27)");
  EXPECT_STREQ(id.Version.Info, "Version 1.10");
  EXPECT_EQ(id.Version.MajorNum, 1);
  EXPECT_EQ(id.Version.MinorNum, 10);
  EXPECT_EQ(id.Version.Language, TWLG_USA);
  EXPECT_EQ(id.ProtocolMajor, 1);
  EXPECT_EQ(id.ProtocolMinor, 9);
  EXPECT_EQ(Copied(id.SupportedGroups), DG_CONTROL | DG_IMAGE | DF_DS2);
  EXPECT_EQ(Copied(id.Id), 5u) << "the host gave it";
}

TEST_F(Host, NegotiatesTheOfferedCapabilities) {
  ASSERT_EQ(host.OpenDS(true), TWRC_SUCCESS);
  EXPECT_EQ(host.SetOneValue(ICAP_XFERMECH, TWSX_MEMORY), TWRC_SUCCESS);
  EXPECT_EQ(host.SetOneValue(ICAP_XFERMECH, 3), TWRC_FAILURE);
  EXPECT_EQ(host.Status(), TWCC_BADVALUE);
  for (TW_UINT16 cap : {ICAP_XFERMECH, ICAP_PIXELTYPE, ICAP_BITDEPTH, ICAP_UNITS, ICAP_PIXELFLAVOR,
                        CUSTCAP_BWBITDEPTH, CUSTCAP_GRAYBITDEPTH, CUSTCAP_RGBBITDEPTH}) {
    TW_CAPABILITY c{cap, TWON_DONTCARE16, nullptr};
    ASSERT_EQ(host.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &c), TWRC_SUCCESS) << cap;
    ASSERT_EQ(c.ConType, TWON_ONEVALUE);
    TW_ONEVALUE one;
    std::memcpy(&one, c.hContainer, sizeof one);
    std::free(c.hContainer);
    const TW_UINT32 expected = cap == ICAP_XFERMECH ? TWSX_MEMORY
                               : cap == ICAP_PIXELTYPE ? TWPT_RGB
                               : cap == ICAP_BITDEPTH || cap == CUSTCAP_RGBBITDEPTH ? 24
                               : cap == ICAP_UNITS ? TWUN_PIXELS
                               : cap == CUSTCAP_BWBITDEPTH ? 1
                               : cap == CUSTCAP_GRAYBITDEPTH ? 8 : TWPF_CHOCOLATE;
    EXPECT_EQ(Copied(one.Item), expected) << cap;
  }
}

TEST_F(Host, TenOpenAcquireCloseCyclesWithEveryTransferMode) {
  for (int cycle = 0; cycle < 10; ++cycle) {
    SCOPED_TRACE(cycle);
    host.ClearNotices();
    // Every other cycle the notices take the manager's entry points.
    ASSERT_EQ(host.OpenDS(cycle % 2 == 0), TWRC_SUCCESS) << host.Status();
    const TW_UINT16 mode = static_cast<TW_UINT16>(cycle % 3);
    ASSERT_EQ(host.SetOneValue(ICAP_XFERMECH, mode), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(false), TWRC_SUCCESS) << host.Status();
    ASSERT_TRUE(host.WaitNotice(MSG_XFERREADY, 1, 5000));
    TW_IMAGEINFO info{};
    ASSERT_EQ(host.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    ASSERT_EQ(Copied(info.ImageWidth), 1024);
    if (mode == TWSX_NATIVE) {
      std::vector<BYTE> dib;
      ASSERT_EQ(host.TransferNative(&dib), TWRC_XFERDONE);
      BITMAPINFOHEADER h;
      std::memcpy(&h, dib.data(), sizeof h);
      EXPECT_EQ(Copied(h.biWidth), 1024);
      EXPECT_EQ(Copied(h.biHeight), 768);
      EXPECT_EQ(Copied(h.biBitCount), 24);
      EXPECT_EQ(dib.size(), 40u + 3072u * 768u);
    } else if (mode == TWSX_MEMORY) {
      std::vector<BYTE> rgb;
      TW_UINT32 width = 0, rows = 0;
      ASSERT_EQ(host.TransferMemory(0, &rgb, &width, &rows), TWRC_XFERDONE);
      EXPECT_EQ(width, 1024u);
      EXPECT_EQ(rows, 768u);
      EXPECT_EQ(rgb.size(), 1024u * 3u * 768u);
    } else {
      const std::string file = g_camera->Root() + "/cycle" + std::to_string(cycle) + ".bmp";
      ASSERT_EQ(host.TransferFile(file), TWRC_XFERDONE);
      EXPECT_EQ(std::filesystem::file_size(file), 54u + 3072u * 768u);
    }
    TW_UINT16 count = 9;
    ASSERT_EQ(host.EndTransfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(host.Disable(), TWRC_SUCCESS);
    ASSERT_EQ(host.CloseDS(), TWRC_SUCCESS);
    EXPECT_EQ(host.NoticeCount(MSG_XFERREADY), 1);
    EXPECT_TRUE(host.NoticesWellAddressed());
  }
  EXPECT_TRUE(g_ui->Texts().empty());
}

TEST_F(Host, TheCaptureDialogShowsThePreviewAndHandsOverTheStill) {
  ASSERT_EQ(host.OpenDS(true), TWRC_SUCCESS);
  ASSERT_EQ(host.Enable(true), TWRC_SUCCESS) << host.Status();
  QDialog* dialog = FindDialog();
  ASSERT_NE(dialog, nullptr);
  QString title;
  OnGui([&] { title = dialog->windowTitle(); });
  EXPECT_EQ(title, "Tiryx TWAIN DS (K27)");
  EXPECT_FALSE(Enabled(dialog, IDC_TWAIN_TRANSFER));
  Click(dialog, IDC_TWAIN_PLAY);
  auto previewShown = [&] {
    bool shown = false;
    OnGui([&] {
      auto* label = dialog->findChild<QLabel*>("preview");
      shown = label && !label->pixmap().isNull() && label->pixmap().width() == 320;
    });
    return shown;
  };
  ASSERT_TRUE(WaitUntil(previewShown, 10000));
  EXPECT_FALSE(Enabled(dialog, IDC_TWAIN_TRANSFER));
  Click(dialog, IDC_TWAIN_STOP);
  ASSERT_TRUE(WaitUntil([&] { return Enabled(dialog, IDC_TWAIN_TRANSFER); }));
  Click(dialog, IDC_TWAIN_STILL);
  Click(dialog, IDC_TWAIN_TRANSFER);
  ASSERT_TRUE(host.WaitNotice(MSG_XFERREADY, 1, 5000));
  std::vector<BYTE> dib;
  ASSERT_EQ(host.TransferNative(&dib), TWRC_XFERDONE);
  EXPECT_EQ(dib.size(), 40u + 3072u * 768u);
  TW_UINT16 count = 9;
  ASSERT_EQ(host.EndTransfer(&count), TWRC_SUCCESS);
  EXPECT_EQ(count, 0);
  ASSERT_TRUE(WaitUntil([&] { return Enabled(dialog, IDC_TWAIN_TRANSFER); })) << "offered again after the transfer";
  ASSERT_EQ(host.Disable(), TWRC_SUCCESS);
  EXPECT_EQ(FindDialog(), nullptr);
  ASSERT_EQ(host.CloseDS(), TWRC_SUCCESS);
  EXPECT_TRUE(host.NoticesWellAddressed());
  EXPECT_TRUE(g_ui->Texts().empty());
}

TEST_F(Host, TheDialogsCloseButtonAsksTheApplicationToClose) {
  ASSERT_EQ(host.OpenDS(false), TWRC_SUCCESS);
  ASSERT_EQ(host.Enable(true), TWRC_SUCCESS);
  QDialog* dialog = FindDialog();
  ASSERT_NE(dialog, nullptr);
  Click(dialog, IDC_TWAIN_CLOSE);
  ASSERT_TRUE(host.WaitNotice(MSG_CLOSEDSREQ, 1, 5000));
  EXPECT_TRUE(host.NoticesWellAddressed());
  // The application answers the request: closing from state 500 directly.
  ASSERT_EQ(host.CloseDS(), TWRC_SUCCESS);
  EXPECT_EQ(FindDialog(), nullptr);
  ASSERT_EQ(host.OpenDS(true), TWRC_SUCCESS) << "the source opens again after a close";
}

TEST_F(Host, DisablingDuringThePreviewNeverHangs) {
  ASSERT_EQ(host.OpenDS(true), TWRC_SUCCESS);
  ASSERT_EQ(host.Enable(true), TWRC_SUCCESS);
  QDialog* dialog = FindDialog();
  ASSERT_NE(dialog, nullptr);
  Click(dialog, IDC_TWAIN_PLAY);
  g_emulator->Command("delay 0x808E 300 always");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(host.Disable(), TWRC_SUCCESS);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(FindDialog(), nullptr);
  g_emulator->Command("clear");
}

TEST_F(Host, TheDialogsCameraButtonsDriveTheCamera) {
  ASSERT_EQ(host.OpenDS(true), TWRC_SUCCESS);
  ASSERT_EQ(host.Enable(true), TWRC_SUCCESS);
  QDialog* dialog = FindDialog();
  ASSERT_NE(dialog, nullptr);
  const auto before = EmulatorCount(*g_emulator, 0xE0);
  OnGui([&] {
    auto* tele = dialog->findChild<QPushButton*>(QString("control%1").arg(IDC_ZOOM_TELE));
    QTest::mousePress(tele, Qt::LeftButton);
  });
  ASSERT_TRUE(WaitUntil([&] { return EmulatorCount(*g_emulator, 0xE0).first == before.first + 1; }));
  EXPECT_EQ(EmulatorCount(*g_emulator, 0xE0).second, 1);
  OnGui([&] {
    auto* tele = dialog->findChild<QPushButton*>(QString("control%1").arg(IDC_ZOOM_TELE));
    QTest::mouseRelease(tele, Qt::LeftButton);
  });
  ASSERT_TRUE(WaitUntil([&] { return EmulatorCount(*g_emulator, 0xE0).first == before.first + 2; }));
  EXPECT_EQ(EmulatorCount(*g_emulator, 0xE0).second, 0);
}

TEST_F(Host, UnplugWhileTheDialogIsOpenDisablesItsPictureButtons) {
  ASSERT_EQ(host.OpenDS(true), TWRC_SUCCESS);
  ASSERT_EQ(host.Enable(true), TWRC_SUCCESS);
  QDialog* dialog = FindDialog();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(g_emulator->Unplug());
  ASSERT_TRUE(WaitUntil([&] { return !Enabled(dialog, IDC_TWAIN_STILL); }));
  EXPECT_FALSE(Enabled(dialog, IDC_TWAIN_PLAY));
  EXPECT_FALSE(Enabled(dialog, IDC_TWAIN_STOP));
  ASSERT_TRUE(g_emulator->Replug());
  ASSERT_TRUE(WaitUntil([&] { return Enabled(dialog, IDC_TWAIN_STILL); }, 15000));
  EXPECT_TRUE(Enabled(dialog, IDC_TWAIN_PLAY));
  ASSERT_EQ(host.Disable(), TWRC_SUCCESS);
}

TEST_F(Host, TheVersionBoxOpenedByAltAGoesWithTheDialogAndTheSourcesQtEndsAtItsClose) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(host.OpenDS(true), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(true), TWRC_SUCCESS);
    QDialog* dialog = FindDialog();
    ASSERT_NE(dialog, nullptr);
    OnGui([&] { dialog->activateWindow(); });
    ASSERT_TRUE(WaitUntil([&] {
      bool active = false;
      OnGui([&] { active = dialog->isActiveWindow(); });
      return active;
    }));
    OnGui([&] { QTest::keyClick(dialog, Qt::Key_A, Qt::AltModifier); });
    ASSERT_TRUE(WaitUntil([] { return FindDialog("TiryxK27VersionBox") != nullptr; })) << "Alt+A opens the box";
    // The application takes the source down while the box is open.
    ASSERT_EQ(host.Disable(), TWRC_SUCCESS);
    EXPECT_EQ(FindDialog("TiryxK27VersionBox"), nullptr);
    EXPECT_EQ(FindDialog(), nullptr);
    ASSERT_EQ(host.CloseDS(), TWRC_SUCCESS);
    EXPECT_EQ(QCoreApplication::instance(), nullptr) << "the source's Qt application ended with its close";
  }
  EXPECT_TRUE(g_ui->Texts().empty());
}

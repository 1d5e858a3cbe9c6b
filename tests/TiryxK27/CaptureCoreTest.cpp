// The capture dialog's behaviour without its window: preview, still
// picture, transfer offer, camera buttons, unplug and replug.
#include "DsFixture.h"
#include "DsStrings.h"

using namespace twain_test;

namespace {

class CaptureCore : public DsFixture {
 protected:
  void SetUp() override {
    DsFixture::SetUp();
    Reach(500);
    core = ds->CaptureCore();
    dialog = FakeDialog::current.load();
    ASSERT_NE(core, nullptr);
    ASSERT_NE(dialog, nullptr);
  }
  std::pair<long, long> Count(WORD cmd) { return EmulatorCount(*emulator, cmd); }
  CCaptureCore* core = nullptr;
  FakeDialog* dialog = nullptr;
};

}  // namespace

TEST_F(CaptureCore, StillPictureOffersTheTransfer) {
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_TRANSFER));
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_STOP));
  core->OnStill();
  EXPECT_TRUE(core->TransferAllowed());
  EXPECT_TRUE(dialog->view.Enabled(IDC_TWAIN_TRANSFER));
  EXPECT_EQ(dialog->view.Pictures(), 1) << "the preview shows the picture fitted to 320 x 240";
  core->OnTransfer();
  EXPECT_TRUE(Notices().WaitFor(MSG_XFERREADY, 1, 5000));
  EXPECT_EQ(ds->GetState(), 600);
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_TRANSFER));
}

TEST_F(CaptureCore, PlayThenStopWithoutAPictureLeavesTransferDisabled) {
  ASSERT_TRUE(emulator->Command("bad-frame always"));
  core->OnPlay();
  EXPECT_TRUE(dialog->view.Enabled(IDC_TWAIN_STOP));
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_PLAY));
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_STILL));
  core->OnStop();
  EXPECT_FALSE(core->IsLive());
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_TRANSFER));
  EXPECT_TRUE(dialog->view.Enabled(IDC_TWAIN_PLAY));
  EXPECT_TRUE(dialog->view.Enabled(IDC_TWAIN_STILL));
  ASSERT_TRUE(emulator->Command("clear"));
  core->OnStill();
  EXPECT_TRUE(dialog->view.Enabled(IDC_TWAIN_TRANSFER));
}

TEST_F(CaptureCore, ThePreviewsLastPictureIsTheOneTransferredAfterStop) {
  core->OnPlay();
  ASSERT_TRUE(WaitUntil([&] { return dialog->view.Pictures() >= 2; }));
  core->OnStop();
  EXPECT_TRUE(dialog->view.Enabled(IDC_TWAIN_TRANSFER));
  EXPECT_TRUE(ds->Image().HasHeldJpeg());
}

TEST_F(CaptureCore, ThreeUndecodablePreviewPicturesStopThePreview) {
  ASSERT_TRUE(emulator->Command("bad-frame always"));
  core->OnPlay();
  ASSERT_TRUE(WaitUntil([&] { return !core->IsLive(); }));
  ASSERT_TRUE(WaitUntil([&] { return !dialog->view.Messages().empty(); }));
  EXPECT_EQ(dialog->view.Messages(), std::vector<std::string>{"Unable to acquire live-monitor image."});
  EXPECT_TRUE(dialog->view.Enabled(IDC_TWAIN_PLAY));
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_STOP));
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_TRANSFER));
}

TEST_F(CaptureCore, AStillPictureThatDoesNotDecodeSaysSo) {
  ASSERT_TRUE(emulator->Command("bad-frame always"));
  core->OnStill();
  EXPECT_EQ(dialog->view.Messages(), std::vector<std::string>{"Unable to acquire still image."});
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_TRANSFER));
}

TEST_F(CaptureCore, UnplugDuringThePreviewDisablesThePictureButtonsAndReplugBringsThemBack) {
  core->OnPlay();
  ASSERT_TRUE(WaitUntil([&] { return dialog->view.Pictures() >= 1; }));
  ASSERT_TRUE(emulator->Unplug());
  ASSERT_TRUE(WaitUntil([&] { return core->DeviceRemoved(); }));
  EXPECT_TRUE(WaitUntil([&] { return !core->IsLive(); }));
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_PLAY));
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_STILL));
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_STOP));
  // A picture already held still goes to the application, without the camera.
  core->OnTransfer();
  ASSERT_EQ(ds->GetState(), 600);
  TW_HANDLE dib = nullptr;
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
  std::free(dib);
  TW_PENDINGXFERS pending{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
  ASSERT_TRUE(emulator->Replug());
  ASSERT_TRUE(WaitUntil([&] { return !core->DeviceRemoved(); }, 15000));
  EXPECT_TRUE(dialog->view.Enabled(IDC_TWAIN_PLAY));
  EXPECT_TRUE(dialog->view.Enabled(IDC_TWAIN_STILL));
  EXPECT_FALSE(dialog->view.Enabled(IDC_TWAIN_STOP));
  core->OnStill();
  EXPECT_TRUE(core->TransferAllowed()) << "the camera works again after the replug";
}

TEST_F(CaptureCore, AStillPictureWithTheCameraGoneFailsAtOnce) {
  ASSERT_TRUE(emulator->Unplug());
  ASSERT_TRUE(WaitUntil([&] { return core->DeviceRemoved(); }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(core->TakePicture(false));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(dialog->view.Messages(), std::vector<std::string>{"Unable to acquire still image."});
  ASSERT_TRUE(emulator->Replug());
}

TEST_F(CaptureCore, CameraButtonsReachTheCamera) {
  const auto teleBefore = Count(0xE0);
  const auto afBefore = Count(0xE1);
  core->OnCameraButtonPress(IDC_ZOOM_TELE);
  ASSERT_TRUE(WaitUntil([&] { return Count(0xE0).first == teleBefore.first + 1; }));
  EXPECT_EQ(Count(0xE0).second, 1);
  core->OnCameraButtonRelease(IDC_ZOOM_TELE);
  ASSERT_TRUE(WaitUntil([&] { return Count(0xE0).first == teleBefore.first + 2; }));
  EXPECT_EQ(Count(0xE0).second, 0);
  core->OnCameraButtonPress(IDC_FOCUS_AUTO);
  core->OnCameraButtonRelease(IDC_FOCUS_AUTO);
  // AF goes synchronously: counted when the release returns.
  EXPECT_EQ(Count(0xE1).first, afBefore.first + 1);
  EXPECT_EQ(Count(0xE1).second, 0);
  core->OnCameraButtonPress(IDC_IRIS_CLOSE);
  core->OnCameraButtonRelease(IDC_IRIS_CLOSE);
  ASSERT_TRUE(WaitUntil([&] { return Count(0xE2).second == 4; }));
}

TEST_F(CaptureCore, CloseAsksTheApplicationToCloseTheSource) {
  core->OnClose();
  EXPECT_TRUE(Notices().WaitFor(MSG_CLOSEDSREQ, 1, 5000));
  EXPECT_EQ(ds->GetState(), 500);
}

TEST_F(CaptureCore, StopDuringTheFirstPreviewPictureOffersThatPicture) {
  // The first frame is slow: STOP comes while it is on its way, and the
  // picture it brings is the one held when the preview has stopped.
  ASSERT_TRUE(emulator->Command("delay 0x808E 1500 1"));
  core->OnPlay();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  core->OnStop();
  EXPECT_FALSE(core->IsLive());
  EXPECT_TRUE(ds->Image().HasHeldJpeg());
  EXPECT_TRUE(core->TransferAllowed()) << "a picture is held once the preview has stopped";
  EXPECT_TRUE(WaitUntil([&] { return dialog->view.Enabled(IDC_TWAIN_TRANSFER); }, 3000));
}

// The data source in a Qt program without widgets (a QCoreApplication):
// it can make no window there, so the capture dialog and the message boxes
// must fail cleanly instead of ending the host.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>

#include "IsolatedCamera.h"
#include "TwainHost.h"

using namespace twain_test;

namespace {

fotavi::test::EmulatorProcess* g_emulator = nullptr;

class CoreHost : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.Load(TWAIN_DS_MODULE, &error)) << error;
    ASSERT_TRUE(host.Scan());
    ASSERT_EQ(host.OpenDS(true), TWRC_SUCCESS) << host.Status();
  }
  void TearDown() override { host.CloseDS(); }
  CTwainHost host;
};

}  // namespace

TEST_F(CoreHost, TheDialogCannotOpenAndTheSourceStaysUsable) {
  EXPECT_EQ(host.Enable(true), TWRC_FAILURE);
  EXPECT_EQ(host.Status(), TWCC_LOWMEMORY);
  ASSERT_EQ(host.Enable(false), TWRC_SUCCESS) << host.Status();
  std::vector<TW_UINT8> dib;
  EXPECT_EQ(host.TransferNative(&dib), TWRC_XFERDONE);
  EXPECT_EQ(dib.size(), 40u + 3072u * 768u);
}

TEST_F(CoreHost, AMessageBoxDoesNotEndTheHost) {
  // ENDXFER in state 400 is a sequence error with the internal-error box.
  TW_PENDINGXFERS pending{};
  EXPECT_EQ(host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_FAILURE);
  EXPECT_EQ(host.Status(), TWCC_SEQERROR);
}

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  IsolatedCamera camera("twaincore");
  if (!camera.Start()) return 1;
  g_emulator = camera.Emulator();
  return RUN_ALL_TESTS();
}

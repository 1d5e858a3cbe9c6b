// The data source in a program without Qt whose DISPLAY names an X server
// that is not there: the capture dialog cannot open, and the source must
// say so instead of letting Qt end the host.
#include <gtest/gtest.h>

#include <cstdlib>

#include "IsolatedCamera.h"
#include "TwainHost.h"

using namespace twain_test;

TEST(NoDisplay, TheDialogFailsWithLowMemoryAndAStillPictureStillWorks) {
  CTwainHost host;
  std::string error;
  ASSERT_TRUE(host.Load(TWAIN_DS_MODULE, &error)) << error;
  ASSERT_TRUE(host.Scan());
  ASSERT_EQ(host.OpenDS(true), TWRC_SUCCESS) << host.Status();
  EXPECT_EQ(host.Enable(true), TWRC_FAILURE);
  EXPECT_EQ(host.Status(), TWCC_LOWMEMORY);
  ASSERT_EQ(host.Enable(false), TWRC_SUCCESS) << host.Status();
  std::vector<TW_UINT8> dib;
  EXPECT_EQ(host.TransferNative(&dib), TWRC_XFERDONE);
  EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
  EXPECT_EQ(host.CloseDS(), TWRC_SUCCESS);
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  // An X display nobody serves, and no platform plugin named.
  unsetenv("QT_QPA_PLATFORM");
  unsetenv("WAYLAND_DISPLAY");
  setenv("DISPLAY", ":987", 1);
  IsolatedCamera camera("twainnodisplay");
  if (!camera.Start()) return 1;
  return RUN_ALL_TESTS();
}

// Test main of the card windows: an offscreen Qt application whose GUI
// thread also serves the platform's message queue. A target that defines
// FOTAVI_TEST_SCREENS (a screens file of the offscreen platform) gets those
// screens instead of the platform's single 800 x 800 one.
#include <gtest/gtest.h>

#include <QApplication>

#include "QtGlue/QtMessagePump.h"

int main(int argc, char** argv) {
#ifdef FOTAVI_TEST_SCREENS
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" FOTAVI_TEST_SCREENS);
#else
  qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  QApplication app(argc, argv);
  QtMessagePump pump;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

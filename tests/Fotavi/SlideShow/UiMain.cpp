// Test main of the slide-show dialog: an offscreen Qt application whose GUI
// thread also serves the platform's message queue.
#include <gtest/gtest.h>

#include <QApplication>

#include "QtGlue/QtMessagePump.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QtMessagePump pump;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

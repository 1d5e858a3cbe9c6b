// Test entry: an offscreen Qt application, settings and folders isolated.
#include <gtest/gtest.h>

#include <QApplication>

#include "MovTestSupport.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

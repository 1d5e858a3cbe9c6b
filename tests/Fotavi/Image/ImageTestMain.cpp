// Test entry: an offscreen Qt application with settings of its own.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

int main(int argc, char** argv) {
  const std::string dir = "/tmp/fotavi-image-tests-" + std::to_string(getpid());
  std::filesystem::create_directories(dir + "/work");
  setenv("FOTAVI_USER_SETTINGS", (dir + "/user.conf").c_str(), 1);
  setenv("FOTAVI_MACHINE_SETTINGS", (dir + "/machine.conf").c_str(), 1);
  setenv("FOTAVI_WORK_DIR", (dir + "/work").c_str(), 1);
  setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return rc;
}

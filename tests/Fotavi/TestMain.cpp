// Test entry: an offscreen Qt application on a 1280 x 1024 screen.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const std::string config = "/tmp/fotavi-test-screen-" + std::to_string(getpid()) + ".json";
  if (FILE* f = std::fopen(config.c_str(), "w")) {
    std::fputs(R"({"screens":[{"name":"test","x":0,"y":0,"width":1280,"height":1024,)"
               R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})",
               f);
    std::fclose(f);
  }
  setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
  // Trace lines of tests without a logs folder go to a state folder of the
  // run's own, never the user's.
  std::string state = "/tmp/fotavi-test-state-XXXXXX";
  if (mkdtemp(state.data())) setenv("XDG_STATE_HOME", state.c_str(), 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  std::remove(config.c_str());
  std::filesystem::remove_all(state);
  return rc;
}

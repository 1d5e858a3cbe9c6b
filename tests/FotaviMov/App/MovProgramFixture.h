// A test of the whole movie program on the emulated camera: its own device
// folder, the emulator started on demand, the application with the real
// main frame, all ended in order (program, then camera).
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "EmulatorProcess.h"
#include "MainFrm.h"
#include "MovApp.h"
#include "MovTestSupport.h"
#include "RecSettings.h"

namespace movtest {

class MovProgramFixture : public MovFixture {
 protected:
  void SetUp() override {
    MovFixture::SetUp();
    root = Dir() + "/devices";
    setenv("FOTAVI_DEVICE_ROOT", root.c_str(), 1);
  }
  void TearDown() override {
    if (app) app->ExitInstance();
    app.reset();
    emulator.reset();
    unsetenv("FOTAVI_DEVICE_ROOT");
    MovFixture::TearDown();
  }
  bool StartCamera() {
    fotavi::test::EmulatorOptions options;
    options.deviceRoot = root;
    emulator = std::make_unique<fotavi::test::EmulatorProcess>(options);
    return emulator->Start();
  }
  bool StartApp() {
    app = std::make_unique<CFotaviMovApp>();
    app->SetFrameFactory(&CreateMovMainFrame);
    return app->InitInstance() != FALSE;
  }
  CMainFrame* Main() { return dynamic_cast<CMainFrame*>(app->GetMainFrame()); }
  // Confirmed settings as the settings dialog leaves them: half size (512 x
  // 384), ten frames a second, the given writer and limit.
  void WriteSettings(DWORD compress, DWORD limitMode, DWORD seconds, const std::string& output) {
    using namespace recreg;
    WriteRecString(kOutputFileName, output);
    WriteRecInt(kCompress, compress);
    WriteRecInt(kVideoSize, VIDEOSIZE_50);
    WriteRecInt(kCurrentRate, 10);
    WriteRecInt(kMaxFileSize, 1024);
    WriteRecInt(kRecCondition, limitMode);
    WriteRecInt(kRecMinute, 0);
    WriteRecInt(kRecSecond, seconds);
    WriteRecInt(kVideoQuality, 80);
    WriteRecInt(kIsSetting, 1);
  }

  std::string root;
  std::unique_ptr<fotavi::test::EmulatorProcess> emulator;
  std::unique_ptr<CFotaviMovApp> app;
};

}  // namespace movtest

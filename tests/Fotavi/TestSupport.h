// Shared pieces of the presentation program's tests: a user-interface
// service that records message boxes, an isolated environment, event-loop
// waits and an application object bound to a scripted device.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "App/FotaviApp.h"
#include "App/MainFrm.h"
#include "Platform/UiService.h"

namespace fotavi::test {

class RecordingUi : public IUserInterfaceService {
 public:
  int MessageBox(HWND, const std::string& text, const std::string&, UINT type) override {
    std::lock_guard<std::mutex> g(lock);
    texts.push_back(text);
    types.push_back(type);
    if (onBox) onBox(text);
    return (type & MB_TYPEMASK) == MB_YESNOCANCEL || (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
  }
  FileChooserResult ChooseFile(HWND, const FileChooserRequest& request) override {
    lastChooser = request;
    FileChooserResult r;
    if (!chooserAnswer.empty()) {
      r.accepted = true;
      r.paths = {chooserAnswer};
    }
    return r;
  }
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return {}; }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> g(lock);
    return texts;
  }
  std::mutex lock;
  std::vector<std::string> texts;
  std::vector<UINT> types;
  std::function<void(const std::string&)> onBox;
  FileChooserRequest lastChooser;
  std::string chooserAnswer;
};

// Runs the Qt event loop (and with it the platform queue) until `done` or
// the time runs out; returns `done()`.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);
void Pump(int ms);

// Fresh settings, work folder and mutex folder for each test.
class IsolatedEnv {
 public:
  IsolatedEnv();
  ~IsolatedEnv();
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

// An application object on a scripted device, started and ready.
class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Starts the application; false when InitInstance failed.
  bool Start();
  CMainFrame* Main() { return app->GetMainFrame(); }

  std::unique_ptr<IsolatedEnv> env;
  RecordingUi ui;
  FakeDevice* device = nullptr;  // owned by `owned` until bound
  std::unique_ptr<FakeDevice> owned;
  std::unique_ptr<CFotaviApp> app;
  bool releaseCalled = false;
};

}  // namespace fotavi::test

// A data source object on the real device library and the camera emulator,
// with a window-less capture dialog, a recorder for message boxes and a
// manager entry that records the source's notices.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EmulatorProcess.h"
#include "IsolatedCamera.h"
#include "Platform/UiService.h"
#include "TwainDS.h"
#include "TwainHost.h"

namespace twain_test {

class RecordingUi : public IUserInterfaceService {
 public:
  int MessageBox(HWND, const std::string& text, const std::string& caption, UINT type) override;
  FileChooserResult ChooseFile(HWND, const FileChooserRequest&) override { return {}; }
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return {}; }
  std::vector<std::string> Texts();
  std::vector<std::string> Captions();
  void Clear();

 private:
  std::mutex lock_;
  std::vector<std::string> texts_;
  std::vector<std::string> captions_;
};

// What the capture core asks of its window, recorded.
class RecordingView : public ICaptureView {
 public:
  void EnableControl(int id, bool enable) override;
  void FocusControl(int) override {}
  void ShowPreview(const CBitmap24& picture) override;
  void PreviewSize(int* width, int* height) override;
  void ShowMessage(const std::string& text) override;
  bool Enabled(int id);
  int Pictures();
  std::vector<std::string> Messages();

 private:
  std::mutex lock_;
  std::map<int, bool> enabled_;
  std::vector<std::string> messages_;
  int pictures_ = 0;
};

class FakeDialog : public ICaptureDialog, public IDeviceLinkTarget {
 public:
  explicit FakeDialog(const CaptureDialogParams& params);
  ~FakeDialog() override;
  CCaptureCore* Core() override { return core_.get(); }
  IDeviceLinkTarget* NotifyTarget() override { return this; }
  void OnDeviceArrived() override;
  void OnDeviceRemoved() override;
  RecordingView view;
  static std::atomic<FakeDialog*> current;

 private:
  std::unique_ptr<CCaptureCore> core_;
};

// Notices the source sent through the manager's entry.
NoticeLog& Notices();

// (exchanges, last parameter) the camera counted for a command code.
std::pair<long, long> EmulatorCount(fotavi::test::EmulatorProcess& emulator, WORD command);

// Waits until `done` holds or the time runs out.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

class DsFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
  TW_UINT16 Status();
  // Drives the source into a state: 300 to 700 (500 and up with the dialog).
  void Reach(int state);
  TW_UINT16 OpenDS();
  TW_UINT16 EnableDS(bool showUI);

  std::unique_ptr<CTwainDS> ds;
  TW_IDENTITY app{};
  TW_IDENTITY dsIdentity{};
  static RecordingUi* ui;
  static IsolatedCamera* camera;
  static fotavi::test::EmulatorProcess* emulator;  // camera's
  static std::string root;                         // camera's folder
};

}  // namespace twain_test

// Test fixture of the card tools against the camera emulator: private
// device root, settings, work folder and card folder per test; the device
// library loaded by path; the interface opened with short time limits.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "EmulatorProcess.h"
#include "Platform/Platform.h"
#include "Platform/UiService.h"

namespace fotavi::test {

class CardFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the emulator (with the card unless `withCard` is false) and opens
  // the device.
  bool StartCamera(bool withCard = true, std::vector<std::string> extraArgs = {});
  void CloseCamera();

  // Serves the calling thread's platform queue until `done` or the time is up.
  bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
  void Command(const std::string& line);
  std::vector<std::string> ExchangeLog() const;
  // Exchange-log lines of commands the camera received ("in", type 0) with this code.
  size_t CommandsIn(const std::string& hexCode) const;
  // Paths the camera received, in order.
  std::vector<std::string> PathsIn() const;

  // Files on the card and on the computer.
  void MakeCardFolder(const std::string& rel);
  // DCIM/<folder> with pictures ABCD0001.JPG ... ABCD000<n>.JPG (n < 10).
  void PutPictures(const std::string& folder, int n);
  void PutCardFile(const std::string& rel, const std::string& data);
  std::string CardFile(const std::string& rel) const;
  bool CardFileExists(const std::string& rel) const;
  std::string MakeSourceFolder(const std::string& name);
  static void WriteBytes(const std::string& path, const std::string& data);

  std::string root_;
  std::string cardDir_;
  std::string workDir_;
  std::unique_ptr<EmulatorProcess> emulator_;
  CDeviceInterface* device_ = nullptr;
  HWND client_ = nullptr;
  size_t blocksAtStart_ = 0;
};

// Message boxes answered OK (Yes for a question) instead of shown; their
// texts are kept.
class AnsweringUi : public IUserInterfaceService {
 public:
  int MessageBox(HWND, const std::string& text, const std::string&, UINT type) override;
  FileChooserResult ChooseFile(HWND, const FileChooserRequest&) override { return {}; }
  std::string ChooseFolder(HWND, const std::string&, const std::string&) override { return {}; }
  std::vector<std::string> texts;
};

// Serves Qt's events (and so, through the message pump, the platform's
// queue) until `done` or the time is up; returns whether `done` came.
bool ServeUntil(const std::function<bool()>& done, int timeoutMs = 20000);
// Serves Qt's events for `ms`.
void ServeFor(int ms);

// A JPEG picture of width x height with a pattern (the built-in encoder).
std::string MakeJpeg(int width, int height, int seed = 0);
// Decodes with libjpeg directly; false when the data is not a whole JPEG.
bool JpegSize(const std::string& data, int* width, int* height);

}  // namespace fotavi::test

// Test fixture for the device library against the camera emulator: private
// device root, settings, mutex and fallback folders per test; the module
// loaded by path through the platform; a client window that records the
// library's messages.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EmulatorProcess.h"
#include "FotaviZ5.h"
#include "Platform/Platform.h"

namespace fotavi::test {

using PFN_SETTIMELIMITS = void (*)(DWORD, DWORD, DWORD, DWORD);

// The module, loaded once per process.
struct DriverModule {
  HMODULE module = nullptr;
  PFN_CREATEINSTANCE create = nullptr;
  PFN_RELEASEINSTANCE release = nullptr;
  PFN_SETTIMELIMITS setTimeLimits = nullptr;
  static DriverModule& Get();
};

struct Received {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// Short time limits used by the tests (milliseconds).
constexpr DWORD kTestTransferMs = 1500;
constexpr DWORD kTestThreadEndMs = 3000;
constexpr DWORD kTestResetPauseMs = 1;
constexpr DWORD kTestMutexWaitMs = 500;

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Settings written before CreateInstance (the library reads them there).
  virtual void WriteSettings();
  virtual EmulatorOptions Options();

  bool StartEmulator();
  bool CreateInterface();
  void ReleaseInterface();
  bool Open();

  // Pumps the calling thread's messages until `done` or the time is up.
  bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
  void PumpFor(DWORD ms);
  // Records received with this message.
  std::vector<Received> ReceivedOf(UINT message) const;
  // Hands a completion record back to the library.
  void HandBack(const Received& r);

  std::vector<std::string> ExchangeLog() const;
  // Exchange-log lines containing every one of the given fragments.
  std::vector<std::string> LogLines(std::initializer_list<std::string> fragments) const;
  void Command(const std::string& line);

  std::string root_;
  std::string deviceRoot_;
  std::string cardDir_;
  std::string installDir_;
  std::string settingsFile_;
  std::string exchangeLog_;
  DWORD logLevel_ = 1;
  DWORD logFileSize_ = 1024;
  DWORD maxTransferSize_ = 64;
  bool withInstallPath_ = true;
  bool withCard_ = true;
  std::unique_ptr<EmulatorProcess> emulator_;
  CDeviceInterface* device_ = nullptr;
  HWND client_ = nullptr;
  std::vector<Received> received_;
  size_t blocksAtStart_ = 0;
};

// The emulator running and the interface open before each test.
class OpenedDriverTest : public DriverTest {
 protected:
  void SetUp() override;
};

// A data block's bytes.
std::vector<BYTE> BlockBytes(HGLOBAL h);
// Decodes a JPEG in memory; false when it does not decode.
bool DecodeJpeg(const std::vector<BYTE>& data, int* width, int* height);
std::string ReadFileText(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace fotavi::test

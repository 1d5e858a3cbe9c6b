// Runs the camera emulator as a child process for tests: start, stop, the
// run-time command channel, unplug/replug and the exchange log.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fotavi::test {

struct EmulatorOptions {
  std::string deviceRoot;            // required: a fresh temp folder per test
  std::string instance = "cam0";
  std::string cardDir;               // empty: no card
  std::string pictureDir;            // empty: generated pattern
  uint32_t packetSize = 65536;
  std::string exchangeLog;           // empty: none
  bool startUnplugged = false;
  std::vector<std::string> extraArgs;
};

class EmulatorProcess {
 public:
  explicit EmulatorProcess(EmulatorOptions options);
  ~EmulatorProcess();  // Stop()
  EmulatorProcess(const EmulatorProcess&) = delete;
  EmulatorProcess& operator=(const EmulatorProcess&) = delete;

  // Spawns the binary; waits until its command channel answers and, unless it
  // starts unplugged, until the member folder with both sockets is present.
  bool Start(int timeoutMs = 10000);
  // "quit", wait, then SIGTERM and SIGKILL if needed. Safe to call twice.
  void Stop();
  // One line of the run-time command channel; true when the reply is "ok...".
  bool Command(const std::string& line, std::string* reply = nullptr);
  // Command + wait until the member folder is gone / present.
  bool Unplug(int timeoutMs = 5000);
  bool Replug(int timeoutMs = 5000);
  // Lines of the exchange log written so far (empty without a log).
  std::vector<std::string> ExchangeLog() const;
  std::string DevicePath() const;  // <root>/{GUID}/<instance>
  pid_t pid() const { return pid_; }
  // $FOTAVI_EMULATOR, else the camera-emulator built with the tests.
  static std::string BinaryPath();

 private:
  bool WaitPresent(bool present, int timeoutMs) const;
  bool Running();

  EmulatorOptions options_;
  std::string commandDir_;
  std::string commandSocket_;
  pid_t pid_ = -1;
};

std::string MakeTempDir(const std::string& prefix);  // mkdtemp under $TMPDIR or /tmp; caller removes
void RemoveTree(const std::string& path);

}  // namespace fotavi::test

// A test program's private folder (settings, mutexes, work and fallback
// folders: see TestEnv.h) with the camera emulator serving the device root
// inside it. Destroyed, it stops the emulator and removes the folder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "EmulatorProcess.h"
#include "TestEnv.h"

namespace twain_test {

class IsolatedCamera {
 public:
  // `tag` names the folder; the device root is set to "devices" in it.
  explicit IsolatedCamera(const char* tag)
      : m_Root(fotavi_test::IsolateEnvironment(tag)), m_Devices(m_Root + "/devices") {
    setenv("FOTAVI_DEVICE_ROOT", m_Devices.c_str(), 1);
  }
  IsolatedCamera(const IsolatedCamera&) = delete;
  IsolatedCamera& operator=(const IsolatedCamera&) = delete;
  ~IsolatedCamera() {
    m_pEmulator.reset();
    std::filesystem::remove_all(m_Root);
  }

  // Starts the emulator on the device root (`options` give the rest).
  bool Start(fotavi::test::EmulatorOptions options = {}) {
    options.deviceRoot = m_Devices;
    m_pEmulator = std::make_unique<fotavi::test::EmulatorProcess>(options);
    return m_pEmulator->Start();
  }
  const std::string& Root() const { return m_Root; }
  fotavi::test::EmulatorProcess* Emulator() { return m_pEmulator.get(); }

 private:
  std::string m_Root;
  std::string m_Devices;
  std::unique_ptr<fotavi::test::EmulatorProcess> m_pEmulator;
};

}  // namespace twain_test

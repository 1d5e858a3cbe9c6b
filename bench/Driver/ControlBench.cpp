// The cost of one I/O control on an open device handle (the driver-text
// control the device log asks for with every line) against the camera
// emulator, beside a bare round trip of the same size over a socket pair to
// a thread of this process that answers at once. Both wait for their answer
// the same way (the caller sleeps until it comes), so the ratio shows what
// the handle adds to the exchange itself.
//   fotavi_control_bench [calls per round, default 20000]
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "BareSocket.h"
#include "EmulatorProcess.h"
#include "Platform/DeviceInterface.h"
#include "ThreadCpu.h"

using fotavi::test::BareRoundTripUs;
using fotavi::test::ThreadCpuSeconds;

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
  const std::string root = fotavi::test::MakeTempDir("fotavi-controlbench-");
  setenv("FOTAVI_DEVICE_ROOT", root.c_str(), 1);
  int rc = 0;
  {
    fotavi::test::EmulatorOptions options;
    options.deviceRoot = root;
    fotavi::test::EmulatorProcess emulator(options);
    auto set = emulator.Start() ? CDeviceInfoSet::GetPresent(FOTAVI_DEVICE_CLASS_GUID) : nullptr;
    std::string member;
    auto handle = set && set->EnumMember(0, &member) == ERROR_SUCCESS
                      ? CDeviceHandle::Open(member + "/" + DEVICE_PIPE_SOCKET)
                      : nullptr;
    if (!handle) {
      std::fprintf(stderr, "the emulated camera did not open\n");
      rc = 1;
    } else {
      char text[3840];
      DWORD n = 0;
      handle->IoControl(IOCTL_FOTAVI_GET_DRIVER_LOG, text, sizeof text, &n, 1000);
      const size_t replyBytes = 8 + n;
      std::printf("I/O control 0x%X (driver text, %lu bytes back), %d calls a round; CPU of the calling thread\n",
                  IOCTL_FOTAVI_GET_DRIVER_LOG, static_cast<unsigned long>(n), calls);
      std::printf("%-6s %14s %14s %7s\n", "round", "handle us", "bare us", "ratio");
      for (int round = 1; round <= 3; ++round) {
        int failed = 0;
        const double start = ThreadCpuSeconds();
        for (int i = 0; i < calls; ++i) {
          if (handle->IoControl(IOCTL_FOTAVI_GET_DRIVER_LOG, text, sizeof text, &n, 1000) != DeviceIoResult::Ok)
            ++failed;
        }
        const double handleUs = (ThreadCpuSeconds() - start) * 1e6 / calls;
        const double bareUs = BareRoundTripUs(calls, replyBytes);
        std::printf("%-6d %14.2f %14.2f %7.2f%s\n", round, handleUs, bareUs, bareUs > 0 ? handleUs / bareUs : 0.0,
                    failed ? " (some failed)" : "");
        if (failed) rc = 1;
      }
    }
  }
  fotavi::test::RemoveTree(root);
  return rc;
}

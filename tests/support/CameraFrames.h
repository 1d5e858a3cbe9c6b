// JPEG frames straight from the camera through the device library (its
// header included), for the benchmarks' bare decodes.
#pragma once

#include <string>
#include <vector>

#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/GlobalMemory.h"

namespace fotavi::test {

inline std::vector<std::string> GrabCameraFrames(CDeviceInterface* device, int count) {
  std::vector<std::string> frames;
  const DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  for (int i = 0; i < count; ++i) {
    HGLOBAL data = nullptr;
    DWORD size = 0, error = 0;
    if (device->bRequest(&cmd, &data, &size, &error) && data && size) {
      frames.emplace_back(static_cast<const char*>(GlobalLock(data)), size);
      GlobalUnlock(data);
    }
    if (data) GlobalFree(data);
  }
  return frames;
}

}  // namespace fotavi::test

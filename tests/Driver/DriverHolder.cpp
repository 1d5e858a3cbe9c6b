// Helper process for the tests: opens the camera through the device library,
// prints "open <result> <error>" and keeps it open until its input ends.
#include <cstdio>
#include <iostream>
#include <string>

#include "FotaviZ5.h"
#include "Platform/Platform.h"

int main() {
  HMODULE module = LoadLibrary(FOTAVI_DRIVER_MODULE);
  if (!module) return 2;
  auto create = GetProcAddressAs<PFN_CREATEINSTANCE>(module, FOTAVI_CREATEINSTANCE);
  auto release = GetProcAddressAs<PFN_RELEASEINSTANCE>(module, FOTAVI_RELEASEINSTANCE);
  CDeviceInterface* device = nullptr;
  if (!create || !release || !create(&device)) return 3;
  DWORD err = 0;
  BOOL ok = device->bOpen(nullptr, &err);
  std::printf("open %d %08x\n", ok, err);
  std::fflush(stdout);
  std::string line;
  std::getline(std::cin, line);
  if (ok) device->bClose(&err);
  release(&device);
  return 0;
}

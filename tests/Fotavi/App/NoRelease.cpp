// A device library that lacks "ReleaseInstance" (start-up must refuse it).
#include "Driver/FotaviZ5.dll/FotaviZ5.h"

extern "C" __attribute__((visibility("default"))) BOOL CreateInstance(CDeviceInterface** pp) {
  if (pp) *pp = nullptr;
  return FALSE;
}

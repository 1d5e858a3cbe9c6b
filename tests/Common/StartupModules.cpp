// Stand-in modules for the shared start-up pieces: a device library without
// ReleaseInstance, and an outside codec without FncSaveJpegW.
#include "Common/OutsideCodec.h"
#include "Driver/FotaviZ5.dll/FotaviZ5.h"

#define STARTUP_EXPORT extern "C" __attribute__((visibility("default")))

#if defined(STARTUP_MODULE_NORELEASE)
STARTUP_EXPORT BOOL CreateInstance(CDeviceInterface** pp) {
  if (pp) *pp = nullptr;
  return FALSE;
}
#elif defined(STARTUP_MODULE_CODEC_NOSAVE)
STARTUP_EXPORT BOOL FncLoadJpegW(const char*, const BYTE*, DWORD, HGLOBAL*, int, int, int) { return FALSE; }
STARTUP_EXPORT BOOL FncGetJpegInfoW(const char*, const BYTE*, DWORD, DWORD*) { return FALSE; }
#endif

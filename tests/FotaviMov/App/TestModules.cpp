// Stand-in modules for the start-up failures of the movie program.
#include "Common/OutsideCodec.h"
#include "Driver/FotaviZ5.dll/FotaviZ5.h"

#define MOV_EXPORT extern "C" __attribute__((visibility("default")))

#if defined(MOV_MODULE_NOCREATE)
// Binds ReleaseInstance only.
MOV_EXPORT void ReleaseInstance(CDeviceInterface** pp) {
  if (pp) *pp = nullptr;
}
#elif defined(MOV_MODULE_CREATEFAILS)
MOV_EXPORT BOOL CreateInstance(CDeviceInterface** pp) {
  if (pp) *pp = nullptr;
  return FALSE;
}
MOV_EXPORT void ReleaseInstance(CDeviceInterface** pp) {
  if (pp) *pp = nullptr;
}
#elif defined(MOV_MODULE_CODEC_NOINFO)
// A codec module with the load entry but without the information entry.
MOV_EXPORT BOOL FncLoadJpegW(const char*, const BYTE*, DWORD, HGLOBAL*, int, int, int) { return FALSE; }
#endif

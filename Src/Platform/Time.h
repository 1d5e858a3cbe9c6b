// Time: a 32-bit millisecond tick counter that wraps like Windows' tick
// count, sleeping, and the local time of day.
#pragma once

#include "Types.h"

FOTAVI_PLATFORM_API DWORD GetTickCount();
// Shifts GetTickCount by `offsetMs` (tests: put the counter near its wrap).
FOTAVI_PLATFORM_API void SetTickCountOffset(DWORD offsetMs);
FOTAVI_PLATFORM_API void Sleep(DWORD ms);

struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
FOTAVI_PLATFORM_API void GetLocalTime(SYSTEMTIME* st);

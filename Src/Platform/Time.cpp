#include "Time.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace {
std::atomic<DWORD> g_tickOffset{0};
thread_local DWORD t_lastError = 0;
}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

DWORD GetTickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms) + g_tickOffset.load(std::memory_order_relaxed);
}

void SetTickCountOffset(DWORD offsetMs) { g_tickOffset.store(offsetMs, std::memory_order_relaxed); }

void Sleep(DWORD ms) {
  if (ms == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

void GetLocalTime(SYSTEMTIME* st) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local;
  localtime_r(&ts.tv_sec, &local);
  st->wYear = static_cast<WORD>(local.tm_year + 1900);
  st->wMonth = static_cast<WORD>(local.tm_mon + 1);
  st->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  st->wDay = static_cast<WORD>(local.tm_mday);
  st->wHour = static_cast<WORD>(local.tm_hour);
  st->wMinute = static_cast<WORD>(local.tm_min);
  st->wSecond = static_cast<WORD>(local.tm_sec);
  st->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

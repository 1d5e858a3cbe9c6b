// Time limits of the device library. The built library always uses the real
// values; only tests shorten them (FotaviZ5SetTimeLimitsForTest).
#pragma once

#include <atomic>

#include "Platform/Types.h"

struct CTimeLimits {
  static constexpr DWORD kTransferMs = 10000;    // one read, write or I/O control
  static constexpr DWORD kThreadEndMs = 5000;    // a worker thread's end after WM_QUIT
  static constexpr DWORD kResetPauseMs = 1000;   // pause after the reset I/O control
  static constexpr DWORD kMutexWaitMs = 10000;   // wait for "Wait for Response"
  static constexpr DWORD kLogOpenMs = 5000;      // the log thread's opening of its next file

  std::atomic<DWORD> dwTransferMs{kTransferMs};
  std::atomic<DWORD> dwThreadEndMs{kThreadEndMs};
  std::atomic<DWORD> dwResetPauseMs{kResetPauseMs};
  std::atomic<DWORD> dwMutexWaitMs{kMutexWaitMs};
  std::atomic<DWORD> dwLogOpenMs{kLogOpenMs};
};

CTimeLimits& TimeLimits();

// A scripted camera for the live-picture thread: each frame request takes
// the next reply of a script and answers it from a worker thread; records
// are lent and must come back to the fake's dispatcher thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Messages.h"

namespace movtest {

// One JPEG of width x height.
std::string MakeJpeg(int width, int height, int seed = 0);

enum class Reply {
  Good,      // a 1024 x 768 JPEG frame
  Empty,     // success, length 0, no data
  Failed,    // result FALSE, ERR_FOTAVI_READTIMEOUT
  ReadZero,  // result FALSE, ERR_FOTAVI_READZERO
  Corrupt,   // success with bytes that are not a JPEG
  Never,     // no reply at all
};

class MovFakeDevice : public CDeviceInterface {
 public:
  MovFakeDevice();
  ~MovFakeDevice() override;

  // ---- script
  void Script(std::initializer_list<Reply> replies);
  std::atomic<Reply> after{Reply::Good};  // once the script is used up
  std::atomic<bool> connected{true};
  std::atomic<int> asyncFailures{0};      // the next n requests cannot be posted
  std::atomic<int> replyDelayMs{2};

  // ---- observations
  std::atomic<int> requests{0};           // bRequestAsync calls
  std::atomic<int> repliesPosted{0};
  std::atomic<int> handedBack{0};
  std::atomic<int> returnedWithData{0};  // records handed back with their data block still attached
  size_t Outstanding() const;             // lent and not yet back
  HWND lastTarget() const { return lastTarget_.load(); }

  // ---- CDeviceInterface
  BOOL bSetNotifyWindow(HWND) override { return TRUE; }
  DWORD bIsConnected() override { return connected.load() ? 1 : 0; }
  BOOL bOpen(HWND, DWORD* e) override { return Done(e); }
  BOOL bClose(DWORD* e) override { return Done(e); }
  BOOL bIoctlAsync(HWND, DWORD, const void*, DWORD, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bIoctl(DWORD, void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bReadAsync(HWND, void*, DWORD, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bRead(void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bWriteAsync(HWND, const void*, DWORD, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bWrite(const void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bRequestAsync(HWND, CRequestParam*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bRequestAsync(HWND hTarget, const DEVICE_CMD* pCommand, WORD* pwSequence, DWORD* pdwError) override;
  BOOL bRequest(CRequestParam*, DWORD* e) override { return Unused(e); }
  BOOL bRequest(const DEVICE_CMD*, HGLOBAL*, DWORD*, DWORD* e) override { return Unused(e); }

 private:
  static BOOL Done(DWORD* e) {
    if (e) *e = 0;
    return TRUE;
  }
  static BOOL Unused(DWORD* e) {
    if (e) *e = ERR_FOTAVI_REQUEST;
    return FALSE;
  }
  void Worker();

  struct Job {
    HWND target;
    Reply kind;
  };
  mutable std::mutex lock_;
  std::condition_variable cv_;
  std::deque<Reply> script_;
  std::deque<Job> jobs_;
  std::set<DEVICE_RSP*> outstanding_;
  std::atomic<HWND> lastTarget_{nullptr};
  std::string frame_;
  bool quit_ = false;
  std::unique_ptr<CPlatformThread> dispatcher_;
  std::thread worker_;
};

}  // namespace movtest

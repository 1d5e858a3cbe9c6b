// A scripted device interface for the presentation program's tests: frame
// requests are answered from a script on a worker thread, records are lent
// and must come back through WM_FOTAVI_RELASERSP to the fake's dispatcher.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Messages.h"
#include "Platform/Sync.h"

namespace fotavi::test {

// One JPEG of width x height (a moving-ish pattern seeded by `seed`).
std::string MakeJpeg(int width, int height, int seed = 0);

enum class Reply {
  Good,        // a JPEG frame
  Empty,       // success, length 0, no data
  Failed,      // result FALSE with ERR_FOTAVI_READTIMEOUT
  Corrupt,     // success with bytes that are not a JPEG
  Never,       // no reply at all
};

class FakeDevice : public CDeviceInterface {
 public:
  FakeDevice();
  ~FakeDevice() override;

  // ---- script
  std::atomic<bool> connected{true};
  std::atomic<BOOL> openResult{TRUE};
  std::atomic<DWORD> openError{0};
  std::atomic<int> asyncFailures{0};       // next n bRequestAsync calls fail
  std::atomic<int> replyDelayMs{5};
  // While set, bRequestAsync does not return (a request stuck in the
  // library); asyncHeld counts the calls held so.
  std::atomic<bool> holdAsync{false};
  std::atomic<int> asyncHeld{0};
  void PushReplies(Reply kind, int count = 1);
  void SetDefaultReply(Reply kind) { defaultReply_ = kind; }
  // Synchronous requests (still capture): results in order, then success.
  void PushSyncResults(std::vector<BOOL> results) {
    std::lock_guard<std::mutex> g(lock_);
    for (BOOL r : results) syncResults_.push_back(r);
  }
  std::atomic<bool> syncEmpty{false};

  // ---- observations
  std::atomic<int> asyncCalls{0};
  std::atomic<int> syncCalls{0};
  std::atomic<int> openCalls{0};
  std::atomic<int> closeCalls{0};
  std::atomic<int> repliesPosted{0};
  size_t Outstanding() const;
  HWND notifyWindow() const { return notify_.load(); }
  std::string frame;  // the JPEG sent for Good replies

  // ---- CDeviceInterface
  BOOL bSetNotifyWindow(HWND hWnd) override;
  DWORD bIsConnected() override { return connected.load() ? 1 : 0; }
  BOOL bOpen(HWND hNotifyWnd, DWORD* pdwError) override;
  BOOL bClose(DWORD* pdwError) override;
  BOOL bIoctlAsync(HWND, DWORD, const void*, DWORD, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bIoctl(DWORD, void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bReadAsync(HWND, void*, DWORD, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bRead(void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bWriteAsync(HWND, const void*, DWORD, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bWrite(const void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bRequestAsync(HWND, CRequestParam*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bRequestAsync(HWND hTarget, const DEVICE_CMD* pCommand, WORD* pwSequence, DWORD* pdwError) override;
  BOOL bRequest(CRequestParam*, DWORD* e) override { return Unused(e); }
  BOOL bRequest(const DEVICE_CMD* pCommand, HGLOBAL* phData, DWORD* pdwSize, DWORD* pdwError) override;

 private:
  BOOL Unused(DWORD* e) {
    if (e) *e = ERR_FOTAVI_REQUEST;
    return FALSE;
  }
  Reply NextReply();
  void Dispatcher();

  mutable std::mutex lock_;
  std::deque<Reply> script_;
  Reply defaultReply_ = Reply::Good;
  std::deque<BOOL> syncResults_;
  std::set<DEVICE_RSP*> outstanding_;
  std::atomic<HWND> notify_{nullptr};
  std::atomic<bool> open_{false};
  std::unique_ptr<CPlatformThread> dispatcher_;
  std::vector<std::thread> workers_;
  std::atomic<bool> quitting_{false};
};

}  // namespace fotavi::test

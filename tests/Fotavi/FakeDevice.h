// A scripted device interface for the presentation program's tests: the
// shared scripted camera, with the device opening and closing, the notify
// window, requests that can be held inside the "library", and synchronous
// requests (still capture) answered from a script of their own.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "ScriptedDevice.h"

namespace fotavi::test {

class FakeDevice : public ScriptedDevice {
 public:
  // The live thread keeps a reply's data block and hands the record back
  // still naming it.
  FakeDevice() : ScriptedDevice(5, DataOnReturn::TakenByTheClient) {}
  ~FakeDevice() override { quitting_.store(true); }

  // ---- script
  std::atomic<BOOL> openResult{TRUE};
  std::atomic<DWORD> openError{0};
  // While set, bRequestAsync does not return (a request stuck in the
  // library); asyncHeld counts the calls held so.
  std::atomic<bool> holdAsync{false};
  std::atomic<int> asyncHeld{0};
  void PushReplies(Reply kind, int count = 1) { AddToScript(kind, count); }
  void SetDefaultReply(Reply kind) { after = kind; }
  // Synchronous requests (still capture): results in order, then success.
  void PushSyncResults(std::vector<BOOL> results) {
    std::lock_guard<std::mutex> g(syncLock_);
    for (BOOL r : results) syncResults_.push_back(r);
  }
  std::atomic<bool> syncEmpty{false};

  // ---- observations
  std::atomic<int> asyncCalls{0};
  std::atomic<int> syncCalls{0};
  std::atomic<int> openCalls{0};
  std::atomic<int> closeCalls{0};
  HWND notifyWindow() const { return notify_.load(); }

  // ---- CDeviceInterface
  BOOL bSetNotifyWindow(HWND hWnd) override;
  BOOL bOpen(HWND hNotifyWnd, DWORD* pdwError) override;
  BOOL bClose(DWORD* pdwError) override;
  using ScriptedDevice::bRequestAsync;
  BOOL bRequestAsync(HWND hTarget, const DEVICE_CMD* pCommand, WORD* pwSequence, DWORD* pdwError) override;
  using ScriptedDevice::bRequest;
  BOOL bRequest(const DEVICE_CMD* pCommand, HGLOBAL* phData, DWORD* pdwSize, DWORD* pdwError) override;

 private:
  std::mutex syncLock_;
  std::deque<BOOL> syncResults_;
  std::atomic<HWND> notify_{nullptr};
  std::atomic<bool> open_{false};
  std::atomic<bool> quitting_{false};
};

}  // namespace fotavi::test

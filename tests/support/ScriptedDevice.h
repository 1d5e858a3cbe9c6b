// The common part of the programs' scripted cameras: frame requests take the
// next reply of a script and are answered after a delay from a worker
// thread; the reply records are lent and must come back through
// WM_FOTAVI_RELASERSP to the fake's dispatcher thread, which counts them.
// Each program's fake adds what its tests script and watch.
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
#include "Platform/Sync.h"

namespace fotavi::test {

// One JPEG of width x height: filled with (30 + seed % 200, 90, 150), with a
// yellow square placed by `seed`.
std::string MakeJpeg(int width, int height, int seed = 0);
// A copy of `bytes` in a new global-memory block.
HGLOBAL CopyToGlobal(const std::string& bytes);

enum class Reply {
  Good,      // a 1024 x 768 JPEG frame
  Empty,     // success, length 0, no data
  Failed,    // result FALSE, ERR_FOTAVI_READTIMEOUT
  ReadZero,  // result FALSE, ERR_FOTAVI_READZERO
  Corrupt,   // success with bytes that are not a JPEG
  Never,     // no reply at all
};

class ScriptedDevice : public CDeviceInterface {
 public:
  // Who holds a reply's data block once the client has the record: the
  // library deletes only the record. A client may take the block and hand the
  // record back with it still named, or free it and hand the record back
  // clean, when a block still named is a leak.
  enum class DataOnReturn { TakenByTheClient, FreedByTheClient };

  ~ScriptedDevice() override;

  // ---- script
  std::atomic<Reply> after{Reply::Good};  // once the script is used up
  std::atomic<bool> connected{true};
  std::atomic<int> asyncFailures{0};      // the next n requests cannot be posted
  std::atomic<int> replyDelayMs;

  // ---- observations
  std::atomic<int> repliesPosted{0};
  std::atomic<int> handedBack{0};
  // Records handed back with their data block still attached, where the
  // client must have freed it (the block is freed then, and counted).
  std::atomic<int> returnedWithData{0};
  size_t Outstanding() const;            // lent and not yet back
  std::string frame;                     // the JPEG of Good replies

  // ---- CDeviceInterface: what neither program's tests use fails
  DWORD bIsConnected() override { return connected.load() ? 1 : 0; }
  BOOL bIoctlAsync(HWND, DWORD, const void*, DWORD, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bIoctl(DWORD, void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bReadAsync(HWND, void*, DWORD, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bRead(void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bWriteAsync(HWND, const void*, DWORD, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bWrite(const void*, DWORD, DWORD*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bRequestAsync(HWND, CRequestParam*, WORD*, DWORD* e) override { return Unused(e); }
  BOOL bRequest(CRequestParam*, DWORD* e) override { return Unused(e); }

 protected:
  ScriptedDevice(int delayMs, DataOnReturn dataOnReturn);

  static BOOL Unused(DWORD* e) {
    if (e) *e = ERR_FOTAVI_REQUEST;
    return FALSE;
  }
  // Adds `count` replies to the script.
  void AddToScript(Reply kind, int count);
  // Takes the next reply for a request of `command` to `target` and queues
  // it for the worker; FALSE with ERR_FOTAVI_NOOPEN while asyncFailures lasts.
  BOOL Answer(HWND target, WORD command, DWORD* pdwError);

 private:
  struct Job {
    HWND target;
    WORD command;
    Reply kind;
  };
  void Worker();
  void Dispatch(const MSG& m);

  const DataOnReturn dataOnReturn_;
  mutable std::mutex lock_;
  std::condition_variable cv_;
  std::deque<Reply> script_;
  std::deque<Job> jobs_;
  std::set<DEVICE_RSP*> outstanding_;
  bool quit_ = false;
  std::unique_ptr<CPlatformThread> dispatcher_;
  std::thread worker_;
};

}  // namespace fotavi::test

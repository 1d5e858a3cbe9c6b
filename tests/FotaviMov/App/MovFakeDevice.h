// A scripted camera for the live-picture thread: the shared scripted camera,
// answering only JPEG frame requests, with the requests counted and
// numbered and their target window noted.
#pragma once

#include <atomic>
#include <initializer_list>

#include "ScriptedDevice.h"

namespace movtest {

using fotavi::test::MakeJpeg;
using fotavi::test::Reply;

class MovFakeDevice : public fotavi::test::ScriptedDevice {
 public:
  // The live thread frees a reply's data block before it hands the record
  // back: a block still named then is a leak (counted in returnedWithData).
  MovFakeDevice() : ScriptedDevice(2, DataOnReturn::FreedByTheClient) {}

  // ---- script
  void Script(std::initializer_list<Reply> replies) {
    for (Reply r : replies) AddToScript(r, 1);
  }

  // ---- observations
  std::atomic<int> requests{0};  // bRequestAsync calls
  HWND lastTarget() const { return lastTarget_.load(); }

  // ---- CDeviceInterface
  BOOL bSetNotifyWindow(HWND) override { return TRUE; }
  BOOL bOpen(HWND, DWORD* e) override { return Done(e); }
  BOOL bClose(DWORD* e) override { return Done(e); }
  using ScriptedDevice::bRequestAsync;
  BOOL bRequestAsync(HWND hTarget, const DEVICE_CMD* pCommand, WORD* pwSequence, DWORD* pdwError) override;
  using ScriptedDevice::bRequest;
  BOOL bRequest(const DEVICE_CMD*, HGLOBAL*, DWORD*, DWORD* e) override { return Unused(e); }

 private:
  static BOOL Done(DWORD* e) {
    if (e) *e = 0;
    return TRUE;
  }
  std::atomic<HWND> lastTarget_{nullptr};
};

}  // namespace movtest

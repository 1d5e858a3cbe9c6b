#include "FakeDevice.h"

#include <QImage>
#include <QPainter>

#include <chrono>

#include "Common/Jpeg.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Time.h"

namespace fotavi::test {

std::string MakeJpeg(int width, int height, int seed) {
  QImage image(width, height, QImage::Format_BGR888);
  image.fill(QColor(20 + seed % 200, 80, 160));
  QPainter p(&image);
  p.fillRect((seed * 7) % std::max(1, width - 40), height / 3, 40, 40, Qt::yellow);
  p.end();
  std::string jpeg;
  CJpeg::EncodeBuiltIn(image, 75, &jpeg);
  return jpeg;
}

FakeDevice::FakeDevice() {
  frame = MakeJpeg(1024, 768);
  CEvent ready(true, false);
  dispatcher_ = std::make_unique<CPlatformThread>([this] { Dispatcher(); }, false, "FakeDispatcher");
}

FakeDevice::~FakeDevice() {
  quitting_.store(true);
  for (auto& w : workers_)
    if (w.joinable()) w.join();
  PostThreadMessage(dispatcher_->id(), WM_QUIT, 0, 0);
  dispatcher_->Join(5000);
  std::lock_guard<std::mutex> g(lock_);
  for (DEVICE_RSP* r : outstanding_) {
    if (r->pData) GlobalFree(static_cast<HGLOBAL>(r->pData));
    delete r;
  }
}

void FakeDevice::Dispatcher() {
  RunMessageLoop([this](const MSG& m) {
    if (m.message != WM_FOTAVI_RELASERSP) return;
    auto* r = reinterpret_cast<DEVICE_RSP*>(m.lParam);
    std::lock_guard<std::mutex> g(lock_);
    if (outstanding_.erase(r)) delete r;
  });
}

size_t FakeDevice::Outstanding() const {
  std::lock_guard<std::mutex> g(lock_);
  return outstanding_.size();
}

void FakeDevice::PushReplies(Reply kind, int count) {
  std::lock_guard<std::mutex> g(lock_);
  for (int i = 0; i < count; ++i) script_.push_back(kind);
}

Reply FakeDevice::NextReply() {
  std::lock_guard<std::mutex> g(lock_);
  if (script_.empty()) return defaultReply_;
  Reply r = script_.front();
  script_.pop_front();
  return r;
}

BOOL FakeDevice::bSetNotifyWindow(HWND hWnd) {
  notify_.store(hWnd);
  return TRUE;
}

BOOL FakeDevice::bOpen(HWND hNotifyWnd, DWORD* pdwError) {
  ++openCalls;
  if (pdwError) *pdwError = 0;
  if (hNotifyWnd) notify_.store(hNotifyWnd);
  if (!openResult.load()) {
    if (pdwError) *pdwError = openError.load();
    return FALSE;
  }
  open_.store(true);
  return TRUE;
}

BOOL FakeDevice::bClose(DWORD* pdwError) {
  ++closeCalls;
  if (pdwError) *pdwError = 0;
  open_.store(false);
  return TRUE;
}

BOOL FakeDevice::bRequestAsync(HWND hTarget, const DEVICE_CMD* pCommand, WORD* pwSequence, DWORD* pdwError) {
  ++asyncCalls;
  if (pdwError) *pdwError = 0;
  if (holdAsync.load()) {
    ++asyncHeld;
    while (holdAsync.load() && !quitting_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    --asyncHeld;
  }
  if (asyncFailures.load() > 0) {
    --asyncFailures;
    if (pdwError) *pdwError = ERR_FOTAVI_NOOPEN;
    return FALSE;
  }
  const Reply kind = NextReply();
  if (kind == Reply::Never) return TRUE;
  const DWORD dispatcher = dispatcher_->id();
  const int delay = replyDelayMs.load();
  const WORD command = pCommand->wCommand;
  std::thread worker([this, hTarget, kind, dispatcher, delay, command] {
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    auto* r = new DEVICE_RSP{};
    r->wCommand = command;
    r->dwStatus = 0;
    std::string bytes;
    switch (kind) {
      case Reply::Good: r->bResult = TRUE; bytes = frame; break;
      case Reply::Corrupt: r->bResult = TRUE; bytes = std::string(4000, '\x55'); break;
      case Reply::Empty: r->bResult = TRUE; break;
      case Reply::Failed: r->bResult = FALSE; r->dwError = ERR_FOTAVI_READTIMEOUT; break;
      case Reply::Never: break;
    }
    if (!bytes.empty()) {
      HGLOBAL h = GlobalAlloc(GHND, bytes.size());
      std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
      GlobalUnlock(h);
      r->pData = h;
      r->dwLength = static_cast<DWORD>(bytes.size());
    }
    {
      std::lock_guard<std::mutex> g(lock_);
      outstanding_.insert(r);
    }
    if (PostMessage(hTarget, WM_FOTAVI_REQUEST, dispatcher, reinterpret_cast<LPARAM>(r))) ++repliesPosted;
  });
  std::lock_guard<std::mutex> g(lock_);
  workers_.push_back(std::move(worker));
  return TRUE;
}

BOOL FakeDevice::bRequest(const DEVICE_CMD*, HGLOBAL* phData, DWORD* pdwSize, DWORD* pdwError) {
  ++syncCalls;
  if (pdwError) *pdwError = 0;
  BOOL result = TRUE;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (!syncResults_.empty()) {
      result = syncResults_.front();
      syncResults_.pop_front();
    }
  }
  if (!result) {
    if (pdwError) *pdwError = ERR_FOTAVI_READTIMEOUT;
    return FALSE;
  }
  if (syncEmpty.load()) {
    *phData = nullptr;
    *pdwSize = 0;
    return TRUE;
  }
  HGLOBAL h = GlobalAlloc(GHND, frame.size());
  std::memcpy(GlobalLock(h), frame.data(), frame.size());
  GlobalUnlock(h);
  *phData = h;
  *pdwSize = static_cast<DWORD>(frame.size());
  return TRUE;
}

}  // namespace fotavi::test

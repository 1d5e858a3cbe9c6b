#include "ScriptedDevice.h"

#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstring>

#include "Common/Jpeg.h"
#include "Platform/GlobalMemory.h"

namespace fotavi::test {

std::string MakeJpeg(int width, int height, int seed) {
  QImage image(width, height, QImage::Format_BGR888);
  image.fill(QColor(30 + seed % 200, 90, 150));
  QPainter p(&image);
  p.fillRect((seed * 7) % std::max(1, width - 40), height / 3, 40, 40, Qt::yellow);
  p.end();
  std::string jpeg;
  CJpeg::EncodeBuiltIn(image, 80, &jpeg);
  return jpeg;
}

HGLOBAL CopyToGlobal(const std::string& bytes) {
  HGLOBAL h = GlobalAlloc(GHND, bytes.size());
  std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
  GlobalUnlock(h);
  return h;
}

ScriptedDevice::ScriptedDevice(int delayMs, DataOnReturn dataOnReturn)
    : replyDelayMs(delayMs), frame(MakeJpeg(1024, 768)), dataOnReturn_(dataOnReturn) {
  dispatcher_ = std::make_unique<CPlatformThread>(
      [this] { RunMessageLoop([this](const MSG& m) { Dispatch(m); }); }, false, "FakeDispatcher");
  worker_ = std::thread([this] { Worker(); });
}

ScriptedDevice::~ScriptedDevice() {
  {
    std::lock_guard<std::mutex> g(lock_);
    quit_ = true;
  }
  cv_.notify_all();
  worker_.join();
  PostThreadMessage(dispatcher_->id(), WM_QUIT, 0, 0);
  dispatcher_->Join(5000);
  std::lock_guard<std::mutex> g(lock_);
  for (DEVICE_RSP* r : outstanding_) {
    if (r->pData) GlobalFree(static_cast<HGLOBAL>(r->pData));
    delete r;
  }
}

void ScriptedDevice::Dispatch(const MSG& m) {
  if (m.message != WM_FOTAVI_RELASERSP) return;
  auto* r = reinterpret_cast<DEVICE_RSP*>(m.lParam);
  std::lock_guard<std::mutex> g(lock_);
  if (!outstanding_.erase(r)) return;
  if (r->pData && dataOnReturn_ == DataOnReturn::FreedByTheClient) {
    GlobalFree(static_cast<HGLOBAL>(r->pData));
    ++returnedWithData;
  }
  delete r;
  ++handedBack;
}

size_t ScriptedDevice::Outstanding() const {
  std::lock_guard<std::mutex> g(lock_);
  return outstanding_.size();
}

void ScriptedDevice::AddToScript(Reply kind, int count) {
  std::lock_guard<std::mutex> g(lock_);
  script_.insert(script_.end(), count, kind);
}

BOOL ScriptedDevice::Answer(HWND target, WORD command, DWORD* pdwError) {
  if (pdwError) *pdwError = 0;
  if (asyncFailures.load() > 0) {
    --asyncFailures;
    if (pdwError) *pdwError = ERR_FOTAVI_NOOPEN;
    return FALSE;
  }
  std::lock_guard<std::mutex> g(lock_);
  Reply kind = after.load();
  if (!script_.empty()) {
    kind = script_.front();
    script_.pop_front();
  }
  if (kind != Reply::Never) {
    jobs_.push_back({target, command, kind});
    cv_.notify_all();
  }
  return TRUE;
}

void ScriptedDevice::Worker() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> g(lock_);
      cv_.wait(g, [&] { return quit_ || !jobs_.empty(); });
      if (quit_) return;
      job = jobs_.front();
      jobs_.pop_front();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(replyDelayMs.load()));
    auto* r = new DEVICE_RSP{};
    r->wCommand = job.command;
    std::string bytes;
    switch (job.kind) {
      case Reply::Good: r->bResult = TRUE; bytes = frame; break;
      case Reply::Corrupt: r->bResult = TRUE; bytes = std::string(4000, '\x55'); break;
      case Reply::Empty: r->bResult = TRUE; break;
      case Reply::Failed: r->dwError = ERR_FOTAVI_READTIMEOUT; break;
      case Reply::ReadZero: r->dwError = ERR_FOTAVI_READZERO; break;
      case Reply::Never: break;
    }
    if (!bytes.empty()) {
      r->pData = CopyToGlobal(bytes);
      r->dwLength = static_cast<DWORD>(bytes.size());
    }
    {
      std::lock_guard<std::mutex> g(lock_);
      outstanding_.insert(r);
    }
    if (PostMessage(job.target, WM_FOTAVI_REQUEST, dispatcher_->id(), reinterpret_cast<LPARAM>(r))) {
      ++repliesPosted;
    } else {
      // The window is gone: the record stays with the "library".
      std::lock_guard<std::mutex> g(lock_);
      outstanding_.erase(r);
      if (r->pData) GlobalFree(static_cast<HGLOBAL>(r->pData));
      delete r;
    }
  }
}

}  // namespace fotavi::test

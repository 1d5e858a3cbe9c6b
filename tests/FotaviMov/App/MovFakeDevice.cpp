#include "MovFakeDevice.h"

#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstring>

#include "Common/Jpeg.h"
#include "Platform/GlobalMemory.h"

namespace movtest {

std::string MakeJpeg(int width, int height, int seed) {
  QImage image(width, height, QImage::Format_BGR888);
  image.fill(QColor(30 + seed % 200, 90, 150));
  QPainter p(&image);
  p.fillRect((seed * 13) % std::max(1, width - 32), height / 2, 32, 32, Qt::white);
  p.end();
  std::string jpeg;
  CJpeg::EncodeBuiltIn(image, 80, &jpeg);
  return jpeg;
}

MovFakeDevice::MovFakeDevice() : frame_(MakeJpeg(1024, 768)) {
  dispatcher_ = std::make_unique<CPlatformThread>(
      [this] {
        RunMessageLoop([this](const MSG& m) {
          if (m.message != WM_FOTAVI_RELASERSP) return;
          auto* r = reinterpret_cast<DEVICE_RSP*>(m.lParam);
          std::lock_guard<std::mutex> g(lock_);
          if (outstanding_.erase(r)) {
            // The client frees the data block; a block still attached is a leak.
            if (r->pData) {
              GlobalFree(static_cast<HGLOBAL>(r->pData));
              ++returnedWithData;
            }
            delete r;
            ++handedBack;
          }
        });
      },
      false, "FakeDispatcher");
  worker_ = std::thread([this] { Worker(); });
}

MovFakeDevice::~MovFakeDevice() {
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

void MovFakeDevice::Script(std::initializer_list<Reply> replies) {
  std::lock_guard<std::mutex> g(lock_);
  script_.insert(script_.end(), replies.begin(), replies.end());
}

size_t MovFakeDevice::Outstanding() const {
  std::lock_guard<std::mutex> g(lock_);
  return outstanding_.size();
}

BOOL MovFakeDevice::bRequestAsync(HWND hTarget, const DEVICE_CMD* pCommand, WORD* pwSequence, DWORD* pdwError) {
  ++requests;
  if (pdwError) *pdwError = 0;
  if (pwSequence) *pwSequence = static_cast<WORD>(requests.load());
  lastTarget_.store(hTarget);
  if (!pCommand || pCommand->wCommand != FOTAVI_CMD_GET_JPEG) return Unused(pdwError);
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
    jobs_.push_back({hTarget, kind});
    cv_.notify_all();
  }
  return TRUE;
}

void MovFakeDevice::Worker() {
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
    r->wCommand = FOTAVI_CMD_GET_JPEG;
    std::string bytes;
    switch (job.kind) {
      case Reply::Good: r->bResult = TRUE; bytes = frame_; break;
      case Reply::Corrupt: r->bResult = TRUE; bytes = std::string(3000, '\x5a'); break;
      case Reply::Empty: r->bResult = TRUE; break;
      case Reply::Failed: r->dwError = ERR_FOTAVI_READTIMEOUT; break;
      case Reply::ReadZero: r->dwError = ERR_FOTAVI_READZERO; break;
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

}  // namespace movtest

#include "MovLivePicture.h"

#include <QPainter>

#include <algorithm>

#include <new>

#include "Common/TraceLog.h"
#include "MovApp.h"
#include "MovResource.h"

namespace {
// How long the start waits for the live thread's hidden window.
constexpr DWORD kInitWaitMs = 10000;
}  // namespace

bool CMovLivePicture::Start(const std::function<void()>& sizeIt) {
  static const char* const kLog = "CFotaviMovView::StartSemiAnimation";
  if (m_pLive) return true;
  try {
    m_pWaitEvent = std::make_shared<CEvent>(true, false);
  } catch (const std::bad_alloc&) {
    TraceLog(TRC_MOV, kLog, "It failed in CreateEvent. EventName=%s", "SemiAnimationWaitEvent");
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    return false;
  }
  CEvent initEvent(true, false);  // "SemiAnimationInitEvent"
  m_pLive = std::make_unique<CSemiAnimationThread>(m_pApp->GetDevice(), &m_pApp->GetJpeg());
  m_pLive->SetWaitEvent(m_pWaitEvent.get());
  m_pLive->GetMessageWnd().SetOwner(m_pLive.get());
  if (sizeIt) sizeIt();
  ANIMATIONINITPARAM param{m_hViewWnd, &initEvent};
  m_pLive->ResumeThread();
  if (!m_pLive->PostThreadMessage(WM_SEMIANIMATION_INIT, reinterpret_cast<WPARAM>(&param), 0) ||
      initEvent.Wait(kInitWaitMs) != WAIT_OBJECT_0 || !m_pLive->GetMessageHwnd()) {
    TraceLog(TRC_MOV, kLog, "The error occurred with the [WM_SEMIANIMATION_INIT] message.");
    Stop();
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    return false;
  }
  m_pLive->PostThreadMessage(WM_JPEG_READ, 0, 0);
  return true;
}

void CMovLivePicture::Stop() {
  if (!m_pLive) return;
  m_pLive->PostThreadMessage(WM_SEMIANIMATION_END, 0, 0);
  // The thread bounds its own wait for a reply in flight.
  if (!m_pLive->WaitForEnd(LIVE_END_WAIT_MS + 5000))
    TraceLog(TRC_MOV, "CFotaviMovView::StopSemiAnimation", "The live-picture thread did not end in time.");
  m_pLive.reset();
  m_pWaitEvent.reset();
}

void CMovLivePicture::SetSizes(QSize decode, QSize draw) {
  if (!m_pLive) return;
  m_pLive->SetDecodeSize(decode.width(), decode.height());
  m_pLive->SetDrawSize(draw.width(), draw.height());
  m_Draw = draw;
  m_pLive->SetDrawOffset(0, 0);
}

void CMovLivePicture::CentreIn(QSize area) {
  if (!m_pLive) return;
  m_pLive->SetDrawOffset(std::max(0, (area.width() - m_Draw.width()) / 2),
                         std::max(0, (area.height() - m_Draw.height()) / 2));
}

CBitmap24 CMovLivePicture::CopyPicture(LONG width, LONG height) const {
  CSemiAnimationThread* live = m_pLive.get();
  if (!live) return CBitmap24();
  return live->CopyPicture(width, height);
}

QRect CMovLivePicture::Paint(QPainter& painter) const {
  if (!m_pLive) return QRect();
  return m_pLive->Draw(painter);
}

bool CMovLivePicture::TakeDrawNotice() {
  if (!m_pLive) return false;
  m_pLive->ClearDrawPending();
  return true;
}

void CMovLivePicture::StartCounting() {
  if (m_pLive) m_pLive->SetCounting(true);
}

DWORD CMovLivePicture::StopCounting() {
  if (!m_pLive) return 0;
  m_pLive->SetCounting(false);
  return DWORD(m_pLive->GetPictureCount());
}

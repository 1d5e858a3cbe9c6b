#include "MovMeasurement.h"

#include <new>

#include "Common/TraceLog.h"
#include "MovApp.h"
#include "MovLivePicture.h"
#include "MovResource.h"

void CMovMeasurement::SetWindow(HWND window, bool recording) {
  m_hWnd = window;
  if (!window && !recording) m_Files.Remove();
}

void CMovMeasurement::OnReady(CMovLivePicture& live) { live.StartCounting(); }

void CMovMeasurement::End(Outcome outcome, uint64_t framesWritten, CMovLivePicture& live) {
  const DWORD pictures = live.StopCounting();
  const HWND target = m_hWnd;
  m_hWnd = nullptr;
  if (!target || outcome == Outcome::Silent) return;
  if (outcome == Outcome::Failed) {
    PostMessage(target, WM_AUTOFRAMERATE_RESULT, 0, 0);
    return;
  }
  auto* result = new (std::nothrow) MEASUREMENTRESULT{framesWritten, pictures};
  if (!result) {
    TraceLogMemory(TRC_MOV, "CFotaviMovView::StopMakeMovie", "MEASUREMENT");
    MovMessageBox(IDS_MOV_NO_RESOURCES);
    return;
  }
  if (!IsWindow(target) || !PostMessage(target, WM_AUTOFRAMERATE_RESULT, reinterpret_cast<WPARAM>(result), 0))
    delete result;
}

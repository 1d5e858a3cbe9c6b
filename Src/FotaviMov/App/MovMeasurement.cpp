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

CMovMeasurement::Ending CMovMeasurement::TakeEnding(Outcome outcome, CMovLivePicture& live) {
  Ending ending;
  ending.pictures = live.StopCounting();
  ending.target = m_hWnd;
  ending.outcome = outcome;
  m_hWnd = nullptr;
  return ending;
}

void CMovMeasurement::PostEnd(const Ending& ending, uint64_t framesWritten) {
  const HWND target = ending.target;
  const DWORD pictures = ending.pictures;
  if (!target || ending.outcome == Outcome::Silent) return;
  if (ending.outcome == Outcome::Failed) {
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

#include "MovFrameRules.h"

bool MovCommandEnabled(UINT id, const MOVFRAMESTATE& s) {
  switch (id) {
    case ID_MOV_MOVIE_CLOSE:
    case ID_MOV_MOVIE_PLAY:
    case ID_MOV_MOVIE_PAUSE:
      return s.movieOpen;
    case ID_MOV_RECORD:
      return s.live && s.recordAllowed;
    case ID_MOV_MOVIE_STOP:
      return s.movieOpen || s.recording;
    case ID_MOV_SETTING:
      return s.deviceOpen && !s.recording && !s.movieOpen;
    case ID_MOV_LIVE_START:
      return s.deviceOpen && !s.live;
    case ID_MOV_LIVE_STOP:
      return s.deviceOpen && s.live;
    case ID_MOV_REMOTE_CONTROL:
      return s.deviceOpen;
    default:
      return true;
  }
}

int ViewSizePercent(UINT viewSizeId) {
  if (viewSizeId == ID_MOV_VIEW_SIZE_200) return 200;
  if (viewSizeId == ID_MOV_VIEW_SIZE_50) return 50;
  return 100;
}

DWORD MeasuredFrameRate(uint64_t framesWritten, DWORD picturesReceived) {
  const DWORD w = static_cast<DWORD>(framesWritten & 0xFFFFFFFFu) / MEASURE_SECONDS;
  const DWORD p = picturesReceived / MEASURE_SECONDS;
  DWORD fromWriting;
  if (w <= 1) fromWriting = 1;
  else if (w <= 20) fromWriting = w - 1;
  else fromWriting = 19;
  const DWORD fromCamera = p < 1 ? 1 : p;
  return fromWriting < fromCamera ? fromWriting : fromCamera;
}

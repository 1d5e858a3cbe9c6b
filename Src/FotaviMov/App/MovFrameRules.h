// The movie program's rules that need no window: which main-frame commands
// are enabled in a state, and the frame rate a measurement reaches.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Types.h"

// Main-frame commands (menu and tool bar).
constexpr UINT ID_MOV_MOVIE_OPEN = 32771;
constexpr UINT ID_MOV_MOVIE_CLOSE = 32772;
constexpr UINT ID_MOV_RECORD = 32773;
constexpr UINT ID_MOV_MOVIE_PLAY = 32774;
constexpr UINT ID_MOV_MOVIE_PAUSE = 32775;
constexpr UINT ID_MOV_MOVIE_STOP = 32776;
constexpr UINT ID_MOV_SETTING = 32777;
constexpr UINT ID_MOV_LIVE_START = 32778;
constexpr UINT ID_MOV_LIVE_STOP = 32779;
constexpr UINT ID_MOV_VIEW_SIZE_FIT = 32780;
constexpr UINT ID_MOV_VIEW_SIZE_200 = 32781;
constexpr UINT ID_MOV_VIEW_SIZE_100 = 32782;
constexpr UINT ID_MOV_VIEW_SIZE_50 = 32783;
constexpr UINT ID_MOV_REMOTE_CONTROL = 32784;
constexpr UINT ID_MOV_ALWAYS_ON_TOP = 32785;
constexpr UINT ID_MOV_APP_EXIT = 57665;
constexpr UINT ID_MOV_APP_ABOUT = 57664;
constexpr UINT ID_MOV_HELP_FINDER = 57670;

// What the enabling of the commands looks at.
struct MOVFRAMESTATE {
  bool deviceOpen = false;     // the camera is present and opened
  bool live = false;           // the live picture runs
  bool recording = false;      // a recording (or a measurement) runs
  bool movieOpen = false;      // a movie is open for playback
  bool recordAllowed = false;  // the record-allowed flag
};

// Whether command `id` is enabled in `state` (commands outside the frame's
// rules: true).
bool MovCommandEnabled(UINT id, const MOVFRAMESTATE& state);

// The percent of the live picture or movie for a view-size command: 200,
// 50, else 100.
int ViewSizePercent(UINT viewSizeId);

// The frame rate a measurement reached over its ten seconds: the rate of
// the writing (frames written / 10: 1 for 0 or 1, one less for 2 to 20, 19
// above) and that of the camera (pictures / 10, at least 1), whichever is
// smaller. Only the low 32 bits of the frame count are taken.
DWORD MeasuredFrameRate(uint64_t framesWritten, DWORD picturesReceived);

// Seconds and the file of a measurement.
constexpr DWORD MEASURE_SECONDS = 10;
constexpr DWORD MEASURE_FRAME_RATE = 20;
constexpr DWORD MEASURE_SPLIT_SIZE = 0x40000000;
constexpr const char* kMeasurementFileName = "measurement.avi";

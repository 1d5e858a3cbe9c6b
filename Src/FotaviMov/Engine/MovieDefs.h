// Types and message numbers shared by the movie program's engine and its
// windows: the frame record, the messages of the recording thread, the
// player and the slider bar. A frame is the programs' one 24-bit picture
// (CBitmap24, Common/Bitmap.h), from the live picture to the writers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Common/Bitmap.h"
#include "Platform/Types.h"

// Messages of the movie program (absolute numbers).
constexpr UINT WM_JPEG_READ = 0x464;
constexpr UINT WM_SEMIANIMATION_INIT = 0x466;
constexpr UINT WM_SEMIANIMATION_BEGIN = 0x467;
constexpr UINT WM_SEMIANIMATION_END = 0x468;
constexpr UINT WM_SEMIANIMATION_ERROR = 0x469;
constexpr UINT WM_MAKEMOVIE_FRAME = 0x46A;
constexpr UINT WM_MAKEMOVIE_FRAMEDONE = 0x46B;
constexpr UINT WM_MOVIE_REC_END = 0x46C;
constexpr UINT WM_MAKEMOVIE_STOP = 0x46D;
constexpr UINT WM_MAKEMOVIE_ERROR = 0x46E;
constexpr UINT WM_AUTOFRAMERATE_RESULT = 0x46F;
constexpr UINT WM_MAKEMOVIE_WAIT = 0x470;
constexpr UINT WM_MOVIE_REC_READY = 0x471;
constexpr UINT WM_MOVIE_COMPLETE = 0x472;
constexpr UINT WM_SLIDER_SETPOS = 0x474;
constexpr UINT WM_SLIDER_ENABLE = 0x475;
constexpr UINT WM_MOVIE_ABORT = 0x476;
constexpr UINT WM_GRAPHNOTIFY = 0x8001;

// Left-button messages as the slider hands them to a seek.
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_MOUSEMOVE = 0x0200;

// Timer ids on the view: the time limit of a recording and the player's
// position timer.
constexpr UINT IDT_RECLIMIT = 4;
constexpr UINT IDT_MOVIE_POSITION = 1139;
constexpr DWORD MOVIE_POSITION_PERIOD_MS = 100;

// The frame record the view hands to the recording thread. The thread owns
// it from the post on. The picture of a non-empty record is the live
// picture held when the clock ticked: the held picture is replaced whole and
// never changed, so the record shares its rows and nothing is copied.
class IMovieRequestCounter;
struct RECINFO {
  IMovieRequestCounter* pFrameClock = nullptr;  // the frame clock: counts the outstanding requests
  HWND hViewWnd = nullptr;                // where the thread posts its answers
  CBitmap24 hBitmap;  // null for an empty record
  LONG width = 0;
  LONG height = 0;
  BOOL bEmpty = FALSE;
};

// The part of the view the recording thread calls back: one unit of the
// outstanding-request counter per real frame taken. Implementations change
// the counter with atomic operations only.
class IMovieRequestCounter {
 public:
  virtual ~IMovieRequestCounter() = default;
  virtual void DecrementRequests() = 0;
  // The recording thread has taken a record (real or empty) off its queue,
  // to write it or to drop it.
  virtual void RecordTaken() {}
};

// Writer kinds and limit modes of the recording settings.
constexpr int MOVIE_FILETYPE_AVI = 0;
constexpr int MOVIE_FILETYPE_WMV = 1;
constexpr int RECCOND_NONE = 0;
constexpr int RECCOND_TIME = 1;
constexpr int RECCOND_CAPACITY = 2;

// Default split size of AVI recordings (1 GiB: the avi muxer stays with a
// plain AVI index below it).
constexpr uint64_t AVI_DEFAULT_SPLIT_SIZE = 0x40000000ull;

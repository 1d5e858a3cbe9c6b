// Where the player takes its pictures from: a movie file opened with
// libavformat and decoded with libavcodec into 24-bit pictures. Tests give
// the player sources of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Types.h"

// Times are in 100-ns units, as the player reports them.
constexpr int64_t MOVIE_UNITS_PER_SECOND = 10000000;

struct CMovieInfo {
  bool hasVideo = false;  // a video stream that can be decoded
  int width = 0;
  int height = 0;
  int64_t duration = 0;
};

// One decoded picture: top-down rows of blue-green-red bytes, each row
// padded to 4 bytes.
struct CVideoFrame {
  int64_t pts = 0;
  int64_t duration = 0;  // until the next picture, when known
  int width = 0;
  int height = 0;
  int stride = 0;
  std::vector<BYTE> bgr;
};

// ReadFrame results.
constexpr int SOURCE_FRAME = 1;
constexpr int SOURCE_END = 0;
constexpr int SOURCE_ERROR = -1;

// Results of the player (32-bit HRESULT values, as the view maps them).
using MOVIERESULT = LONG;
constexpr MOVIERESULT MOVIE_S_OK = 0;
constexpr MOVIERESULT MOVIE_E_FAIL = static_cast<MOVIERESULT>(0x80004005u);
constexpr MOVIERESULT MOVIE_E_OUTOFMEMORY = static_cast<MOVIERESULT>(0x8007000Eu);
constexpr MOVIERESULT MOVIE_E_INVALIDFILE = static_cast<MOVIERESULT>(0x80040265u);  // not a movie it can render
constexpr MOVIERESULT MOVIE_STOPPED_ALREADY = 1000;

class IMovieSource {
 public:
  virtual ~IMovieSource() = default;
  virtual MOVIERESULT Open(const std::string& path, CMovieInfo* info) = 0;
  // The next picture in presentation order.
  virtual int ReadFrame(CVideoFrame* frame) = 0;
  // Goes to a point at or before `position`; the player decodes forward
  // from there to the time it wants.
  virtual bool Seek(int64_t position) = 0;
};

std::unique_ptr<IMovieSource> CreateFileMovieSource();

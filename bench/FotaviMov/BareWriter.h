// The reference cost of writing a movie: the same frames through FFmpeg
// without the program around them (raw packets into the avi muxer, or
// swscale + wmv2 + asf at the writer's quantiser), on the calling thread.
#pragma once

#include <string>
#include <vector>

#include "Common/Bitmap.h"
#include "Platform/Types.h"

// Writes `frames` frames, taken in turn from `ring` (24-bit pictures of one
// size), into `path` at `rate` frames a second (`quality` 1 to 100 for WMV).
// Returns the CPU seconds of the calling thread.
double BareWriterSeconds(bool wmv, const std::vector<CBitmap24>& ring, DWORD rate, DWORD quality, int frames,
                         const std::string& path);

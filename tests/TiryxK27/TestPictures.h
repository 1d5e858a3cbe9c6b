// Synthetic camera pictures for the data source's tests, and an independent
// decode of them by djpeg (libjpeg's own program) as the oracle.
#pragma once

#include <string>
#include <vector>

#include "Platform/Types.h"

namespace twain_test {

// A JPEG of width x height whose red rises to the right, green downwards
// and blue in bands, so a swapped channel or a flipped row shows.
std::string MakePictureJpeg(int width, int height, int quality = 95);

// The picture as djpeg decodes it (fast integer transform, no fancy
// upsampling, as the source decodes): rows top first, red-green-blue.
struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<BYTE> rgb;  // width * 3 per row, no padding
  const BYTE* Row(int y) const { return rgb.data() + static_cast<size_t>(y) * width * 3; }
};
bool DecodeWithDjpeg(const std::string& jpeg, RgbPicture* out);

// Largest difference of one channel between `row` (blue-green-red when
// `bgr`, else red-green-blue) and the oracle's row y.
int RowDifference(const RgbPicture& oracle, int y, const BYTE* row, bool bgr);

std::string TempFolder(const char* tag);

}  // namespace twain_test

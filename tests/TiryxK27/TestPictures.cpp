#include "TestPictures.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Bitmap.h"
#include "Jpeg.h"

namespace twain_test {

std::string MakePictureJpeg(int width, int height, int quality) {
  CBitmap24 image = CreateBitmap24(width, height);
  for (int y = 0; y < height; ++y) {
    BYTE* row = image.scanLine(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x + 2] = static_cast<BYTE>(x * 255 / (width > 1 ? width - 1 : 1));   // red
      row[3 * x + 1] = static_cast<BYTE>(y * 255 / (height > 1 ? height - 1 : 1)); // green
      row[3 * x + 0] = static_cast<BYTE>(((x / 64) % 2) ? 220 : 40);               // blue
    }
  }
  std::string jpeg;
  if (!CJpeg::EncodeBuiltIn(image, quality, &jpeg)) return {};
  return jpeg;
}

std::string TempFolder(const char* tag) {
  std::string pattern = (std::filesystem::temp_directory_path() / (std::string("twain-") + tag + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) std::abort();
  return pattern;
}

bool DecodeWithDjpeg(const std::string& jpeg, RgbPicture* out) {
  const std::string dir = TempFolder("djpeg");
  const std::string in = dir + "/in.jpg";
  const std::string ppm = dir + "/out.ppm";
  {
    std::ofstream f(in, std::ios::binary);
    f.write(jpeg.data(), static_cast<std::streamsize>(jpeg.size()));
  }
  const std::string cmd = "djpeg -dct fast -nosmooth -pnm -outfile '" + ppm + "' '" + in + "'";
  const bool ran = std::system(cmd.c_str()) == 0;
  std::ifstream f(ppm, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::filesystem::remove_all(dir);
  if (!ran) return false;
  int w = 0, h = 0, maxv = 0, consumed = 0;
  if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &w, &h, &maxv, &consumed) != 3 || maxv != 255) return false;
  const size_t start = static_cast<size_t>(consumed) + 1;
  if (data.size() < start + static_cast<size_t>(w) * h * 3) return false;
  out->width = w;
  out->height = h;
  out->rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(start),
                  data.begin() + static_cast<std::ptrdiff_t>(start + static_cast<size_t>(w) * h * 3));
  return true;
}

int RowDifference(const RgbPicture& oracle, int y, const BYTE* row, bool bgr) {
  const BYTE* ref = oracle.Row(y);
  int worst = 0;
  for (int x = 0; x < oracle.width; ++x) {
    for (int c = 0; c < 3; ++c) {
      const int mine = row[3 * x + (bgr ? 2 - c : c)];
      const int d = std::abs(mine - ref[3 * x + c]);
      if (d > worst) worst = d;
    }
  }
  return worst;
}

}  // namespace twain_test

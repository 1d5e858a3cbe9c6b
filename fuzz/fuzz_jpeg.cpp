// JPEG load: the bytes of a file a user picks, decoded from memory and from
// the file by name, at the reductions the program asks for.
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "Common/Jpeg.h"
#include "FuzzFile.h"
#include <QImage>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int scale = (data[0] & 3) == 0 ? 0 : 1 << ((data[0] & 3) - 1);  // 0, 1, 2, 4
  const int width = (data[0] & 4) ? 256 : 0;
  const BYTE* bytes = data + 1;
  const DWORD length = static_cast<DWORD>(size - 1);
  CBitmap24 picture;
  CJpeg::DecodeBuiltIn(nullptr, bytes, length, &picture, width, scale);
  CJpeg::HeaderWithinLimit(nullptr, bytes, length, width, scale);
  fotavi::fuzz::InputFile file(bytes, length);
  CJpeg jpeg;
  CBitmap24 fitted;
  jpeg.Load(&fitted, file.Path(), (data[0] & 8) != 0, 320, 240);
  return 0;
}

fotavi::fuzz::Seeds fotavi::fuzz::MakeSeeds() {
  auto picture = [](int w, int h) {
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x * 7, y * 5, (x ^ y) * 3));
    return image;
  };
  Seeds seeds;
  for (const auto& [w, h, flags] : {std::tuple{32, 24, 0}, std::tuple{17, 9, 5}, std::tuple{640, 8, 14}}) {
    std::string jpeg;
    if (!CJpeg::EncodeBuiltIn(picture(w, h), 75, &jpeg)) std::exit(1);
    seeds.push_back(std::string(1, static_cast<char>(flags)) + jpeg);
  }
  return seeds;
}

// A camera frame: the device library's 575-byte JPEG header followed by the
// frame bytes the camera sent, decoded as the live view decodes it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Common/Jpeg.h"
#include "JpegHeaderResource.h"
#include "FuzzFile.h"
#include <string>
#include <QImage>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<BYTE> frame(g_JpegHead1024, g_JpegHead1024 + g_JpegHead1024Size);
  frame.insert(frame.end(), data, data + size);
  CJpeg jpeg;
  CBitmap24 picture;
  jpeg.Load(&picture, frame.data(), static_cast<DWORD>(frame.size()), false, 0, 0, 0);
  CBitmap24 reduced;
  jpeg.Load(&reduced, frame.data(), static_cast<DWORD>(frame.size()), true, 512, 384, 2);
  return 0;
}

fotavi::fuzz::Seeds fotavi::fuzz::MakeSeeds() {
  // A frame of the camera's layout: 1024 x 768, 4:2:2, from its SOS marker on.
  QImage image(1024, 768, QImage::Format_RGB888);
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x) image.setPixel(x, y, qRgb(x / 4, y / 3, (x + y) / 8));
  std::string jpeg;
  if (!CJpeg::EncodeBuiltIn(image, 75, &jpeg)) std::exit(1);
  const size_t sos = jpeg.find("\xFF\xDA");
  if (sos == std::string::npos) std::exit(1);
  return {jpeg.substr(sos), jpeg.substr(sos, 600)};
}

// BMP load: the bytes of a file a user picks, opened by name, then turned
// into the 24-bit picture the conversion and the card transfer use.
#include <cstddef>
#include <cstdint>

#include "Common/Bmp.h"
#include "FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fotavi::fuzz::InputFile file(data, size);
  CBmp bmp;
  QImage image;
  if (bmp.Load(&image, file.Path())) {
    CBitmap24 picture;
    CBmp::Convert24Bmp(image, &picture);
  }
  return 0;
}

fotavi::fuzz::Seeds fotavi::fuzz::MakeSeeds() {
  Seeds seeds;
  for (const auto& size : {QSize(7, 5), QSize(1, 1), QSize(64, 3)}) {
    QImage image(size, QImage::Format_RGB888);
    image.fill(qRgb(200, 100, 50));
    seeds.push_back(CBmp::EncodeBmp(image));
  }
  QImage indexed(5, 4, QImage::Format_Indexed8);
  indexed.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  indexed.fill(1);
  seeds.push_back(CBmp::EncodeBmp(indexed));
  return seeds;
}

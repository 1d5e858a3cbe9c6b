// The EXIF writer's read of its source file: measure, thumbnail, then the
// whole Exif file built from what was gathered.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Fotavi/Convert/ExifHdrAdd.h"
#include "FuzzFile.h"
#include <QImage>
#include "Common/Jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fotavi::fuzz::InputFile file(data, size);
  CExifHdrAdd exif(fotavi::fuzz::RunFolder() + "/work");
  if (exif.ReadJpegData(file.Path())) {
    std::string out;
    exif.BuildExifFile(&out);
  }
  return 0;
}

fotavi::fuzz::Seeds fotavi::fuzz::MakeSeeds() {
  Seeds seeds;
  for (const auto& size : {QSize(320, 240), QSize(16, 1200), QSize(8, 8)}) {
    QImage image(size, QImage::Format_RGB888);
    image.fill(qRgb(20, 140, 220));
    std::string jpeg;
    if (!CJpeg::EncodeBuiltIn(image, 75, &jpeg)) std::exit(1);
    seeds.push_back(jpeg);
  }
  return seeds;
}

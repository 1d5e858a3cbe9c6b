#include "Bmp.h"

#include <unistd.h>

#include <QFile>
#include <QImageReader>

#include <cstring>
#include <limits>

#include "Jpeg.h"
#include "RegularFile.h"

BOOL CBmp::Load(QImage* out, const std::string& path) {
  if (!out || path.empty()) return FALSE;
  const int fd = OpenRegularFile(path);
  if (fd < 0) return FALSE;
  QFile file;
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return FALSE;
  }
  QImageReader reader(&file, "bmp");
  QImage image = reader.read();
  if (image.isNull()) return FALSE;
  m_nWidth = image.width();
  m_nHeight = image.height();
  *out = std::move(image);
  return TRUE;
}

std::string CBmp::EncodeBmp(const QImage& source) {
  const CBitmap24 image = ToBitmap24(source);
  if (image.isNull()) return {};
  const DWORD stride = DibStride24(image.width());
  const uint64_t imageSize = static_cast<uint64_t>(stride) * static_cast<uint64_t>(image.height());
  const uint64_t fileSize = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + imageSize;
  if (fileSize > std::numeric_limits<DWORD>::max()) return {};

  BITMAPFILEHEADER file{};
  file.bfType = DIB_FILE_TYPE;
  file.bfSize = static_cast<DWORD>(fileSize);
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  const BITMAPINFOHEADER info = MakeInfoHeader24(image.width(), image.height());

  std::string data(static_cast<size_t>(fileSize), '\0');
  std::memcpy(data.data(), &file, sizeof file);
  std::memcpy(data.data() + sizeof file, &info, sizeof info);
  char* bits = data.data() + file.bfOffBits;
  const size_t rowBytes = static_cast<size_t>(image.width()) * 3;
  for (int y = 0; y < image.height(); ++y) {
    std::memcpy(bits + static_cast<size_t>(image.height() - 1 - y) * stride, image.constScanLine(y), rowBytes);
  }
  return data;
}

BOOL CBmp::Save(const std::string& path, const QImage& bitmap) const {
  if (path.empty() || bitmap.isNull()) return FALSE;
  const std::string data = EncodeBmp(bitmap);
  if (data.empty()) return FALSE;
  return WriteFileReplacing(path, data.data(), data.size()) ? TRUE : FALSE;
}

CBitmap24 CBmp::CreateDIB24(int width, int height) { return CreateBitmap24(width, height); }

BOOL CBmp::Convert24Bmp(const QImage& source, CBitmap24* out) {
  if (!out) return FALSE;
  *out = CBitmap24();
  if (source.isNull()) return FALSE;
  CBitmap24 converted = source.convertToFormat(BITMAP24_FORMAT);
  if (converted.isNull()) return FALSE;
  *out = std::move(converted);
  return TRUE;
}

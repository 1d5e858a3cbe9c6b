#include "Bitmap.h"

#include <cstring>
#include <limits>

#include "Platform/GlobalMemory.h"

CBitmap24 CreateBitmap24(int width, int height) {
  if (width <= 0 || height <= 0) return {};
  CBitmap24 image(width, height, BITMAP24_FORMAT);
  if (image.isNull()) return {};
  image.fill(0);
  return image;
}

bool IsBitmap24(const QImage& image) { return !image.isNull() && image.format() == BITMAP24_FORMAT; }

CBitmap24 ToBitmap24(const QImage& image) {
  if (image.isNull()) return {};
  if (image.format() == BITMAP24_FORMAT) return image;
  return image.convertToFormat(BITMAP24_FORMAT);
}

HGLOBAL BitmapToPackedDib(const QImage& source) {
  const CBitmap24 image = ToBitmap24(source);
  if (image.isNull()) return nullptr;
  const DWORD stride = DibStride24(image.width());
  const size_t imageSize = static_cast<size_t>(stride) * static_cast<size_t>(image.height());
  HGLOBAL mem = GlobalAlloc(GMEM_FIXED, sizeof(BITMAPINFOHEADER) + imageSize);
  if (!mem) return nullptr;
  auto* base = static_cast<BYTE*>(GlobalLock(mem));
  if (!base) {
    GlobalFree(mem);
    return nullptr;
  }
  const BITMAPINFOHEADER header = MakeInfoHeader24(image.width(), image.height());
  std::memcpy(base, &header, sizeof header);
  BYTE* bits = base + sizeof header;
  const size_t rowBytes = static_cast<size_t>(image.width()) * 3;
  for (int y = 0; y < image.height(); ++y) {
    BYTE* row = bits + static_cast<size_t>(image.height() - 1 - y) * stride;
    std::memcpy(row, image.constScanLine(y), rowBytes);
    std::memset(row + rowBytes, 0, stride - rowBytes);  // row padding
  }
  GlobalUnlock(mem);
  return mem;
}

CBitmap24 PackedDibToBitmap(HGLOBAL dib, CBitmap24* reuse) {
  if (!dib) return {};
  const size_t blockSize = GlobalSize(dib);
  if (blockSize < sizeof(BITMAPINFOHEADER)) return {};
  const auto* base = static_cast<const BYTE*>(GlobalLock(dib));
  if (!base) return {};
  BITMAPINFOHEADER header;
  std::memcpy(&header, base, sizeof header);
  CBitmap24 image;
  const bool bottomUp = header.biHeight > 0;
  const int64_t height = bottomUp ? header.biHeight : -static_cast<int64_t>(header.biHeight);
  const bool wellFormed = header.biSize >= sizeof(BITMAPINFOHEADER) && header.biBitCount == 24 &&
                          header.biCompression == BI_RGB && header.biWidth > 0 && height > 0 &&
                          header.biWidth <= std::numeric_limits<int>::max() / 4 &&
                          height <= std::numeric_limits<int>::max();
  if (wellFormed) {
    const size_t stride = DibStride24(header.biWidth);
    const size_t needed = header.biSize + stride * static_cast<size_t>(height);
    if (needed <= blockSize) {
      if (reuse && reuse->width() == header.biWidth && reuse->height() == height &&
          reuse->format() == BITMAP24_FORMAT && reuse->isDetached()) {
        image.swap(*reuse);
      } else {
        image = CBitmap24(header.biWidth, static_cast<int>(height), BITMAP24_FORMAT);  // every row is copied below
      }
      const BYTE* bits = base + header.biSize;
      const size_t rowBytes = static_cast<size_t>(header.biWidth) * 3;
      for (int y = 0; !image.isNull() && y < image.height(); ++y) {
        const size_t srcRow = bottomUp ? static_cast<size_t>(image.height() - 1 - y) : static_cast<size_t>(y);
        std::memcpy(image.scanLine(y), bits + srcRow * stride, rowBytes);
      }
    }
  }
  GlobalUnlock(dib);
  return image;
}

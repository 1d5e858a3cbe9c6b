#include "MovieDefs.h"

#include <new>

HDIBSECTION CreateDibSection24(LONG width, LONG height) {
  if (width <= 0 || height <= 0) return nullptr;
  try {
    auto dib = std::make_unique<CDibSection>();
    dib->header = MakeInfoHeader24(width, height);
    dib->bits.assign(dib->header.biSizeImage, 0);
    return dib;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool IsValidDib24(const CDibSection* bitmap) {
  if (!bitmap) return false;
  const BITMAPINFOHEADER& h = bitmap->header;
  return h.biWidth > 0 && h.biHeight > 0 && h.biBitCount == 24 && h.biCompression == BI_RGB &&
         h.biSizeImage == DibStride24(h.biWidth) * static_cast<DWORD>(h.biHeight) &&
         bitmap->bits.size() >= h.biSizeImage;
}

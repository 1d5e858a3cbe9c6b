// Device-independent bitmap layout: the header records of BMP files and of
// the packed bitmaps that cross the outside codec interface. Little-endian,
// packed, as stored in files.
#pragma once

#include "Platform/Types.h"

#pragma pack(push, 1)
struct BITMAPFILEHEADER {
  WORD bfType;        // "BM"
  DWORD bfSize;       // whole file
  WORD bfReserved1;
  WORD bfReserved2;
  DWORD bfOffBits;    // offset of the pixels
};

struct BITMAPINFOHEADER {
  DWORD biSize;       // 40
  LONG biWidth;
  LONG biHeight;      // positive: rows bottom-up
  WORD biPlanes;      // 1
  WORD biBitCount;    // 24 for every bitmap this system makes
  DWORD biCompression;
  DWORD biSizeImage;  // height x stride
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(BITMAPINFOHEADER) == 40);

constexpr WORD DIB_FILE_TYPE = 0x4D42;  // "BM"
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

// Bytes per row of a 24-bit bitmap: width x 3 rounded up to a multiple of 4.
constexpr DWORD DibStride24(LONG width) { return (static_cast<DWORD>(width) * 3u + 3u) & ~3u; }

// The info header of a 24-bit bottom-up bitmap of width x height.
inline BITMAPINFOHEADER MakeInfoHeader24(LONG width, LONG height) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = DibStride24(width) * static_cast<DWORD>(height);
  return header;
}

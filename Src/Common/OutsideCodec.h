// The interface of the outside JPEG codec libraries ("FotaviSIMD_Z5.dll",
// "FotaviIJG_Z5.dll"), bound by name at run time.
//
// Bitmap handle: an HGLOBAL (platform global memory, shared by every module)
// holding a packed 24-bit bitmap: a BITMAPINFOHEADER of 40 bytes (positive
// height, 1 plane, 24 bits, BI_RGB) followed at once by the pixel rows,
// bottom-up, blue-green-red, each row padded to a multiple of 4 bytes. A
// handle returned by a load function belongs to the caller, who frees it
// with GlobalFree. Paths are UTF-8.
//
// Results: non-zero on success.
#pragma once

#include "Platform/Types.h"

extern "C" {
// (path or NULL, buffer, size, bitmap out, width, scale, reserved 0): decode
// the file, or the buffer when the path is NULL, reduced at decode time as
// CJpeg::Decode does.
typedef BOOL (*PFN_FNCLOADJPEGW)(const char* path, const BYTE* buffer, DWORD size, HGLOBAL* bitmap, int width,
                                 int scale, int reserved);
// (path, bitmap, quality): write the bitmap as a baseline JPEG file.
typedef BOOL (*PFN_FNCSAVEJPEGW)(const char* path, HGLOBAL bitmap, int quality);
// (path or NULL, buffer, size, info out: width, height, bytes per pixel).
typedef BOOL (*PFN_FNCGETJPEGINFOW)(const char* path, const BYTE* buffer, DWORD size, DWORD* info);
// (path or NULL, buffer, size, bitmap out, width, reserved 0, info out: width,
// height and bytes per pixel of the decoded bitmap).
typedef BOOL (*PFN_FNCLOADJPEGA)(const char* path, const BYTE* buffer, DWORD size, HGLOBAL* bitmap, int width,
                                 int reserved, DWORD* info);
}

// The reduction rule of every decoder of the system: 1/scale when `scale` is
// non-zero, else 1/(picture width / width) when `width` is non-zero, else
// none, taken as the nearest of 1/8, 1/4, 1/2 or 1 not above it.
inline int JpegReductionFor(int imageWidth, int width, int scale) {
  int denom = 1;
  if (scale != 0) {
    denom = scale;
  } else if (width > 0) {
    denom = imageWidth / width;
  }
  if (denom >= 8) return 8;
  if (denom >= 4) return 4;
  if (denom >= 2) return 2;
  return 1;
}

constexpr const char* FNC_LOADJPEGW = "FncLoadJpegW";
constexpr const char* FNC_SAVEJPEGW = "FncSaveJpegW";
constexpr const char* FNC_GETJPEGINFOW = "FncGetJpegInfoW";
constexpr const char* FNC_LOADJPEGA = "FncLoadJpegA";

constexpr DWORD JPEGLIB_SIMD = 1;
constexpr DWORD JPEGLIB_IJG = 2;

// The library that a `JpegLib` value names, NULL for any other value.
inline const char* JpegCodecLibraryName(DWORD jpegLib) {
  if (jpegLib == JPEGLIB_SIMD) return "FotaviSIMD_Z5.dll";
  if (jpegLib == JPEGLIB_IJG) return "FotaviIJG_Z5.dll";
  return nullptr;
}

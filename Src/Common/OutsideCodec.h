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

#include <cstdint>

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

// The largest picture a JPEG decoder of the system makes: the bytes of the
// decoded 24-bit picture (rows padded to 4 bytes, after the decode-time
// reduction) may not pass the bound that Qt's image reader puts on any
// picture it reads (256 MiB unless the program changes it). A header is
// checked against it before anything is allocated: a file of a few hundred
// bytes can claim 65500 x 65500 pixels, 12 GB once decoded.
constexpr uint64_t JPEG_MAX_DECODED_BYTES = 256ull * 1024 * 1024;

inline bool JpegDecodedSizeAllowed(uint64_t width, uint64_t height, uint64_t limitBytes = JPEG_MAX_DECODED_BYTES) {
  const uint64_t stride = (width * 3 + 3) & ~static_cast<uint64_t>(3);
  return width > 0 && height > 0 && stride * height <= limitBytes;
}

// The size libjpeg (and TurboJPEG) decode a side of `size` pixels to at a
// reduction of 1/denom: rounded up.
inline uint64_t JpegReducedSide(uint64_t size, int denom) {
  return (size + static_cast<uint64_t>(denom) - 1) / static_cast<uint64_t>(denom);
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

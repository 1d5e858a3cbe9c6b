// Stand-in outside JPEG codec over TurboJPEG. It exports the four functions
// of the outside codec interface (OutsideCodec.h) and behaves like the
// built-in path of CJpeg: reduction to 1/1, 1/2, 1/4 or 1/8 chosen the same
// way, 24-bit bottom-up packed bitmaps, baseline 4:2:2 files. Any warning
// (data that ends early, corrupt data) makes a decode fail.
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Dib.h"
#include "JpegFile.h"
#include "OutsideCodec.h"
#include "Platform/GlobalMemory.h"

#define FOTAVI_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct TjHandle {
  explicit TjHandle(tjhandle h) : h(h) {}
  ~TjHandle() {
    if (h) tjDestroy(h);
  }
  tjhandle h;
};

// A file is read as every JPEG file the user names is read (JpegFile.h):
// a regular file only, opened without blocking, piece by piece up to the end
// of its picture and never past the decoded-size bound; the rest of the file
// is never touched.
bool ReadInput(const char* path, const BYTE* buffer, DWORD size, std::vector<BYTE>* file, const BYTE** data,
               size_t* dataSize) {
  if (path) {
    if (!*path) return false;
    if (ReadJpegFile(path, JPEG_MAX_DECODED_BYTES, {}, file) != JpegFileRead::Ok) return false;
    *data = file->data();
    *dataSize = file->size();
  } else {
    *data = buffer;
    *dataSize = size;
  }
  return *data && *dataSize > 0;
}

// Reads the picture's size and colour space; false when the data is not a JPEG.
struct JpegInput {
  std::vector<BYTE> file;
  const BYTE* data = nullptr;
  size_t size = 0;
  int width = 0, height = 0, colorspace = 0;
};

bool OpenInput(tjhandle tj, const char* path, const BYTE* buffer, DWORD size, JpegInput* in) {
  if (!tj || !ReadInput(path, buffer, size, &in->file, &in->data, &in->size)) return false;
  int subsamp = 0;
  return tjDecompressHeader3(tj, in->data, static_cast<unsigned long>(in->size), &in->width, &in->height, &subsamp,
                             &in->colorspace) == 0;
}

// Decodes into a new packed bitmap; fills `info` (width, height, 3) when given.
BOOL LoadJpeg(const char* path, const BYTE* buffer, DWORD size, HGLOBAL* bitmap, int width, int scale, DWORD* info) {
  if (!bitmap) return FALSE;
  *bitmap = nullptr;
  TjHandle tj(tjInitDecompress());
  JpegInput in;
  if (!OpenInput(tj.h, path, buffer, size, &in)) return FALSE;
  if (in.colorspace == TJCS_CMYK || in.colorspace == TJCS_YCCK) return FALSE;
  const int w = in.width, h = in.height;
  const int denom = JpegReductionFor(w, width, scale);
  const tjscalingfactor factor{1, denom};
  const int outW = TJSCALED(w, factor);
  const int outH = TJSCALED(h, factor);
  // A header that claims a picture beyond the bound is refused before the
  // bitmap is allocated.
  if (!JpegDecodedSizeAllowed(static_cast<uint64_t>(outW), static_cast<uint64_t>(outH))) return FALSE;
  const DWORD stride = DibStride24(outW);
  const size_t imageSize = static_cast<size_t>(stride) * static_cast<size_t>(outH);
  // Every row is written by the decoder; only the padding at the row ends
  // is cleared.
  HGLOBAL mem = GlobalAlloc(GMEM_FIXED, sizeof(BITMAPINFOHEADER) + imageSize);
  if (!mem) return FALSE;
  auto* base = static_cast<BYTE*>(GlobalLock(mem));
  const size_t rowBytes = static_cast<size_t>(outW) * 3;
  if (rowBytes < stride) {
    for (int y = 0; y < outH; ++y) std::memset(base + sizeof(BITMAPINFOHEADER) + y * stride + rowBytes, 0, stride - rowBytes);
  }
  const BITMAPINFOHEADER header = MakeInfoHeader24(outW, outH);
  std::memcpy(base, &header, sizeof header);
  const int rc = tjDecompress2(tj.h, in.data, static_cast<unsigned long>(in.size), base + sizeof header, outW,
                               static_cast<int>(stride), outH, TJPF_BGR,
                               TJFLAG_BOTTOMUP | TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE | TJFLAG_STOPONWARNING);
  GlobalUnlock(mem);
  if (rc != 0) {
    GlobalFree(mem);
    return FALSE;
  }
  *bitmap = mem;
  if (info) {
    info[0] = static_cast<DWORD>(outW);
    info[1] = static_cast<DWORD>(outH);
    info[2] = 3;
  }
  return TRUE;
}

// Writes through a temporary file of a fresh, unique name in the target's
// folder and a rename: an existing file is replaced whole or not at all, no
// other file is touched, and saves running at once never share a file.
bool WriteFileReplacing(const char* path, const unsigned char* data, unsigned long size) {
  std::string tmp = std::string(path) + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = true;
  unsigned long done = 0;
  while (ok && done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
    } else {
      done += static_cast<unsigned long>(n);
    }
  }
  if (ok) ok = ::fchmod(fd, 0644) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = std::rename(tmp.c_str(), path) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

}  // namespace

FOTAVI_EXPORT BOOL FncLoadJpegW(const char* path, const BYTE* buffer, DWORD size, HGLOBAL* bitmap, int width,
                                int scale, int) {
  return LoadJpeg(path, buffer, size, bitmap, width, scale, nullptr);
}

FOTAVI_EXPORT BOOL FncLoadJpegA(const char* path, const BYTE* buffer, DWORD size, HGLOBAL* bitmap, int width, int,
                                DWORD* info) {
  return LoadJpeg(path, buffer, size, bitmap, width, 0, info);
}

FOTAVI_EXPORT BOOL FncGetJpegInfoW(const char* path, const BYTE* buffer, DWORD size, DWORD* info) {
  if (!info) return FALSE;
  TjHandle tj(tjInitDecompress());
  JpegInput in;
  if (!OpenInput(tj.h, path, buffer, size, &in)) return FALSE;
  info[0] = static_cast<DWORD>(in.width);
  info[1] = static_cast<DWORD>(in.height);
  info[2] = in.colorspace == TJCS_GRAY ? 1 : 3;
  return TRUE;
}

FOTAVI_EXPORT BOOL FncSaveJpegW(const char* path, HGLOBAL bitmap, int quality) {
  if (!path || !*path || !bitmap) return FALSE;
  const size_t blockSize = GlobalSize(bitmap);
  if (blockSize < sizeof(BITMAPINFOHEADER)) return FALSE;
  const auto* base = static_cast<const BYTE*>(GlobalLock(bitmap));
  if (!base) return FALSE;
  BITMAPINFOHEADER header;
  std::memcpy(&header, base, sizeof header);
  BOOL result = FALSE;
  const bool bottomUp = header.biHeight > 0;
  const long long height = bottomUp ? header.biHeight : -static_cast<long long>(header.biHeight);
  if (header.biSize >= sizeof header && header.biBitCount == 24 && header.biCompression == BI_RGB &&
      header.biWidth > 0 && height > 0 &&
      header.biSize + static_cast<size_t>(DibStride24(header.biWidth)) * static_cast<size_t>(height) <= blockSize) {
    TjHandle tj(tjInitCompress());
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    if (tj.h && tjCompress2(tj.h, base + header.biSize, header.biWidth, static_cast<int>(DibStride24(header.biWidth)),
                            static_cast<int>(height), TJPF_BGR, &jpeg, &jpegSize, TJSAMP_422,
                            quality < 1 ? 1 : (quality > 100 ? 100 : quality),
                            bottomUp ? TJFLAG_BOTTOMUP : 0) == 0) {
      result = WriteFileReplacing(path, jpeg, jpegSize) ? TRUE : FALSE;
    }
    tjFree(jpeg);
  }
  GlobalUnlock(bitmap);
  return result;
}

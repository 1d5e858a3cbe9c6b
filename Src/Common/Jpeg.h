// JPEG load and save into the shared 24-bit picture type, through an outside
// codec library when the program has bound one, through libjpeg otherwise.
#pragma once

#include <atomic>
#include <string>

#include "Bitmap.h"
#include "OutsideCodec.h"
#include "Platform/Types.h"

class CJpeg {
 public:
  // The outside library's functions, each NULL when none is in use. The
  // information function is kept but never called.
  CJpeg(PFN_FNCLOADJPEGW load = nullptr, PFN_FNCSAVEJPEGW save = nullptr, PFN_FNCGETJPEGINFOW info = nullptr);

  // Decodes the file at `path`, or `size` bytes at `buffer` when `path` is
  // NULL. A file is read once, by the one rule for JPEG files (JpegFile.h: a
  // regular file only, opened without blocking, read piece by piece up to
  // the picture's end and never past the decoded-size bound), and those
  // bytes go to either decoder. Memory that runs out makes it fail.
  // Reduction at decode time: 1/scale when `scale` is non-zero, else
  // 1/(picture width / width) when `width` is non-zero, else none, taken as
  // the nearest of 1/8, 1/4, 1/2 or 1 not above it. Data that ends early or
  // is not a JPEG fails. So does a picture whose decoded 24-bit size would
  // pass Qt's image allocation limit (JPEG_MAX_DECODED_BYTES by default):
  // it is refused from its header, before anything is allocated, on both
  // paths; so is a picture of several scans (progressive) whose whole-picture
  // coefficients, which the decoder keeps at any reduction, pass it. *out
  // changes only on success.
  BOOL Decode(const char* path, const BYTE* buffer, DWORD size, CBitmap24* out, int width, int scale) const;

  // The caller's running flag (not owned; NULL for none): once it is 0, a
  // decode in progress stops and fails, between the pieces of its file and
  // between the rows of the built-in decoder; the outside codec is not
  // called any more.
  void SetRunningFlag(const std::atomic<LONG>* running) { m_pRunning = running; }

  // A new picture of exactly width x height with `source` fitted in, aspect
  // kept, centred, black bands on the rest. FALSE for a zero size.
  static BOOL StretchBitmap(const QImage& source, CBitmap24* out, int width, int height);

  // Decodes, then fits the picture into width x height when `fit` is set,
  // both sizes are non-zero and the decoded size differs.
  BOOL Load(CBitmap24* out, const std::string& path, bool fit, int width, int height) const;
  BOOL Load(CBitmap24* out, const BYTE* buffer, DWORD size, bool fit, int width, int height, int scale) const;

  // Writes the picture as a baseline JPEG (4:2:2) of the given quality. An
  // existing file at `path` is replaced only when the whole new file has been
  // written; a failed save leaves no new file behind.
  BOOL Save(const std::string& path, const QImage& bitmap, int quality) const;
  // The same, handing back the bytes of the file written (*written), so a
  // caller that shows what it saved need not read the file again. With an
  // outside codec the file is read back once, by the JPEG file rule.
  BOOL Save(const std::string& path, const QImage& bitmap, int quality, std::string* written) const;

  // The reduction denominator (1, 2, 4 or 8) for a picture of `imageWidth`.
  static int ReductionFor(int imageWidth, int width, int scale);

  // The built-in paths, whatever outside library is bound.
  static BOOL DecodeBuiltIn(const char* path, const BYTE* buffer, DWORD size, CBitmap24* out, int width, int scale);
  static BOOL EncodeBuiltIn(const QImage& bitmap, int quality, std::string* jpeg);

  // True when the data is a JPEG whose header announces a picture that,
  // reduced as asked, stays within the decoded-size bound.
  static bool HeaderWithinLimit(const char* path, const BYTE* buffer, DWORD size, int width, int scale);

 private:
  PFN_FNCLOADJPEGW m_pLoad;
  PFN_FNCSAVEJPEGW m_pSave;
  PFN_FNCGETJPEGINFOW m_pInfo;
  const std::atomic<LONG>* m_pRunning = nullptr;
};

// Writes `data` to `path` through a temporary file in the same folder and a
// rename, so an existing file is replaced whole or not at all.
bool WriteFileReplacing(const std::string& path, const void* data, size_t size);

// The picture the data source holds for transfer: the camera's JPEG (the
// held still picture), its decoded 24-bit bitmap, and the packed DIB handed
// to the application by native, memory or file transfer. One lock guards it,
// because the capture dialog's preview thread and the application's thread
// both use it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "Dib.h"
#include "OutsideCodec.h"
#include "Twain.h"

class CDSImage {
 public:
  CDSImage() = default;
  ~CDSImage();
  CDSImage(const CDSImage&) = delete;
  CDSImage& operator=(const CDSImage&) = delete;

  // The outside codec's decode function, NULL for the linked libjpeg.
  void SetCodec(PFN_FNCLOADJPEGA load) { m_pLoadJpegA = load; }
  PFN_FNCLOADJPEGA Codec() const { return m_pLoadJpegA; }

  // Decodes a JPEG, reduced by `width` (0: full size). Never touches the
  // held state, so it needs no lock: usable from any thread, with or
  // without the image's lock held.
  BOOL Decode(const BYTE* jpeg, DWORD length, int width, CBitmap24* out) const;
  // A new picture of exactly width x height with `source` fitted in (aspect
  // kept, centred, black bands). FALSE for a zero size.
  static BOOL StretchToDib(const CBitmap24& source, CBitmap24* out, int width, int height);
  // Width and height from a JPEG's frame header; FALSE when it has none.
  static BOOL JpegSize(const BYTE* jpeg, DWORD length, int* width, int* height);

  // The held still picture (a copy of the camera's JPEG), with its full-size
  // decode when the caller has one (a transfer then need not decode again).
  void SetHeldJpeg(const BYTE* jpeg, DWORD length, const CBitmap24* fullSize = nullptr);
  void ClearHeldJpeg();
  bool HasHeldJpeg() const;
  std::vector<BYTE> HeldJpeg() const;
  // The held picture's own size; FALSE when none is held or it has no frame header.
  BOOL HeldSize(int* width, int* height) const;

  // Decodes the held picture at full size and builds the transfer DIB with
  // the row cursor at the top row. FALSE (with *lowMemory telling why) when
  // no picture is held, it does not decode, or memory runs out.
  BOOL PrepareDib(bool* lowMemory);
  bool HasDib() const;
  // Copies whole rows from the cursor, top row first, into `buffer`; RGB
  // pixel type swaps each pixel to red-green-blue. FALSE when no DIB exists.
  BOOL CopyStrip(BYTE* buffer, DWORD length, TW_UINT16 pixelType, DWORD* bytesWritten, DWORD* rows, bool* last);
  // Writes the DIB as a BMP file, replacing the file whole; FALSE on failure.
  BOOL WriteBmp(const std::string& path) const;
  // Hands the DIB to the caller (a C-allocator block: header, then pixels);
  // the image forgets it.
  TW_HANDLE DetachDib();

  // Geometry of the DIB (0 without one) and the rows delivered so far.
  LONG DibWidth() const;
  LONG DibHeight() const;
  DWORD DibStride() const;
  DWORD RowsDelivered() const;
  void ResetCursor();

  void FreeBitmap();
  void FreeDib();
  void FreeAll();

  // Size of the block before the pixels by bit count, and of the whole DIB.
  static size_t DibBlockSize(WORD bitCount, DWORD stride, LONG height);

 private:
  mutable std::mutex m_Lock;
  PFN_FNCLOADJPEGA m_pLoadJpegA = nullptr;
  std::vector<BYTE> m_HeldJpeg;
  CBitmap24 m_HeldBitmap;       // the held picture decoded at full size, or null
  CBitmap24 m_Bitmap;
  BITMAPINFOHEADER m_Header{};
  BYTE* m_pDib = nullptr;       // C-allocator block: header, pixels, spare bytes
  size_t m_DibSize = 0;
  LONG m_CurrentRow = 0;        // row index in memory (bottom-up: the top row is height-1)
  DWORD m_RowsDelivered = 0;
};

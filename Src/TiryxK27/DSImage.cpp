#include "DSImage.h"

#include <cstdlib>
#include <cstring>

#include "Jpeg.h"
#include "Platform/GlobalMemory.h"

CDSImage::~CDSImage() { FreeAll(); }

BOOL CDSImage::JpegSize(const BYTE* jpeg, DWORD length, int* width, int* height) {
  if (!jpeg || length < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return FALSE;
  size_t pos = 2;
  while (pos + 4 <= length) {
    if (jpeg[pos] != 0xFF) return FALSE;
    BYTE marker = jpeg[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      pos += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return FALSE;  // no frame header before the scan
    const size_t segment = (static_cast<size_t>(jpeg[pos + 2]) << 8) | jpeg[pos + 3];
    if (segment < 2) return FALSE;
    const bool isFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (isFrame) {
      if (pos + 9 > length) return FALSE;
      const int h = (jpeg[pos + 5] << 8) | jpeg[pos + 6];
      const int w = (jpeg[pos + 7] << 8) | jpeg[pos + 8];
      if (w <= 0 || h <= 0) return FALSE;
      if (width) *width = w;
      if (height) *height = h;
      return TRUE;
    }
    pos += 2 + segment;
  }
  return FALSE;
}

BOOL CDSImage::Decode(const BYTE* jpeg, DWORD length, int width, CBitmap24* out) const {
  if (!jpeg || length == 0 || !out) return FALSE;
  if (m_pLoadJpegA) {
    // Whatever the outside library does with it, a header that claims a
    // picture beyond the decoded-size bound never reaches it.
    if (!CJpeg::HeaderWithinLimit(nullptr, jpeg, length, width, 0)) return FALSE;
    HGLOBAL dib = nullptr;
    DWORD info[3] = {0, 0, 0};
    const BOOL ok = m_pLoadJpegA(nullptr, jpeg, length, &dib, width, 0, info);
    if (!ok) {
      if (dib) GlobalFree(dib);
      return FALSE;
    }
    CBitmap24 image = PackedDibToBitmap(dib);
    if (dib) GlobalFree(dib);
    if (image.isNull() || info[2] != 3) return FALSE;  // colour pictures only
    *out = image;
    return TRUE;
  }
  return CJpeg::DecodeBuiltIn(nullptr, jpeg, length, out, width, 0);
}

BOOL CDSImage::StretchToDib(const CBitmap24& source, CBitmap24* out, int width, int height) {
  return CJpeg::StretchBitmap(source, out, width, height);
}

void CDSImage::SetHeldJpeg(const BYTE* jpeg, DWORD length, const CBitmap24* fullSize) {
  std::vector<BYTE> copy(jpeg, jpeg + length);
  CBitmap24 bitmap;
  int w = 0, h = 0;
  if (fullSize && JpegSize(jpeg, length, &w, &h) && fullSize->width() == w && fullSize->height() == h)
    bitmap = *fullSize;
  std::lock_guard<std::mutex> g(m_Lock);
  m_HeldJpeg.swap(copy);
  m_HeldBitmap.swap(bitmap);
}

void CDSImage::ClearHeldJpeg() {
  std::lock_guard<std::mutex> g(m_Lock);
  m_HeldJpeg.clear();
  m_HeldBitmap = CBitmap24();
}

bool CDSImage::HasHeldJpeg() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return !m_HeldJpeg.empty();
}

std::vector<BYTE> CDSImage::HeldJpeg() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_HeldJpeg;
}

BOOL CDSImage::HeldSize(int* width, int* height) const {
  std::lock_guard<std::mutex> g(m_Lock);
  return JpegSize(m_HeldJpeg.data(), static_cast<DWORD>(m_HeldJpeg.size()), width, height);
}

size_t CDSImage::DibBlockSize(WORD bitCount, DWORD stride, LONG height) {
  size_t head = 44;
  if (bitCount == 1) head = 52;
  else if (bitCount == 4) head = 108;
  else if (bitCount == 8) head = 1068;
  return head + static_cast<size_t>(stride) * static_cast<size_t>(height);
}

BOOL CDSImage::PrepareDib(bool* lowMemory) {
  if (lowMemory) *lowMemory = false;
  std::lock_guard<std::mutex> g(m_Lock);
  if (m_pDib) {
    std::free(m_pDib);
    m_pDib = nullptr;
  }
  m_CurrentRow = 0;
  m_RowsDelivered = 0;
  CBitmap24 image = m_HeldBitmap;
  if (image.isNull() && !Decode(m_HeldJpeg.data(), static_cast<DWORD>(m_HeldJpeg.size()), 0, &image))
    return FALSE;
  m_Bitmap = image;
  const LONG w = m_Bitmap.width();
  const LONG h = m_Bitmap.height();
  m_Header = MakeInfoHeader24(w, h);
  const DWORD stride = DibStride24(w);
  m_DibSize = DibBlockSize(24, stride, h);
  m_pDib = static_cast<BYTE*>(std::calloc(1, m_DibSize));
  if (!m_pDib) {
    if (lowMemory) *lowMemory = true;
    return FALSE;
  }
  std::memcpy(m_pDib, &m_Header, sizeof m_Header);
  BYTE* pixels = m_pDib + sizeof m_Header;
  const size_t rowBytes = static_cast<size_t>(w) * 3;
  for (LONG y = 0; y < h; ++y) {
    // Bottom-up: the picture's top row is the last row in memory.
    std::memcpy(pixels + static_cast<size_t>(h - 1 - y) * stride, m_Bitmap.constScanLine(y), rowBytes);
  }
  m_CurrentRow = h - 1;
  return TRUE;
}

bool CDSImage::HasDib() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_pDib != nullptr;
}

BOOL CDSImage::CopyStrip(BYTE* buffer, DWORD length, TW_UINT16 pixelType, DWORD* bytesWritten, DWORD* rows,
                         bool* last) {
  std::lock_guard<std::mutex> g(m_Lock);
  if (bytesWritten) *bytesWritten = 0;
  if (rows) *rows = 0;
  if (last) *last = false;
  if (!m_pDib) return FALSE;
  const DWORD stride = DibStride24(m_Header.biWidth);
  if (stride == 0) return FALSE;
  const DWORD fit = length / stride;
  const BYTE* pixels = m_pDib + sizeof(BITMAPINFOHEADER);
  DWORD done = 0;
  bool isLast = false;
  while (done < fit && m_CurrentRow >= 0) {
    const BYTE* src = pixels + static_cast<size_t>(m_CurrentRow) * stride;
    BYTE* dst = buffer + static_cast<size_t>(done) * stride;
    if (pixelType == TWPT_RGB) {
      for (LONG x = 0; x < m_Header.biWidth; ++x) {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
      }
      std::memset(dst + 3 * m_Header.biWidth, 0, stride - 3 * static_cast<DWORD>(m_Header.biWidth));
    } else {
      std::memcpy(dst, src, stride);
    }
    ++done;
    if (m_CurrentRow == 0) {
      isLast = true;
      break;
    }
    --m_CurrentRow;
  }
  m_RowsDelivered += done;
  if (bytesWritten) *bytesWritten = done * stride;
  if (rows) *rows = done;
  if (last) *last = isLast;
  return TRUE;
}

BOOL CDSImage::WriteBmp(const std::string& path) const {
  std::lock_guard<std::mutex> g(m_Lock);
  if (!m_pDib || path.empty()) return FALSE;
  const DWORD stride = DibStride24(m_Header.biWidth);
  const size_t pixelBytes = static_cast<size_t>(stride) * static_cast<size_t>(m_Header.biHeight);
  const DWORD colours = m_Header.biClrUsed;
  BITMAPFILEHEADER file{};
  file.bfType = DIB_FILE_TYPE;
  file.bfOffBits = 54 + 4 * colours;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + pixelBytes);
  std::vector<BYTE> bytes(file.bfSize);
  std::memcpy(bytes.data(), &file, sizeof file);
  std::memcpy(bytes.data() + sizeof file, m_pDib, file.bfSize - sizeof file);
  return WriteFileReplacing(path, bytes.data(), bytes.size()) ? TRUE : FALSE;
}

TW_HANDLE CDSImage::DetachDib() {
  std::lock_guard<std::mutex> g(m_Lock);
  TW_HANDLE h = m_pDib;
  m_pDib = nullptr;
  m_DibSize = 0;
  return h;
}

LONG CDSImage::DibWidth() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_pDib ? m_Header.biWidth : 0;
}

LONG CDSImage::DibHeight() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_pDib ? m_Header.biHeight : 0;
}

DWORD CDSImage::DibStride() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_pDib ? DibStride24(m_Header.biWidth) : 0;
}

DWORD CDSImage::RowsDelivered() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_RowsDelivered;
}

void CDSImage::ResetCursor() {
  std::lock_guard<std::mutex> g(m_Lock);
  m_RowsDelivered = 0;
  m_CurrentRow = m_pDib ? m_Header.biHeight - 1 : 0;
}

void CDSImage::FreeBitmap() {
  std::lock_guard<std::mutex> g(m_Lock);
  m_Bitmap = CBitmap24();
}

void CDSImage::FreeDib() {
  std::lock_guard<std::mutex> g(m_Lock);
  std::free(m_pDib);
  m_pDib = nullptr;
  m_DibSize = 0;
}

void CDSImage::FreeAll() {
  FreeBitmap();
  FreeDib();
}

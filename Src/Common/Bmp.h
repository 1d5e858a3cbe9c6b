// BMP files: load any BMP the image reader understands, save 24-bit BMP
// files, make and convert 24-bit pictures.
#pragma once

#include <string>

#include "Bitmap.h"
#include "Platform/Types.h"

class CBmp {
 public:
  CBmp() = default;

  // Loads the file in its own format (an 8-bit file stays indexed), keeps
  // its size in the object; only a regular file is read (OpenRegularFile).
  // *out changes only on success.
  BOOL Load(QImage* out, const std::string& path);
  // Writes a 24-bit bottom-up BMP file (54-byte header, rows padded to 4
  // bytes), whatever the picture's own format. An existing file is replaced
  // only when the whole new file has been written.
  BOOL Save(const std::string& path, const QImage& bitmap) const;
  // A new black 24-bit picture, or a null one.
  static CBitmap24 CreateDIB24(int width, int height);
  // The source's pixels as a new 24-bit picture. FALSE (and *out null) on failure.
  static BOOL Convert24Bmp(const QImage& source, CBitmap24* out);
  // The file image Save writes: headers and pixels. Empty for a null picture.
  static std::string EncodeBmp(const QImage& bitmap);

  LONG GetWidth() const { return m_nWidth; }
  LONG GetHeight() const { return m_nHeight; }

 private:
  LONG m_nWidth = 0;
  LONG m_nHeight = 0;
};

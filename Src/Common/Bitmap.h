// The one picture type of the programs: a 24-bit picture in blue, green, red
// byte order. It is a QImage of Format_BGR888, whose scanlines are padded to
// 4 bytes like a DIB's, so a row can be handed to a codec or a file as it is.
// Rows are kept top-down in memory; the bottom-up order of DIBs is applied
// only where a BMP file or the outside codec interface needs it.
//
// QImage is a value class of Qt Gui; it needs no application object.
#pragma once

#include <QImage>

#include "Dib.h"
#include "Platform/Types.h"

using CBitmap24 = QImage;

constexpr QImage::Format BITMAP24_FORMAT = QImage::Format_BGR888;

// A new black picture of width x height, or a null picture when either size
// is not positive or memory runs out.
CBitmap24 CreateBitmap24(int width, int height);

// True for a non-null picture of the shared 24-bit format.
bool IsBitmap24(const QImage& image);

// The same picture in the shared 24-bit format (a copy, or the picture
// itself when it is already in it). Null for a null picture.
CBitmap24 ToBitmap24(const QImage& image);

// Packed bitmap in global memory: BITMAPINFOHEADER (40 bytes, positive height,
// 24 bits, BI_RGB) followed by the rows bottom-up at DibStride24. This is the
// "bitmap handle" of the outside codec interface (OutsideCodec.h).
// NULL for a null picture or when memory runs out.
HGLOBAL BitmapToPackedDib(const QImage& image);
// The picture held by a packed bitmap (24-bit, either row order), or a null
// picture when the block is not a well-formed 24-bit packed bitmap. The block
// is not freed. When `reuse` holds an unshared picture of the right size and
// format, the rows are written into it and it is taken (left null).
CBitmap24 PackedDibToBitmap(HGLOBAL dib, CBitmap24* reuse = nullptr);

// The drawing settings of the presentation program: kept once, by the main
// frame; the draw palette writes them and the still-image views read them
// at each stroke (through CImageHost). Colours are COLORREF values
// (0x00BBGGRR), converted to and from Qt colours here only.
#pragma once

#include <QColor>

#include "Platform/Types.h"

using COLORREF = DWORD;  // 0x00BBGGRR

constexpr COLORREF MakeColorRef(int r, int g, int b) {
  return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
inline QColor ColorFromRef(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

struct CDrawSettings {
  int nCurrentTool = 32838;  // hand; 32840 selection, or a drawing tool id of the palette
  int nPenWidth = 3;         // picture pixels: 3, 5 or 7
  BYTE bDotLine = 0;         // 1 dotted, 0 solid
  COLORREF penColor = 0;     // black
  int nEraserSize = 10;      // screen pixels: 6, 10 or 16
};

// The selection rectangle of a still-image view: a dotted rectangle in
// client coordinates, drawn over the picture. It adds no behaviour of its
// own; the view moves and resizes it.
#pragma once

#include <QRect>

class QPainter;

class CSelectTracker {
 public:
  CSelectTracker() = default;

  QRect m_rect;        // client coordinates, normalised
  int m_nReserved = 0;

  // Draws the dotted outline (black dots on white, visible on any picture).
  void Draw(QPainter* painter) const;
};

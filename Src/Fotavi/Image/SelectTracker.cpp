#include "Image/SelectTracker.h"

#include <QPainter>
#include <QPen>

void CSelectTracker::Draw(QPainter* painter) const {
  if (!painter || m_rect.isNull()) return;
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, false);
  painter->setBrush(Qt::NoBrush);
  // The outline runs along the rectangle's inside edge.
  const QRect outline = m_rect.adjusted(0, 0, -1, -1);
  painter->setPen(QPen(Qt::white, 1, Qt::SolidLine));
  painter->drawRect(outline);
  painter->setPen(QPen(Qt::black, 1, Qt::DotLine));
  painter->drawRect(outline);
  painter->restore();
}

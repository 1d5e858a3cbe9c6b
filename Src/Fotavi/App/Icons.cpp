#include "App/Icons.h"

#include <QDir>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QApplication>

#include <functional>

#include "App/Resource.h"
#include "Common/ThemeIcons.h"

namespace {

// Draws on a 32 x 32 canvas, scaled to each size of the icon.
using Drawing = IconDrawing;
using IconDrawings::DocumentCamera;
using IconDrawings::Folder;
using IconDrawings::Remote;
using IconDrawings::Start;
using IconDrawings::Stop;

QPen Pen(const QColor& c, qreal width) { return IconPen(c, width); }

void Hand(QPainter& p, const QColor& ink) {
  // An open hand: four fingers and a thumb over a palm.
  p.setPen(Pen(ink, 2.2));
  p.setBrush(QColor(250, 220, 180));
  QPainterPath hand;
  hand.moveTo(9, 17);
  // Four fingers, left to right: x of the finger's left edge, top, bottom of its right edge.
  const struct { qreal x, top, bottom; } fingers[] = {{9, 5, 15}, {13, 3, 15}, {17, 4, 16}, {21, 8, 21}};
  for (const auto& f : fingers) {
    hand.lineTo(f.x, f.top + 2);
    hand.arcTo(f.x, f.top, 4, 4, 180, -180);
    hand.lineTo(f.x + 4, f.bottom);
  }
  hand.cubicTo(25, 27, 21, 30, 16, 30);
  hand.cubicTo(11, 30, 9, 27, 6, 22);
  hand.lineTo(3, 17);
  hand.cubicTo(2, 15, 5, 13, 7, 15);
  hand.closeSubpath();
  p.drawPath(hand);
}

void Selection(QPainter& p, const QColor& ink) {
  QPen pen = Pen(ink, 2.2);
  pen.setDashPattern({2.0, 1.6});
  p.setPen(pen);
  p.setBrush(QColor(120, 170, 230, 70));
  p.drawRect(QRectF(4, 6, 24, 20));
}

void Pencil(QPainter& p, const QColor& ink) {
  p.save();
  p.translate(16, 16);
  p.rotate(45);
  p.setPen(Pen(ink, 1.6));
  p.setBrush(QColor(245, 190, 60));
  p.drawRect(QRectF(-4, -13, 8, 18));  // body
  p.setBrush(QColor(230, 120, 140));
  p.drawRect(QRectF(-4, -15, 8, 3));   // eraser end
  QPolygonF tip;
  tip << QPointF(-4, 5) << QPointF(4, 5) << QPointF(0, 13);
  p.setBrush(QColor(240, 220, 190));
  p.drawPolygon(tip);
  p.setBrush(ink);
  QPolygonF lead;
  lead << QPointF(-1.3, 10.4) << QPointF(1.3, 10.4) << QPointF(0, 13);
  p.drawPolygon(lead);
  p.restore();
}

void Camera(QPainter& p, const QColor& ink) {
  p.setPen(Pen(ink, 1.8));
  p.setBrush(QColor(200, 205, 215));
  p.drawRoundedRect(QRectF(3, 9, 26, 18), 3, 3);
  p.drawRect(QRectF(11, 5, 10, 4));
  p.setBrush(QColor(60, 90, 140));
  p.drawEllipse(QPointF(16, 18), 6, 6);
  p.setBrush(QColor(180, 210, 250));
  p.drawEllipse(QPointF(14.5, 16.5), 1.8, 1.8);
}

void Rotate(QPainter& p, const QColor& ink, bool clockwise) {
  p.save();
  if (clockwise) {
    p.translate(32, 0);
    p.scale(-1, 1);
  }
  p.setPen(Pen(ink, 2.6));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(6, 7, 20, 20), 100 * 16, 250 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  QPolygonF head;
  head << QPointF(9, 4) << QPointF(17, 7) << QPointF(10, 13);
  p.drawPolygon(head);
  p.restore();
}

void Magnifier(QPainter& p, const QColor& ink, bool plus) {
  p.setPen(Pen(ink, 2.6));
  p.setBrush(QColor(255, 255, 255, 160));
  p.drawEllipse(QPointF(13, 13), 9, 9);
  p.drawLine(QPointF(20, 20), QPointF(28, 28));
  p.setPen(Pen(ink, 2.4));
  p.drawLine(QPointF(9, 13), QPointF(17, 13));
  if (plus) p.drawLine(QPointF(13, 9), QPointF(13, 17));
}

void FullScreen(QPainter& p, const QColor& ink) {
  p.setPen(Pen(ink, 2.4));
  p.setBrush(Qt::NoBrush);
  for (int corner = 0; corner < 4; ++corner) {
    p.save();
    p.translate(16, 16);
    p.rotate(90 * corner);
    p.drawLine(QPointF(-12, -12), QPointF(-5, -12));
    p.drawLine(QPointF(-12, -12), QPointF(-12, -5));
    p.restore();
  }
}

void Disk(QPainter& p, const QColor& ink) {
  p.setPen(Pen(ink, 1.6));
  p.setBrush(QColor(80, 120, 190));
  p.drawRoundedRect(QRectF(4, 4, 24, 24), 2, 2);
  p.setBrush(QColor(240, 240, 245));
  p.drawRect(QRectF(9, 4, 14, 9));
  p.drawRect(QRectF(8, 18, 16, 10));
}

void Picture(QPainter& p, const QColor& ink) {
  p.setPen(Pen(ink, 1.4));
  p.setBrush(QColor(135, 190, 235));
  p.drawRect(QRectF(3, 5, 26, 22));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(250, 210, 60));
  p.drawEllipse(QPointF(22, 11), 3, 3);
  p.setBrush(QColor(60, 150, 60));
  QPolygonF hill;
  hill << QPointF(4, 26) << QPointF(13, 14) << QPointF(21, 26);
  p.drawPolygon(hill);
}

struct CommandIconDef {
  int id;
  const char* themeName;  // nullptr: drawn
  Drawing drawing;        // the drawing, or the fallback without the theme
};

const std::vector<CommandIconDef>& CommandIcons() {
  static const std::vector<CommandIconDef> defs = {
      {ID_FILE_OPENFILE, "document-open", Folder},
      {ID_FILE_SAVEFILE, "document-save", Disk},
      {ID_VIEW_FULLSCREEN, "view-fullscreen", FullScreen},
      {ID_TOOL_HAND, nullptr, Hand},
      {ID_TOOL_SELECT, nullptr, Selection},
      {ID_ROTATE_90CCW, "object-rotate-left", [](QPainter& p, const QColor& c) { Rotate(p, c, false); }},
      {ID_ROTATE_90CW, "object-rotate-right", [](QPainter& p, const QColor& c) { Rotate(p, c, true); }},
      {ID_VIEW_ZOOMIN, "zoom-in", [](QPainter& p, const QColor& c) { Magnifier(p, c, true); }},
      {ID_VIEW_ZOOMOUT, "zoom-out", [](QPainter& p, const QColor& c) { Magnifier(p, c, false); }},
      // Drawn in colour: the theme's pale outlines look disabled even when
      // the live monitor can be started or stopped.
      {ID_LIVE_STOP, nullptr, Stop},
      {ID_LIVE_START, nullptr, Start},
      {ID_TOOL_STILLCAPTURE, "camera-photo", Camera},
      {ID_TOOL_DRAW, nullptr, Pencil},
      {ID_TOOL_REMOTECTRL, nullptr, Remote},
  };
  return defs;
}

const CommandIconDef* FindCommandIcon(int id) {
  for (const CommandIconDef& def : CommandIcons())
    if (def.id == id) return &def;
  return nullptr;
}

}  // namespace

QIcon CommandIcon(int commandId) {
  const CommandIconDef* def = FindCommandIcon(commandId);
  if (!def) return {};
  return WithDistinctDisabledLook(ThemeOrDrawnIcon(def->themeName, def->drawing));
}

const char* CommandIconThemeName(int commandId) {
  const CommandIconDef* def = FindCommandIcon(commandId);
  return def && def->themeName ? def->themeName : "";
}

QIcon ProgramIcon() {
  static const QIcon icon = DrawnIcon(DocumentCamera);
  return icon;
}

QIcon LiveMonitorIcon() {
  if (QIcon::hasThemeIcon(QStringLiteral("camera-web"))) return QIcon::fromTheme(QStringLiteral("camera-web"));
  return DrawnIcon(Camera);
}

QIcon StillPictureIcon() { return DrawnIcon(Picture); }

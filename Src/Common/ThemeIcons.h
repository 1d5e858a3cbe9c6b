// Icons shared by the programs: the freedesktop icon theme's
// (QIcon::fromTheme) where it has a fitting name, drawn in code where it has
// none or no theme is installed, and the drawings more than one program uses.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPen>

#include <functional>

// Looks for icon themes in the XDG data folders and, when the desktop names
// none, uses "Adwaita" (installed by scripts/setup.sh); a theme the desktop
// names stays, with "Adwaita" as its fallback. Call once before icons are made.
void SetUpIconTheme();

// Draws on a 32 x 32 canvas, scaled to each size of the icon.
using IconDrawing = std::function<void(QPainter&, const QColor& ink)>;
// The drawing at the usual toolbar and menu sizes, in the palette's text colour.
QIcon DrawnIcon(const IconDrawing& draw);
// The theme's icon `themeName` when the theme has it (null name: never),
// else the drawing.
QIcon ThemeOrDrawnIcon(const char* themeName, const IconDrawing& draw);

// The icon as it is when enabled, and clearly faded when disabled (grey and
// mostly transparent), whatever the theme or the style would make of it: a
// disabled command never looks like an enabled one. Its name stays.
QIcon WithDistinctDisabledLook(const QIcon& icon);
// The faded look of a disabled command's picture.
QPixmap DisabledLook(const QPixmap& normal);

// A round-capped pen for the drawings.
QPen IconPen(const QColor& c, qreal width);

// Drawings more than one program uses.
namespace IconDrawings {
void Remote(QPainter& p, const QColor& ink);          // a remote control
void Stop(QPainter& p, const QColor& ink);            // a red stop square
void Start(QPainter& p, const QColor& ink);           // a play triangle
void Folder(QPainter& p, const QColor& ink);          // an open folder
void DocumentCamera(QPainter& p, const QColor& ink);  // the programs' own icon
}  // namespace IconDrawings

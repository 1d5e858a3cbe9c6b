// Window helpers of the widget part.
#pragma once

#include <QRect>

class QWidget;

// The client rectangle of a scrolled window including the area its visible
// scroll bars take (the viewport grown by the bars); other widgets: their rect.
QRect GetClientRectNoScroll(const QWidget* window);

// Sizes a top-level window to fit the available area of its screen (the
// screen of the window it belongs to, else the one under the mouse pointer),
// never below its layout's minimum, with the frame the window manager puts
// round it, and places it inside that area: centred over the window it
// belongs to when that is shown, else on the screen. Call before showing.
void FitWindowIntoScreen(QWidget* window);

// The width a window needs for its whole caption: the title in the caption
// font, the window icon and the caption buttons the window manager draws.
int CaptionWidth(const QWidget* window);
// Makes a top-level window (a dialog, a message box) at least as wide as its
// caption needs, so its title is never cut short. Call once its title is set.
void FitWidthToCaption(QWidget* window);

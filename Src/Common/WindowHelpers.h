// Window helpers of the widget part.
#pragma once

#include <QRect>

class QWidget;

// The client rectangle of a scrolled window including the area its visible
// scroll bars take (the viewport grown by the bars); other widgets: their rect.
QRect GetClientRectNoScroll(const QWidget* window);

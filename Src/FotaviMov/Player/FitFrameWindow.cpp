#include "FitFrameWindow.h"

#include <QApplication>
#include <QLayout>
#include <QWidget>

void FitFrameWindow(QWidget* frame, QWidget* view, int shownWidth, int shownHeight, bool move) {
  if (!frame || !view) return;
  const int wantWidth = shownWidth + 2 * MOVIE_VIEW_EDGE;
  const int wantHeight = shownHeight + 2 * MOVIE_VIEW_EDGE;
  if (move) frame->move(0, 0);
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (frame->layout()) frame->layout()->activate();
    const int dw = wantWidth - view->width();
    const int dh = wantHeight - view->height();
    if (dw == 0 && dh == 0) return;
    frame->resize(frame->width() + dw, frame->height() + dh);
  }
}

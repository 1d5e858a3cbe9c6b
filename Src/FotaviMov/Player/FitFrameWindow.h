// Sizes a frame window so that its view shows a movie picture of the shown
// size with a 2-pixel edge on each side: the frame is resized by what the
// view lacks, moved to (0, 0) when asked, and resized again while the view
// is still short (a menu bar that wrapped, bars that grew), a few times at
// the most.
#pragma once

class QWidget;

constexpr int MOVIE_VIEW_EDGE = 2;

void FitFrameWindow(QWidget* frame, QWidget* view, int shownWidth, int shownHeight, bool move);

// Fitting the main frame and the view to the picture: the live picture and
// a movie at the view-size percent, shrunk with their aspect to what the
// screen's work area leaves beside the frame.
#pragma once

#include <QSize>

class CMovLivePicture;
class CMovPlayback;
class IMovFrameHost;
class QWidget;

// `size` with the aspect of `aspect` (A wide, B high), made smaller in one
// direction; unchanged for an empty aspect.
QSize FitToAspect(QSize size, QSize aspect);
// `size` fitted to the screen's work area with the frame around it and
// `edges` pixels of the view's own in each direction, then to `aspect`.
QSize FitToScreen(IMovFrameHost* frame, QSize size, int edges, QSize aspect);
// The live picture: decoded at `output`, drawn at the percent of the frame's
// view-size command fitted to the screen; the view fixed to that size and
// the frame around it, inside the work area.
void FitLivePicture(IMovFrameHost* frame, QWidget* view, CMovLivePicture& live, QSize output, QSize camera);
// A movie: shown at its native size times the percent, fitted to the
// screen; the frame sized so that the view shows it with its edges.
void FitMovie(IMovFrameHost* frame, QWidget* view, CMovPlayback& playback);
// The view's size minus its edges, fitted to the movie's aspect: what a
// resized view shows the movie at.
QSize MovieSizeInView(QSize view, QSize native);

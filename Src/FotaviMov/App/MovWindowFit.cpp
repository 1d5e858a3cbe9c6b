#include "MovWindowFit.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

#include <algorithm>

#include "FitFrameWindow.h"
#include "MovFrameHost.h"
#include "MovFrameRules.h"
#include "MovLivePicture.h"
#include "MovPlayback.h"

namespace {
// `size` times `percent` / 100 in whole pixels, rounded down.
QSize Percent(QSize size, int percent) { return {size.width() * percent / 100, size.height() * percent / 100}; }
}  // namespace

QSize FitToAspect(QSize size, QSize aspect) {
  if (aspect.isEmpty()) return size;
  const qint64 a = aspect.width(), b = aspect.height();
  int w = size.width(), h = size.height();
  if (h * a < w * b) w = int(h * a / b);
  else if (w * b < h * a) h = int(w * b / a);
  return {w, h};
}

QSize FitToScreen(IMovFrameHost* host, QSize size, int edges, QSize aspect) {
  QWidget* frame = host->FrameWidget();
  QScreen* screen = frame->screen() ? frame->screen() : QGuiApplication::primaryScreen();
  if (!screen) return size;
  const QRect work = screen->availableGeometry();
  // What the frame needs around the picture: its decoration, the menu and
  // the bars (the view's own size says nothing before it is sized).
  int menu = 0;
  if (auto* main = qobject_cast<QMainWindow*>(frame); main && main->menuWidget())
    menu = main->menuWidget()->sizeHint().height();
  const int extraW = std::max(0, frame->frameGeometry().width() - frame->width());
  const int extraH = std::max(0, frame->frameGeometry().height() - frame->height()) + menu + host->GetBarsHeight();
  if (work.width() < size.width() + edges + extraW) size.setWidth(work.width() - edges - extraW);
  if (work.height() < size.height() + edges + extraH) size.setHeight(work.height() - edges - extraH);
  return FitToAspect(size, aspect);
}

void FitLivePicture(IMovFrameHost* frame, QWidget* view, CMovLivePicture& live, QSize output, QSize camera) {
  if (!live.IsRunning()) return;
  const int percent = ViewSizePercent(frame->GetViewSizeId());
  const QSize draw = FitToScreen(frame, Percent(output, percent), 0, camera);
  live.SetSizes(output, draw);
  // The view is the picture's height and at least its width: a frame made
  // wider by its menu bar gives the view the room, and the picture lies in
  // the middle of it, black around.
  view->setFixedHeight(draw.height());
  view->setMinimumWidth(draw.width());
  view->setMaximumWidth(QWIDGETSIZE_MAX);
  frame->FrameWidget()->adjustSize();
  live.CentreIn(view->size());
  frame->KeepInWorkArea();
  view->update();
}

void FitMovie(IMovFrameHost* frame, QWidget* view, CMovPlayback& playback) {
  const QSize native = playback.NativeSize();
  if (native.isEmpty()) return;
  const int percent = ViewSizePercent(frame->GetViewSizeId());
  const QSize wanted = Percent(native, percent);
  const QSize fitted = FitToScreen(frame, wanted, 2 * MOVIE_VIEW_EDGE, native);
  const bool shrunk = fitted.width() < wanted.width();
  playback.SetShownSize(fitted);
  const QSize shown = playback.ShownSize();
  FitFrameWindow(frame->FrameWidget(), view, shown.width(), shown.height(), shrunk);
  frame->KeepInWorkArea();
}

QSize MovieSizeInView(QSize view, QSize native) {
  // The picture lies inside the view's edges.
  const QSize inside = (view - QSize(2 * MOVIE_VIEW_EDGE, 2 * MOVIE_VIEW_EDGE)).expandedTo(QSize(1, 1));
  return FitToAspect(inside, native);
}

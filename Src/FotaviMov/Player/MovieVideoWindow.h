// The child window a movie plays in: it covers its parent (the view), is
// black, and paints the player's latest picture at the place the player
// gives it. It is the player's host: pictures arrive from the presenter
// thread and are only handed over; painting happens on the GUI thread. It
// also runs the view's position timer (IDT_MOVIE_POSITION, 100 ms).
//
// The player must be uninitialized before this window is destroyed.
#pragma once

#include <QRect>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>

#include "MovieDefs.h"
#include "MoviePlay.h"

class CMovieVideoWindow : public QWidget, public IMoviePlayerHost {
  Q_OBJECT
 public:
  explicit CMovieVideoWindow(QWidget* parent);
  ~CMovieVideoWindow() override;

  // Called on every tick of the position timer (the view's OnTimer(1139)).
  void SetPositionTick(std::function<void()> tick) { m_Tick = std::move(tick); }

  // IMoviePlayerHost
  void ShowFrame(std::shared_ptr<const CVideoFrame> frame) override;
  void SetPositionTimer(bool run) override;
  void GetClientSize(int* width, int* height) override;
  void PlaceVideo(int x, int y, int width, int height, bool visible) override;

  QRect VideoRect() const { return m_Place; }
  bool IsPositionTimerActive() const { return m_Timer.isActive(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::mutex m_Lock;
  std::shared_ptr<const CVideoFrame> m_pFrame;  // under m_Lock
  QRect m_Place;
  QTimer m_Timer;
  std::function<void()> m_Tick;
};

// The playing position bar: a track (a white sunken strip) and a thumb (a
// small raised box, 10 x 20) that shows the position in percent and lets
// the user drag to seek. The player talks to it through its platform
// window (WM_SLIDER_ENABLE, WM_SLIDER_SETPOS with a pointer to a 64-bit
// percent, of which the low 32 bits count); seeks go to the view.
#pragma once

#include <QFrame>
#include <QWidget>

#include "MovieDefs.h"

class IMovieSeekTarget {
 public:
  virtual ~IMovieSeekTarget() = default;
  // (position in percent, mouse message: WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP)
  virtual void SeekMovie(int percent, UINT mouseMessage) = 0;
};

class CSliderDialogBar : public QWidget {
  Q_OBJECT
 public:
  explicit CSliderDialogBar(QWidget* parent = nullptr);
  ~CSliderDialogBar() override;

  // Makes the track and the thumb and the bar's platform window. FALSE when
  // either cannot be made.
  bool InitSlider();
  void SetView(IMovieSeekTarget* view) { m_pView = view; }
  void EnableSlider(bool enable);
  void SetPosition(int percent);
  int GetPosition() const { return m_nPosition; }
  bool IsSliderEnabled() const { return m_bEnabled; }
  HWND GetSafeHwnd() const { return m_hWnd; }
  QFrame* Track() const { return m_pTrack; }
  QFrame* Thumb() const { return m_pThumb; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  void PlaceThumb(int x);

  QFrame* m_pTrack = nullptr;
  QFrame* m_pThumb = nullptr;
  IMovieSeekTarget* m_pView = nullptr;
  bool m_bDragging = false;
  int m_nPosition = 0;
  bool m_bEnabled = false;
  HWND m_hWnd = nullptr;
};

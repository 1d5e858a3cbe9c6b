// The view's live picture: the live-picture thread with its hidden window,
// the "SemiAnimationWaitEvent" a recording waits on for the first picture,
// the sizes it decodes and draws at, and the copies of the held picture
// that recordings and measurements take.
#pragma once

#include <QSize>

#include <functional>
#include <memory>

#include "MovieDefs.h"
#include "Platform/Sync.h"
#include "SemiAnimationThread.h"

class CFotaviMovApp;
class QPainter;

class CMovLivePicture {
 public:
  // `viewWnd` receives the thread's notices (errors, pictures to paint).
  CMovLivePicture(CFotaviMovApp* app, HWND viewWnd) : m_pApp(app), m_hViewWnd(viewWnd) {}
  ~CMovLivePicture() { Stop(); }
  CMovLivePicture(const CMovLivePicture&) = delete;
  CMovLivePicture& operator=(const CMovLivePicture&) = delete;

  // Starts the thread; `sizeIt` runs once the thread exists and before it
  // runs, so that it starts at its sizes. FALSE (a box shown, nothing left
  // running) when it cannot start.
  bool Start(const std::function<void()>& sizeIt);
  // Ends the thread (bounded) and the wait event.
  void Stop();
  bool IsRunning() const { return m_pLive != nullptr; }
  CSemiAnimationThread* Thread() const { return m_pLive.get(); }
  const std::shared_ptr<CEvent>& WaitEvent() const { return m_pWaitEvent; }

  void SetSizes(QSize decode, QSize draw);
  // The picture in the middle of a view of `area` (the spare is black).
  void CentreIn(QSize area);
  // A copy of the held picture at the given size; null without one. Any thread.
  CBitmap24 CopyPicture(LONG width, LONG height) const;
  // Paints the held picture; returns the rectangle it covers, empty when
  // there is none.
  QRect Paint(QPainter& painter) const;
  // A "picture to paint" notice taken: TRUE when the live picture runs.
  bool TakeDrawNotice();
  // Counting of the pictures received (the measurement): on from 0, or off
  // with the count so far.
  void StartCounting();
  DWORD StopCounting();

 private:
  CFotaviMovApp* m_pApp;
  HWND m_hViewWnd;
  std::shared_ptr<CEvent> m_pWaitEvent;  // "SemiAnimationWaitEvent"
  std::unique_ptr<CSemiAnimationThread> m_pLive;
  QSize m_Draw;  // the size the picture is drawn at
};

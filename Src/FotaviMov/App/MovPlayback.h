// The view's playback: one movie at a time in a player (CMoviePlay) whose
// pictures show in a video window over the view, the slider bar following
// its position, and the playback commands with their failure texts.
#pragma once

#include <QSize>

#include <memory>
#include <string>

#include "MoviePlay.h"
#include "Platform/Types.h"

class CMovieVideoWindow;
class CSliderDialogBar;
class IMovieSeekTarget;
class QWidget;

class CMovPlayback {
 public:
  // `view` carries the video window; `viewWnd` receives the player's graph
  // events; the slider bar (may be null) seeks through `seekTarget`.
  CMovPlayback(QWidget* view, HWND viewWnd, CSliderDialogBar* slider, IMovieSeekTarget* seekTarget)
      : m_pView(view), m_hViewWnd(viewWnd), m_pSlider(slider), m_pSeekTarget(seekTarget) {}
  ~CMovPlayback();
  CMovPlayback(const CMovPlayback&) = delete;
  CMovPlayback& operator=(const CMovPlayback&) = delete;

  // Opens `path` paused at its start; TRUE when a movie is open afterwards.
  BOOL Open(const std::string& path);
  // Plays the open movie, or `path` opened first; an empty path is an
  // internal error.
  void Play(const std::string& path);
  void Pause();
  void Stop();
  void Close();
  void Seek(int percent, UINT mouseMessage);
  bool IsOpen() const { return m_pPlayer != nullptr; }
  bool IsPaused() const { return m_pPlayer && m_pPlayer->GetState() == CMoviePlay::Paused; }
  // The movie's own size; empty without a movie.
  QSize NativeSize() const;
  void SetShownSize(QSize size);
  QSize ShownSize() const;
  void HandleGraphEvent();
  // The view was resized to `size`.
  void OnViewResized(QSize size);

 private:
  QWidget* m_pView;
  HWND m_hViewWnd;
  CSliderDialogBar* m_pSlider;
  IMovieSeekTarget* m_pSeekTarget;
  std::unique_ptr<CMoviePlay> m_pPlayer;
  CMovieVideoWindow* m_pVideo = nullptr;  // a child of the view
};

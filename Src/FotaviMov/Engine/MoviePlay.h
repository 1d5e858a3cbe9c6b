// Playback of a recorded movie: a presenter thread demuxes and decodes the
// file (through an IMovieSource) and hands each picture to the owner when
// its time has come on a steady clock. Run, Pause, Stop and seeks by percent
// come from the user-interface thread; the end of the movie and errors come
// back as queued events (WM_GRAPHNOTIFY to the owner window, then
// HandleGraphEvent on the owner's thread). The position goes to the slider
// bar's window as WM_SLIDER_SETPOS on every tick of the position timer.
//
// Video only: sound is not played. A file without usable video still opens
// and plays its length with no picture.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "MovieSource.h"

// What the player needs of the window it plays in. All calls but ShowFrame
// come on the user-interface thread; ShowFrame comes from the presenter
// thread and must only hand the picture over (the window paints it later).
class IMoviePlayerHost {
 public:
  virtual ~IMoviePlayerHost() = default;
  virtual void ShowFrame(std::shared_ptr<const CVideoFrame> frame) = 0;
  // Window timer IDT_MOVIE_POSITION, every MOVIE_POSITION_PERIOD_MS.
  virtual void SetPositionTimer(bool run) = 0;
  virtual void GetClientSize(int* width, int* height) = 0;
  // Where the picture goes in the owner's client area; `visible` FALSE hides it.
  virtual void PlaceVideo(int x, int y, int width, int height, bool visible) = 0;
};

// Graph events.
constexpr long EC_COMPLETE = 1;
constexpr long EC_USERABORT = 2;
constexpr long EC_ERRORABORT = 3;

// The slider bar's arithmetic (client width of the bar, thumb's left edge).
int SliderXForPercent(int clientWidth, int percent);
int SliderPercentForX(int clientWidth, int thumbLeft);
int SliderClampX(int clientWidth, int x);
// The centred place of a picture of (w, h) in a client area of (cw, ch).
void CentreVideo(int clientWidth, int clientHeight, int width, int height, int* x, int* y);

class CMoviePlay {
 public:
  enum State { Stopped = 0, Paused = 1, Running = 2 };

  explicit CMoviePlay(std::unique_ptr<IMovieSource> source = nullptr);
  ~CMoviePlay();
  CMoviePlay(const CMoviePlay&) = delete;
  CMoviePlay& operator=(const CMoviePlay&) = delete;

  // Opens the movie, shows its first picture paused at position 0 and
  // enables the slider. A negative result leaves the player released.
  MOVIERESULT Initialize(HWND owner, HWND positionWnd, IMoviePlayerHost* host, const std::string& path);
  MOVIERESULT Play();
  MOVIERESULT Pause();  // toggles pause and play
  MOVIERESULT Stop();   // MOVIE_STOPPED_ALREADY when stopped
  void Seek(int percent, UINT mouseMessage);
  void UpdatePosition();
  void HandleGraphEvent();
  void SetVideoWindowSize(int width, int height);
  void RePaint();
  void Uninitialize();

  int GetState() const { return m_nState; }
  bool HasNoVideo() const { return m_bNoVideo; }
  int GetVideoWidth() const { return m_Info.width; }
  int GetVideoHeight() const { return m_Info.height; }
  int GetShownWidth() const { return m_nShownWidth; }
  int GetShownHeight() const { return m_nShownHeight; }
  int64_t GetDuration() const { return m_Info.duration; }
  int64_t GetCurrentPosition();
  bool IsIdle() const { return m_bIdle; }

 private:
  enum class Graph { Stopped, Paused, Running };
  void SetGraph(Graph graph);
  void SetPosition(int64_t position);
  void Present();
  bool ShowAt(int64_t position, std::unique_lock<std::mutex>& lock);
  void PushEvent(long code, std::unique_lock<std::mutex>& lock);
  void ReleaseAll();

  std::unique_ptr<IMovieSource> m_pSource;
  IMoviePlayerHost* m_pHost = nullptr;
  HWND m_hOwner = nullptr;
  HWND m_hPosition = nullptr;
  CMovieInfo m_Info;
  int m_nState = Stopped;
  bool m_bNoVideo = false;
  int m_nShownWidth = 0;
  int m_nShownHeight = 0;
  bool m_bTimer = false;
  bool m_bIdle = true;
  bool m_bOpen = false;

  // Shared with the presenter thread, under m_Lock.
  std::mutex m_Lock;
  std::condition_variable m_Wake;
  Graph m_Graph = Graph::Stopped;
  int64_t m_nPosition = 0;        // where the stream is, when not running
  int64_t m_nRunBase = 0;         // position at the last Run
  std::chrono::steady_clock::time_point m_RunStart;
  bool m_bReposition = false;     // show the picture at m_nPosition
  bool m_bQuit = false;
  bool m_bCompleteSent = false;
  std::shared_ptr<CVideoFrame> m_pPending;  // decoded, not yet due
  int64_t m_nLastShown = -1;
  std::deque<long> m_Events;
  std::thread m_Presenter;
};

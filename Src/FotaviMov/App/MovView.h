// The one view of the movie program. It shows the camera's live picture
// (drawn from the live-picture thread) or a movie being played (in a video
// window over it); it starts and stops the live picture, starts and stops a
// recording with its frame clock and time limit, serves the frame-rate
// measurement, and carries out the playback commands of the main frame.
//
// Each recording gets a notify window of its own: the recording thread and
// the frame clock post their answers there, and the window is destroyed when
// the recording ends, so an answer of an ended recording never reaches a
// newer one.
#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "FramePacer.h"
#include "MakeMovieThread.h"
#include "MeasurementFiles.h"
#include "MoviePlay.h"
#include "Platform/Messages.h"
#include "Platform/Sync.h"
#include "SemiAnimationThread.h"
#include "SliderDialogBar.h"

class CFotaviMovApp;
class CFotaviMovDoc;
class CMovieVideoWindow;

// The result record of a measurement, posted with WM_AUTOFRAMERATE_RESULT
// as wParam to the measurement window, which frees it (wParam 0: failed).
struct MEASUREMENTRESULT {
  uint64_t framesWritten = 0;
  DWORD picturesReceived = 0;
};

// What the view asks of its main frame.
class IMovFrameHost {
 public:
  virtual ~IMovFrameHost() = default;
  virtual void SetFixedFrame(bool fixed) = 0;
  virtual int GetBarsHeight() const = 0;
  virtual void KeepInWorkArea() = 0;
  virtual void ResetToolButtons() = 0;
  virtual void SelectToolButton(UINT id) = 0;
  virtual UINT GetViewSizeId() const = 0;
  virtual void OnMovieStop() = 0;
  virtual QWidget* FrameWidget() = 0;
};

class CFotaviMovView : public QWidget, public IMovieSeekTarget {
 public:
  CFotaviMovView(CFotaviMovApp* app, CFotaviMovDoc* doc, IMovFrameHost* frame, CSliderDialogBar* slider,
                 QWidget* parent = nullptr);
  ~CFotaviMovView() override;  // OnDestroy

  // Live picture.
  BOOL StartSemiAnimation();
  void StopSemiAnimation();
  void OnDeviceGone();
  void SetLiveSize();
  BOOL IsSemiAnimation() const { return m_pLive != nullptr; }
  CSemiAnimationThread* GetLiveThread() const { return m_pLive.get(); }

  // Recording.
  BOOL StartMakeMovie(const MAKEMOVIEPARAM& param);
  void StopMakeMovie(BOOL notify);
  BOOL IsRecording() const { return m_pRecord != nullptr; }
  void SetMeasureWnd(HWND window);
  // Makes the folder of a measurement's files, removed when its recording
  // ends (or when the measurement is given up before); the path to record
  // to, "" when there is no folder for it.
  std::string CreateMeasurementFile();
  const CMeasurementFiles& GetMeasurementFiles() const { return m_MeasureFiles; }
  HWND GetMeasureWnd() const { return m_hMeasureWnd; }
  // The last recording's figures (tests, the benchmark).
  uint64_t LastFrameCount() const { return m_nLastFrames; }
  uint64_t LastRepeatedCount() const { return m_nLastRepeated; }
  uint64_t LastCapturedCount() const { return m_nLastCaptured; }  // records the frame clock sent
  const std::string& LastError() const { return m_strLastError; }
  // The writers the next recordings use (the real ones unless replaced).
  void SetWriterFactory(CMovieWriterFactory factory) { m_WriterFactory = std::move(factory); }
  void SetRecordStopLimits(RECSTOPLIMITS limits) { m_StopLimits = limits; }
  // Counts recordings that ended, however they ended.
  unsigned RecordingsEnded() const { return m_nEnded; }
  bool IsLimitTimerActive() const { return m_LimitTimer.isActive(); }
  int LimitTimerInterval() const { return m_LimitTimer.interval(); }

  // Playback.
  BOOL MovieInitialize();
  void PlayMovie();
  void PauseMovie();
  void StopMovie();
  void CloseMovie();
  void SeekMovie(int percent, UINT mouseMessage) override;
  BOOL IsMoviePaused() const;
  BOOL IsMovieOpen() const { return m_pPlayer != nullptr; }
  void SetMovieSize();
  void ClearView() { update(); }
  void InvalidateMovie() {
    if (m_pPlayer) update();
  }

  HWND GetSafeHwnd() const { return m_hWnd; }
  unsigned long long PaintedFrames() const { return m_nPainted; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT RecordProc(HWND hwnd, UINT msg);
  void OnSemiAnimationError(WPARAM code);
  void OnMovieRecReady();
  void OnMakeMovieFrameDone();
  void OnMovieRecEnd();
  void OnMakeMovieError();
  void PostMeasurementResult(bool withRecord, DWORD pictures);
  void EndRecording();  // joins and frees the thread, ends the notify window
  void KillClocks();
  bool JoinRecording(const char* function);
  void RequestMeasureFrame();
  CBitmap24 CopyLivePicture(LONG width, LONG height);
  // `size` fitted to the screen's work area with the frame around it and
  // `edges` pixels of the view's own in each direction.
  QSize FitToScreen(QSize size, int edges) const;
  QSize FitToAspect(QSize size) const;

  CFotaviMovApp* m_pApp;
  CFotaviMovDoc* m_pDoc;
  IMovFrameHost* m_pFrame;
  CSliderDialogBar* m_pSlider;
  HWND m_hWnd = nullptr;

  std::unique_ptr<CMoviePlay> m_pPlayer;
  CMovieVideoWindow* m_pVideo = nullptr;

  std::shared_ptr<CEvent> m_pWaitEvent;  // "SemiAnimationWaitEvent"
  std::unique_ptr<CSemiAnimationThread> m_pLive;
  unsigned long long m_nPainted = 0;

  std::unique_ptr<CMakeMovieThread> m_pRecord;
  CMovieWriterFactory m_WriterFactory = CMovieWriterFactory::Default();
  RECSTOPLIMITS m_StopLimits;
  std::unique_ptr<CFramePacer> m_pPacer;
  HWND m_hRecordWnd = nullptr;  // this recording's notify window
  LONG m_nRecWidth = 640;
  LONG m_nRecHeight = 512;
  DWORD m_dwFrameRate = 10;
  int m_nLimitMode = RECCOND_NONE;
  uint64_t m_nLimit = 0;
  HWND m_hMeasureWnd = nullptr;
  CMeasurementFiles m_MeasureFiles;
  QTimer m_LimitTimer;  // window timer 4
  qint64 m_nLimitDeadlineMs = 0;  // steady clock

  uint64_t m_nLastFrames = 0;
  uint64_t m_nLastRepeated = 0;
  uint64_t m_nLastCaptured = 0;
  std::string m_strLastError;
  unsigned m_nEnded = 0;
};

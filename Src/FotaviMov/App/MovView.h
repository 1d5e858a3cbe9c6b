// The one view of the movie program. It shows the camera's live picture or
// a movie being played, and carries out the main frame's commands over its
// parts, one job each: the live picture (MovLivePicture), the recording
// control (MovRecording), the frame-rate measurement (MovMeasurement),
// playback (MovPlayback) and the fitting of the frame to the picture
// (MovWindowFit). The view owns them, takes the platform messages meant for
// them and paints.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "MakeMovieThread.h"
#include "MovFrameHost.h"
#include "MovLivePicture.h"
#include "MovMeasurement.h"
#include "MovPlayback.h"
#include "MovRecording.h"
#include "Platform/Messages.h"
#include "SliderDialogBar.h"

class CFotaviMovApp;
class CFotaviMovDoc;

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
  BOOL IsSemiAnimation() const { return m_pLive->IsRunning(); }
  CSemiAnimationThread* GetLiveThread() const { return m_pLive->Thread(); }

  // Recording.
  BOOL StartMakeMovie(const MAKEMOVIEPARAM& param) { return m_pRecording->Start(param); }
  void StopMakeMovie(BOOL notify) { m_pRecording->Stop(notify); }
  BOOL IsRecording() const { return m_pRecording->IsRecording(); }
  // Stopped, and its file not yet complete.
  bool IsRecordingEnding() const { return m_pRecording->IsEnding(); }
  // Runs `then` once the recording (and the completion of its file) has
  // ended; at once when none runs.
  void WhenRecordingEnded(std::function<void()> then) { m_pRecording->WhenEnded(std::move(then)); }
  // The last recording's figures (tests, the benchmark).
  uint64_t LastFrameCount() const { return m_pRecording->LastFrameCount(); }
  uint64_t LastRepeatedCount() const { return m_pRecording->LastRepeatedCount(); }
  uint64_t LastCapturedCount() const { return m_pRecording->LastCapturedCount(); }  // records the frame clock sent
  const std::string& LastError() const { return m_pRecording->LastError(); }
  // The writers the next recordings use (the real ones unless replaced).
  void SetWriterFactory(CMovieWriterFactory factory) { m_pRecording->SetWriterFactory(std::move(factory)); }
  void SetRecordStopLimits(RECSTOPLIMITS limits) { m_pRecording->SetStopLimits(limits); }
  // Counts recordings that ended, however they ended.
  unsigned RecordingsEnded() const { return m_pRecording->RecordingsEnded(); }
  bool IsLimitTimerActive() const { return m_pRecording->IsLimitTimerActive(); }
  int LimitTimerInterval() const { return m_pRecording->LimitTimerInterval(); }

  // Measurement.
  void SetMeasureWnd(HWND window) { m_Measurement.SetWindow(window, IsRecording()); }
  HWND GetMeasureWnd() const { return m_Measurement.Window(); }
  // Makes the folder of a measurement's files, removed when its recording
  // ends (or when the measurement is given up before); the path to record
  // to, "" when there is no folder for it.
  std::string CreateMeasurementFile() { return m_Measurement.CreateFile(); }
  const CMeasurementFiles& GetMeasurementFiles() const { return m_Measurement.Files(); }

  // Playback.
  BOOL MovieInitialize();
  void PlayMovie();
  void PauseMovie() { m_pPlayback->Pause(); }
  void StopMovie() { m_pPlayback->Stop(); }
  void CloseMovie();
  void SeekMovie(int percent, UINT mouseMessage) override { m_pPlayback->Seek(percent, mouseMessage); }
  BOOL IsMoviePaused() const { return m_pPlayback->IsPaused(); }
  BOOL IsMovieOpen() const { return m_pPlayback->IsOpen(); }
  void SetMovieSize();
  void ClearView() { update(); }
  void InvalidateMovie() {
    if (IsMovieOpen()) update();
  }

  HWND GetSafeHwnd() const { return m_hWnd; }
  unsigned long long PaintedFrames() const { return m_nPainted; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  void OnSemiAnimationError(WPARAM code);
  void UnfixFrame();  // the view and the frame free to take any size again

  CFotaviMovDoc* m_pDoc;
  IMovFrameHost* m_pFrame;
  HWND m_hWnd = nullptr;
  unsigned long long m_nPainted = 0;
  // In this order: the recording uses the live picture and the measurement
  // and is ended before them.
  std::unique_ptr<CMovLivePicture> m_pLive;
  CMovMeasurement m_Measurement;
  std::unique_ptr<CMovRecording> m_pRecording;
  std::unique_ptr<CMovPlayback> m_pPlayback;
};

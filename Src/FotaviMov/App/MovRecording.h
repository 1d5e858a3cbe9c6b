// The view's recording control: one recording (or measurement) at a time on
// its own recording thread, with the frame clock that paces it and the time
// limit that ends it. The recording gets a notify window of its own: the
// thread and the clock post their answers there, and the window is
// destroyed when the recording ends, so an answer of an ended recording
// never reaches a newer one.
#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FramePacer.h"
#include "MakeMovieThread.h"
#include "MovMeasurement.h"
#include "Platform/Messages.h"

class CMovLivePicture;
class IMovFrameHost;

class CMovRecording {
 public:
  // `maxRequests`: the document's MaxReqCount, read at each start.
  CMovRecording(CMovLivePicture* live, CMovMeasurement* measurement, IMovFrameHost* frame,
                std::function<DWORD()> maxRequests);
  // A recording still running or ending goes to the late threads' owner,
  // which frees it once its thread has written what it holds.
  ~CMovRecording();
  CMovRecording(const CMovRecording&) = delete;
  CMovRecording& operator=(const CMovRecording&) = delete;

  BOOL Start(const MAKEMOVIEPARAM& param);
  // Ends the recording; `notify` lets a measurement report its result and a
  // recording show an error it ended with. Returns at once: the thread
  // writes the frames captured before the stop, and the end is watched on
  // the GUI thread's loop (never waited for there), within the thread's
  // drain and cut limits.
  void Stop(BOOL notify);
  // A recording runs, or is ending (its file not yet complete).
  bool IsRecording() const { return m_pRecord != nullptr; }
  bool IsEnding() const { return m_bEnding; }
  // Runs `then` once no recording is left (at once when none is): a movie
  // opened over a recording opens its file once it is complete.
  void WhenEnded(std::function<void()> then);

  // The last recording's figures (tests, the benchmark).
  uint64_t LastFrameCount() const { return m_nLastFrames; }
  uint64_t LastRepeatedCount() const { return m_nLastRepeated; }
  uint64_t LastCapturedCount() const { return m_nLastCaptured; }
  const std::string& LastError() const { return m_strLastError; }
  unsigned RecordingsEnded() const { return m_nEnded; }
  void SetWriterFactory(CMovieWriterFactory factory) { m_WriterFactory = std::move(factory); }
  void SetStopLimits(RECSTOPLIMITS limits) { m_StopLimits = limits; }
  bool IsLimitTimerActive() const { return m_LimitTimer.isActive(); }
  int LimitTimerInterval() const { return m_LimitTimer.interval(); }

 private:
  LRESULT RecordProc(HWND hwnd, UINT msg);
  void OnMovieRecReady();
  void OnMakeMovieFrameDone();
  void OnMovieRecEnd();
  void OnMakeMovieError();
  void RequestMeasureFrame();
  void KillClocks();
  void EndRecording();  // frees the thread with its clock, ends the notify window
  void OnLimitTimer();
  // How an ending recording is finished once its thread has ended.
  enum class EndKind { Stop, ByItself, Error };
  // The thread has been told to stop (or stopped by itself): its end is
  // watched from now on. `text`: the error to show (EndKind::Error).
  void BeginEnd(EndKind kind, bool notify, std::string text);
  void CheckEnd();
  void FinishEnd(bool gaveUp);

  CMovLivePicture* m_pLive;
  CMovMeasurement* m_pMeasurement;
  IMovFrameHost* m_pFrame;
  std::function<DWORD()> m_MaxRequests;

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
  QTimer m_LimitTimer;  // window timer 4
  qint64 m_nLimitDeadlineMs = 0;  // steady clock

  // The end being watched.
  bool m_bEnding = false;
  EndKind m_EndKind = EndKind::Stop;
  bool m_bEndNotify = false;
  bool m_bEndMeasuring = false;
  std::string m_strEndText;
  CMovMeasurement::Ending m_MeasureEnding;
  bool m_bCut = false;
  bool m_bDestroying = false;
  qint64 m_nEndStageMs = 0;  // steady clock: when the drain (then the cut) began
  QTimer m_EndTimer;
  std::vector<std::function<void()>> m_WhenEnded;

  uint64_t m_nLastFrames = 0;
  uint64_t m_nLastRepeated = 0;
  uint64_t m_nLastCaptured = 0;
  std::string m_strLastError;
  unsigned m_nEnded = 0;
};

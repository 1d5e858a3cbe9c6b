// The view's side of a frame-rate measurement: the measurement window that
// a measuring recording reports to, the folder of its files, the counting
// of the live pictures, and the result record it posts when it ends.
#pragma once

#include <cstdint>
#include <string>

#include "MeasurementFiles.h"
#include "Platform/Messages.h"

class CMovLivePicture;

// The result record of a measurement, posted with WM_AUTOFRAMERATE_RESULT
// as wParam to the measurement window, which frees it (wParam 0: failed).
struct MEASUREMENTRESULT {
  uint64_t framesWritten = 0;
  DWORD picturesReceived = 0;
};

class CMovMeasurement {
 public:
  // Sets (or, with null, clears) the measurement window. A measurement
  // cleared while no recording runs leaves no files.
  void SetWindow(HWND window, bool recording);
  HWND Window() const { return m_hWnd; }
  bool IsMeasuring() const { return m_hWnd != nullptr; }
  // Makes the folder of the measurement's files; the path to record to, ""
  // when there is none.
  std::string CreateFile() { return m_Files.Create(); }
  const CMeasurementFiles& Files() const { return m_Files; }
  // Removes the files with every part (when its recording has ended).
  void RemoveFiles() { m_Files.Remove(); }
  // Gives the folder of the files up, for its recording to remove once it
  // has let go of them.
  std::string TakeFilesFolder() { return m_Files.TakeFolder(); }

  // The recording has its first picture: the pictures are counted from now.
  void OnReady(CMovLivePicture& live);
  // How the measuring recording ended, for the window.
  enum class Outcome { Silent, Result, Failed };
  // The end of a measuring recording as it is decided: where its result
  // goes, the pictures counted, and how it ended.
  struct Ending {
    HWND target = nullptr;
    DWORD pictures = 0;
    Outcome outcome = Outcome::Silent;
  };
  // Counting off, the window cleared: what the end will post once the
  // recording's thread has ended (PostEnd).
  Ending TakeEnding(Outcome outcome, CMovLivePicture& live);
  // Posts the result {frames written, pictures counted}, the failure
  // (wParam 0) or nothing to the ending's window.
  static void PostEnd(const Ending& ending, uint64_t framesWritten);
  void End(Outcome outcome, uint64_t framesWritten, CMovLivePicture& live) {
    PostEnd(TakeEnding(outcome, live), framesWritten);
  }

 private:
  HWND m_hWnd = nullptr;
  CMeasurementFiles m_Files;
};

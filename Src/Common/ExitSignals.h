// SIGTERM (a desktop's log-out, a service manager) and SIGINT (Ctrl+C in a
// terminal) close the program as its Exit command does, so that its exit
// road runs: recordings completed, work and measurement files removed, the
// device closed. The handler only writes the signal's number into a pipe
// (a self-pipe); the GUI thread reads it inside Qt's loop and closes first
// any modal box, then the main window. Made once, on the GUI thread, at the
// start of main; a signal that comes before Arm closes the start-up's
// boxes (whose loop reads it) and waits until the program's own loop runs. The
// handlers are put back when it goes.
#pragma once

#include <QObject>

#include <signal.h>

class QSocketNotifier;

class CExitSignals : public QObject {
 public:
  CExitSignals();
  ~CExitSignals() override;
  CExitSignals(const CExitSignals&) = delete;
  CExitSignals& operator=(const CExitSignals&) = delete;

  bool IsInstalled() const { return m_pNotifier != nullptr; }
  // The program's loop is about to run: signals close it from now on.
  void Arm();

 private:
  void OnSignal();
  void CloseWindows(int modalRounds);
  // Closes the modal boxes open now, one by one.
  void CloseModals(int modalRounds);

  bool m_bArmed = false;
  bool m_bPending = false;
  int m_nPipe[2] = {-1, -1};
  QSocketNotifier* m_pNotifier = nullptr;
  struct sigaction m_OldTerm {};
  struct sigaction m_OldInt {};
};

#include "Common/ExitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QMainWindow>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>

namespace {
// The write end of the pipe, for the handler; -1 while none is installed.
volatile sig_atomic_t g_nSignalPipe = -1;
// Modal boxes closed one by one before the main window, at most this many.
constexpr int kModalRounds = 16;

void OnExitSignal(int sig) {
  const int saved = errno;
  const int fd = g_nSignalPipe;
  if (fd >= 0) {
    const unsigned char b = static_cast<unsigned char>(sig);
    // A full pipe already holds a close request: nothing is lost.
    (void)!write(fd, &b, 1);
  }
  errno = saved;
}
}  // namespace

CExitSignals::CExitSignals() {
  if (pipe2(m_nPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    m_nPipe[0] = m_nPipe[1] = -1;
    return;
  }
  m_pNotifier = new QSocketNotifier(m_nPipe[0], QSocketNotifier::Read, this);
  connect(m_pNotifier, &QSocketNotifier::activated, this, [this] { OnSignal(); });
  g_nSignalPipe = m_nPipe[1];
  struct sigaction sa {};
  sa.sa_handler = &OnExitSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, &m_OldTerm);
  sigaction(SIGINT, &sa, &m_OldInt);
}

CExitSignals::~CExitSignals() {
  if (!m_pNotifier) return;
  sigaction(SIGTERM, &m_OldTerm, nullptr);
  sigaction(SIGINT, &m_OldInt, nullptr);
  g_nSignalPipe = -1;
  delete m_pNotifier;
  m_pNotifier = nullptr;
  close(m_nPipe[0]);
  close(m_nPipe[1]);
}

void CExitSignals::OnSignal() {
  unsigned char buffer[64];
  while (read(m_nPipe[0], buffer, sizeof buffer) > 0) {
  }
  if (!m_bArmed) {
    m_bPending = true;
    // Read inside a box of the start-up (a refusal, a question): the box is
    // closed, so that the start-up goes on to its end instead of holding
    // the program; the main window closes once the program's loop runs.
    CloseModals(kModalRounds);
    return;
  }
  CloseWindows(kModalRounds);
}

void CExitSignals::CloseModals(int modalRounds) {
  if (QWidget* modal = QApplication::activeModalWidget(); modal && modalRounds > 0) {
    modal->close();
    QTimer::singleShot(0, this, [this, modalRounds] {
      if (!m_bArmed) CloseModals(modalRounds - 1);
    });
  }
}

void CExitSignals::Arm() {
  m_bArmed = true;
  if (m_bPending) QTimer::singleShot(0, this, [this] { CloseWindows(kModalRounds); });
}

void CExitSignals::CloseWindows(int modalRounds) {
  // A modal box runs a loop of its own inside the main window's code: it is
  // closed first, and the main window once that loop has returned.
  if (QWidget* modal = QApplication::activeModalWidget(); modal && modalRounds > 0) {
    modal->close();
    QTimer::singleShot(0, this, [this, modalRounds] { CloseWindows(modalRounds - 1); });
    return;
  }
  // The Exit command of both programs: their main window's close.
  // Closing one window may delete others: each is looked at only while it
  // still stands.
  QList<QPointer<QWidget>> windows;
  for (QWidget* w : QApplication::topLevelWidgets()) windows.append(w);
  for (const QPointer<QWidget>& w : windows) {
    if (w && qobject_cast<QMainWindow*>(w.data()) && w->isVisible()) w->close();
  }
}

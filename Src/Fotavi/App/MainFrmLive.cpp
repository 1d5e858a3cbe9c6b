// The live monitor as the main frame keeps it: start, stop, size steps,
// the hold while a tool window is open, the suspension during a stroke.
#include "App/MainFrm.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <mutex>
#include <new>

#include "App/FotaviApp.h"
#include "App/Resource.h"
#include "Common/CommonFunc.h"
#include "Common/FilePath.h"
#include "Common/FileSelDlg.h"
#include "Common/StringTable.h"
#include "Common/TiryxDialog.h"
#include "Common/TraceLog.h"
#include "Image/ImageHost.h"
#include "Live/AnimeFrame.h"
#include "Live/FullScreenWnd.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Paths.h"
#include "Platform/Time.h"

void CMainFrame::SetLiveRunning(BOOL running) {
  m_bLiveRunning = running;
  UpdateCommandUI();
}

void CMainFrame::ClearLiveFrame() {
  m_pLiveFrame = nullptr;
  m_bLiveRunning = FALSE;
  UpdateCommandUI();
}

void CMainFrame::CloseLiveFrame() {
  if (!m_pLiveFrame) return;
  m_bLiveHeld = FALSE;
  CAnimeFrame* frame = m_pLiveFrame;
  SendMessage(frame->GetSafeHwnd(), WM_CLOSE, 0, 0);
  ClearLiveFrame();
}

void CMainFrame::OnAnimeError(WPARAM stringId) {
  if (!m_pLiveFrame) return;
  CloseLiveFrame();
  FotaviMessageBox(static_cast<UINT>(stringId));
}

BOOL CMainFrame::SuspendLive() {
  if (!m_bLiveRunning || !m_pLiveFrame) return FALSE;
  m_pLiveFrame->SuspendThreads();
  return TRUE;
}

void CMainFrame::ResumeSuspendedLive() {
  if (m_pLiveFrame && m_bLiveRunning) m_pLiveFrame->ResumeThreads();
}

void CMainFrame::HoldLive() {
  if (m_bLiveRunning && m_pLiveFrame) {
    m_bLiveHeld = TRUE;
    m_pLiveFrame->SuspendThreads();
    m_bLiveRunning = FALSE;
  }
  // The panel's keys follow the hold whether it is shown now or later.
  if (m_pRemoteCtrl) m_pRemoteCtrl->setEnabled(false);
  UpdateCommandUI();
}

void CMainFrame::ResumeLive() {
  if (!IsToolWindowOpen()) {
    if (m_bLiveHeld && m_pLiveFrame) {
      m_pLiveFrame->ResumeThreads();
      m_bLiveRunning = TRUE;
    }
    m_bLiveHeld = FALSE;
    if (m_pRemoteCtrl) m_pRemoteCtrl->setEnabled(true);
  }
  activateWindow();
  UpdateCommandUI();
}

BOOL CMainFrame::bPlaySemiAnimetion() {
  SetLiveSize(1024, 768);
  CChildFrame* child = OpenDocument(DOCTEMPLATE_ANIME);
  auto* frame = qobject_cast<CAnimeFrame*>(child);
  if (!frame) {
    delete child;
    TraceLog(TRC_PRE, "CMainFrame::bPlaySemiAnimetion", "The error occurred with the [PlaySemiAnimation()] function.");
    m_bLiveRunning = FALSE;
    return FALSE;
  }
  m_pLiveFrame = frame;
  if (!frame->PlaySemiAnimation()) {
    TraceLog(TRC_PRE, "CMainFrame::bPlaySemiAnimetion", "The error occurred with the [PlaySemiAnimation()] function.");
    m_pLiveFrame = nullptr;
    delete frame;
    m_bLiveRunning = FALSE;
    return FALSE;
  }
  return TRUE;
}

void CMainFrame::OnLiveMonitorSize(int id) {
  const int step = id == ID_LIVE_SIZE25 ? 4 : id == ID_LIVE_SIZE100 ? 1 : 2;
  m_nLiveSizeStep = step;
  if (m_pLiveFrame) m_pLiveFrame->ApplySizeStep(step);
}

void CMainFrame::OnLiveStart() {
  // Start and Stop are the user's word: a hold that is still pending (the
  // draw palette is open) must not change the state when it ends.
  m_bLiveHeld = FALSE;
  if (m_pLiveFrame) {
    m_pLiveFrame->ResumeThreads();
    m_bLiveRunning = TRUE;
  } else {
    m_bLiveRunning = bPlaySemiAnimetion();
  }
}

void CMainFrame::OnLiveStop() {
  m_bLiveHeld = FALSE;
  if (m_pLiveFrame) m_pLiveFrame->SuspendThreads();
  m_bLiveRunning = FALSE;
}

// Command routing (the active document window first) and the update pass
// of the enable and check rules; the caption.
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

CChildFrame* CMainFrame::GetActiveChild() const {
  if (!m_pMdiArea) return nullptr;
  return qobject_cast<CChildFrame*>(m_pMdiArea->currentSubWindow());
}

void CMainFrame::OnCommand(int id) {
  // The active document window sees the command first.
  if (CChildFrame* child = GetActiveChild()) {
    if (child->OnCmdMsg(id)) {
      UpdateCommandUI();
      return;
    }
  }
  switch (id) {
    case ID_FILE_OPENFILE: OnFileOpen(); break;
    case ID_FILE_ALLCLOSE: OnFileAllClose(); break;
    case ID_FILE_CLOSE:
      if (CChildFrame* child = GetActiveChild()) child->close();
      break;
    case ID_APP_EXIT: close(); break;
    case ID_LIVE_SIZE25:
    case ID_LIVE_SIZE50:
    case ID_LIVE_SIZE100: OnLiveMonitorSize(id); break;
    case ID_LIVE_START: OnLiveStart(); break;
    case ID_LIVE_STOP: OnLiveStop(); break;
    case ID_TOOL_STILLCAPTURE: OnStillCapture(); break;
    case ID_TOOL_DRAW: OnToolDraw(); break;
    case ID_TOOL_REMOTECTRL: OnToolRemoteCtrl(); break;
    case ID_TOOL_CONVERT:
    case ID_TOOL_TRANSFER:
    case ID_TOOL_VIEWER:
    case ID_TOOL_SLIDESHOW: OnModalTool(id); break;
    case ID_WINDOW_CASCADE: m_pMdiArea->cascadeSubWindows(); break;
    case ID_WINDOW_TILE_HORZ: m_pMdiArea->tileSubWindows(); break;
    case ID_HELP_FINDER:
      if (m_pApp) m_pApp->OnHelp();
      break;
    case ID_APP_ABOUT:
      if (m_pApp) m_pApp->OnAppAbout();
      break;
    default: break;
  }
  UpdateCommandUI();
}

bool CMainFrame::IsCommandEnabled(int id) const {
  QAction* a = GetAction(id);
  return a && a->isEnabled();
}

bool CMainFrame::IsCommandChecked(int id) const {
  QAction* a = GetAction(id);
  return a && a->isChecked();
}

bool CMainFrame::IsToolWindowOpen() const {
  for (int id : kToolWindowIds) {
    const auto it = m_ToolWindows.find(id);
    if (it != m_ToolWindows.end() && it->second) return true;
  }
  return false;
}

void CMainFrame::UpdateOneCommand(CCmdUI* ui) {
  const bool tools = !IsToolWindowOpen();
  const bool open = m_bDeviceOpen != FALSE;
  switch (ui->id) {
    case ID_FILE_OPENFILE:
    case ID_APP_EXIT:
    case ID_HELP_FINDER:
    case ID_APP_ABOUT:
      ui->Enable(true);
      break;
    case ID_FILE_CLOSE:
    case ID_FILE_ALLCLOSE:
    case ID_WINDOW_CASCADE:
    case ID_WINDOW_TILE_HORZ:
      ui->Enable(GetActiveChild() != nullptr);
      break;
    case ID_LIVE_START:
      ui->Enable(tools && open && !m_bLiveRunning);
      break;
    case ID_LIVE_STOP:
      ui->Enable(tools && m_bLiveRunning);
      break;
    case ID_TOOL_STILLCAPTURE:
      ui->Enable(tools && open);
      break;
    case ID_TOOL_CONVERT:
    case ID_TOOL_TRANSFER:
    case ID_TOOL_VIEWER:
    case ID_TOOL_SLIDESHOW:
      // Only once the tool exists in this program.
      ui->Enable(tools && open && static_cast<bool>(FindToolFactory(ui->id)));
      break;
    case ID_TOOL_REMOTECTRL:
      ui->Enable(m_pRemoteCtrl && open && tools);
      ui->SetCheck(m_pRemoteCtrl && m_pRemoteCtrl->isVisible());
      break;
    case ID_TOOL_DRAW:
      ui->Enable(static_cast<bool>(FindToolFactory(ID_TOOL_DRAW)));
      ui->SetCheck(m_pDrawPalette && m_pDrawPalette->isVisible());
      break;
    case ID_LIVE_SIZE25:
      ui->SetCheck(m_nLiveSizeStep == 4);
      break;
    case ID_LIVE_SIZE100:
      ui->SetCheck(m_nLiveSizeStep == 1);
      break;
    case ID_LIVE_SIZE50:
      ui->SetCheck(m_nLiveSizeStep != 4 && m_nLiveSizeStep != 1);
      break;
    case ID_TOOL_HAND:
    case ID_TOOL_SELECT:
      // Handled by the still-image frames; checked by the current tool.
      ui->Enable(false);
      ui->SetCheck(m_DrawSettings.nCurrentTool == ui->id);
      break;
    default:
      // No handler: disabled.
      ui->Enable(false);
      break;
  }
}

void CMainFrame::UpdateCommandUI() {
  if (m_bDestroyed) return;
  CChildFrame* child = GetActiveChild();
  for (auto& [id, action] : m_Actions) {
    CCmdUI ui;
    ui.id = id;
    if (!child || !child->OnUpdateCmdUI(&ui)) {
      ui = CCmdUI();
      ui.id = id;
      UpdateOneCommand(&ui);
    }
    action->setEnabled(ui.enabled);
    if (action->isCheckable()) action->setChecked(ui.checked);
  }
  if (m_pSlideShowAction)
    m_pSlideShowAction->setText(m_pMdiArea && !m_pMdiArea->subWindowList().isEmpty() ? tr("&Slide Show Settings")
                                                                                      : tr("&Slide Show Setting"));
  UpdateFrameTitle();
}

void CMainFrame::UpdateFrameTitle() {
  // "<program> - <document>" while a document window that is not minimised
  // is active, else the program's title alone.
  std::string title = GetApplicationTitle();
  CChildFrame* child = GetActiveChild();
  if (child && !child->isMinimized() && child->GetDocument() && !child->GetDocument()->GetTitle().empty())
    title += " - " + child->GetDocument()->GetTitle();
  const QString text = QString::fromStdString(title);
  if (windowTitle() != text) setWindowTitle(text);
}

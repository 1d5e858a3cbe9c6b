// Tool windows: the registry of their factories, the draw palette, the
// remote control, the modal tools.
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
#include <QPointer>
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

namespace {
std::map<int, CMainFrame::ToolFactory>& ToolFactories() {
  static std::map<int, CMainFrame::ToolFactory> factories;
  return factories;
}
std::mutex& ToolFactoryLock() {
  static std::mutex lock;
  return lock;
}
}  // namespace

CMainFrame::ToolFactory CMainFrame::FindToolFactory(int id) {
  std::lock_guard<std::mutex> guard(ToolFactoryLock());
  const auto it = ToolFactories().find(id);
  return it == ToolFactories().end() ? CMainFrame::ToolFactory() : it->second;
}

void CMainFrame::RegisterToolFactory(int commandId, ToolFactory factory) {
  std::lock_guard<std::mutex> guard(ToolFactoryLock());
  ToolFactories()[commandId] = std::move(factory);
}

QWidget* CMainFrame::GetKeptTool(int commandId) const {
  const auto it = m_KeptTools.find(commandId);
  return it == m_KeptTools.end() ? nullptr : it->second.data();
}

void CMainFrame::OnRemoteCtrlClosed() {
  if (CFullScreenWnd* full = CFullScreenWnd::FindFullScreenWnd()) full->activateWindow();
  UpdateCommandUI();
}

void CMainFrame::OnToolDraw() {
  if (m_pDrawPalette && m_pDrawPalette->isVisible()) {
    m_pDrawPalette->close();
  } else {
    if (!m_pDrawPalette) {
      if (ToolFactory make = FindToolFactory(ID_TOOL_DRAW)) m_pDrawPalette = make(this);
    }
    if (m_pDrawPalette) m_pDrawPalette->show();
  }
  UpdateCommandUI();
}

void CMainFrame::OnToolRemoteCtrl() {
  if (!m_pRemoteCtrl) return;
  if (m_pRemoteCtrl->isVisible()) {
    m_pRemoteCtrl->hide();
  } else {
    if (m_pRemoteCtrl->isMinimized()) m_pRemoteCtrl->showNormal();
    if (auto* panel = qobject_cast<CTiryxDialog*>(m_pRemoteCtrl.data())) panel->SetTopMost(FALSE);
    m_pRemoteCtrl->show();
  }
  UpdateCommandUI();
}

void CMainFrame::OnModalTool(int id) {
  ToolFactory make = FindToolFactory(id);
  if (!make) return;
  // The factory runs the card check where the tool has one; the live monitor
  // is held only for a tool that has been made, so a missing card never
  // stops it.
  QWidget* tool = make(this);
  if (!tool) return;
  HoldLive();
  m_ToolWindows[id] = tool;
  UpdateCommandUI();
  if (auto* dialog = qobject_cast<QDialog*>(tool)) {
    // The tool itself is not counted as a box: the camera's removal closes
    // it (DeviceGoneCheck) unless a box of its own stands in front of it.
    // The main window may end the tool while it runs (its close deletes
    // the tools): then there is nothing left to do here.
    QPointer<QDialog> running(dialog);
    QPointer<CMainFrame> self(this);
    const int result = dialog->exec();
    if (!self || m_bDestroyed) return;
    m_ToolWindows.erase(id);
    if (!running) {
      UpdateCommandUI();
      return;
    }
    if (GetKeptTool(id) != tool) dialog->deleteLater();
    if (result != QDialog::Accepted && result != QDialog::Rejected) {
      TraceLog(TRC_PRE, "CMainFrame::OnModalTool", "The error occurred with the [DoModal()] function. Return Code[%d]",
               result);
      FotaviMessageBox(IDS_INTERNAL_ERROR);
    }
    // The tool asks for the resume itself when it closes; make sure it comes.
    PostMessage(m_hWnd, WM_RESUME_LIVE, 0, 0);
  } else {
    tool->show();  // modeless (the SD viewer): WM_VIEWER_CLOSED ends it
  }
  UpdateCommandUI();
}

void CMainFrame::SetRemoteCtrlTopMost(bool topMost) {
  if (!m_bDeviceOpen || !m_pRemoteCtrl || !m_pRemoteCtrl->isVisible()) return;
  if (auto* panel = qobject_cast<CTiryxDialog*>(m_pRemoteCtrl.data())) panel->SetTopMost(topMost ? TRUE : FALSE);
}

void CMainFrame::EraseArea() {
  CChildFrame* child = GetActiveChild();
  if (child && child->GetTemplateName() == DOCTEMPLATE_IMAGE) child->EraseArea();
}

void CMainFrame::EraseAll() {
  CChildFrame* child = GetActiveChild();
  if (child && child->GetTemplateName() == DOCTEMPLATE_IMAGE) child->EraseAll();
}

// Documents: templates by name, opening files and pictures in memory.
#include "App/MainFrm.h"

#include <algorithm>

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

CChildFrame* CMainFrame::OpenDocument(const std::string& name) {
  if (!m_pApp) return nullptr;
  CDocTemplate* t = m_pApp->FindTemplate(name);
  return t ? t->OpenDocument(this) : nullptr;
}

void CMainFrame::OnChildFrameCreated(CChildFrame* frame) { m_ChildFrames.push_back(frame); }

void CMainFrame::OnChildFrameDestroyed(CChildFrame* frame) {
  m_ChildFrames.erase(std::remove(m_ChildFrames.begin(), m_ChildFrames.end(), frame), m_ChildFrames.end());
  if (m_pLiveFrame && frame == static_cast<CChildFrame*>(m_pLiveFrame)) ClearLiveFrame();
  if (!m_bDestroyed) QMetaObject::invokeMethod(this, [this] { UpdateCommandUI(); }, Qt::QueuedConnection);
}

BOOL CMainFrame::FileOpen(const std::string& path) {
  static const char* const kLog = "CMainFrame::FileOpen";
  const std::string ext = QString::fromStdString(CFilePath(path).GetExt()).toUpper().toStdString();
  if (ext != ".JPG" && ext != ".BMP") {
    TraceLog(TRC_PRE, kLog, "Open Invalid Extension File.");
    FotaviMessageBox(IDS_OPEN_ERROR);
    return FALSE;
  }
  CChildFrame* frame = OpenDocument(DOCTEMPLATE_IMAGE);
  if (!frame || !frame->LoadFile(path, ext == ".BMP")) {
    TraceLog(TRC_PRE, kLog, "Open inaccurate file.");
    if (frame) {
      if (frame->GetDocument()) frame->GetDocument()->SetModifiedFlag(false);
      delete frame;
    }
    FotaviMessageBox(IDS_OPEN_ERROR);
    return FALSE;
  }
  SendMessage(frame->GetSafeHwnd(), WM_UPDATE_TITLE, 0, 0);
  frame->show();
  return TRUE;
}

BOOL CMainFrame::FileOpen(const std::string& name, const BYTE* data, DWORD size) {
  CChildFrame* frame = OpenDocument(DOCTEMPLATE_IMAGE);
  if (!frame) {
    TraceLog(TRC_PRE, "CMainFrame::FileOpen", "The error occurred with the [LoadPicture()] function.");
    FotaviMessageBox(IDS_OPEN_ERROR);
    return FALSE;
  }
  if (!frame->LoadFromMemory(data, size)) {
    if (frame->GetDocument()) frame->GetDocument()->SetModifiedFlag(false);
    TraceLog(TRC_PRE, "CMainFrame::FileOpen", "The error occurred with the [LoadPicture()] function.");
    FotaviMessageBox(IDS_OPEN_ERROR);
    PostMessage(frame->GetSafeHwnd(), WM_CLOSE, 0, 0);
    return FALSE;
  }
  if (CFotaviDoc* doc = frame->GetDocument()) {
    doc->SetName(name);
    doc->SetTitle(name);
  }
  SendMessage(frame->GetSafeHwnd(), WM_UPDATE_TITLE, 0, 0);
  frame->show();
  m_pMdiArea->setActiveSubWindow(frame);
  return TRUE;
}

void CMainFrame::OnFileOpen() {
  static const char* const kLog = "CMainFrame::OnFileOpen";
  CRegOperation reg;
  std::string folder = reg.GetProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE,
                                            "InputFolder", "");
  if (folder.empty() || !IsPathExist(folder)) folder = GetMyDocumentsPath();
  CFileSelDlg dialog(true, "", "", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                     "JPEG (*.jpg)|*.jpg|BMP (*.bmp)|*.bmp||", m_hWnd);
  CControlDialog* counter = m_pApp ? m_pApp->GetControlDialog() : nullptr;
  // The box answers later, by a call back; the frame may have gone by then.
  QPointer<CMainFrame> self(this);
  const std::string none;
  dialog.Open(nullptr, folder.c_str(), &none, 256, counter, [self](int result, const std::string& path) {
    if (!self || self->m_bDestroyed || result == IDCANCEL) return;
    if (result != IDOK) {
      TraceLog(TRC_PRE, kLog, "The error occurred with the [DoModal()] function. Return Code[%d]", result);
      FotaviMessageBox(IDS_INTERNAL_ERROR);
      return;
    }
    if (self->FileOpen(path)) {
      CRegOperation().WriteProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, "InputFolder",
                                         CFilePath(path).GetFolder());
    } else {
      TraceLog(TRC_PRE, kLog, "The error occurred with the [FileOpen()] function.");
    }
  });
}

void CMainFrame::OnFileAllClose() {
  // Closes the active document window, then the next active one, front to back.
  const int count = static_cast<int>(m_pMdiArea->subWindowList().size());
  for (int i = 0; i < count; ++i) {
    QMdiSubWindow* active = m_pMdiArea->currentSubWindow();
    if (!active) active = m_pMdiArea->activeSubWindow();
    if (!active || !active->close()) break;
  }
}

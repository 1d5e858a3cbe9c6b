// The camera: open and close, arrival and removal, still capture.
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

BOOL CMainFrame::bDeviceOpen() {
  CDeviceInterface* device = GetDevice();
  if (!device || !device->bIsConnected()) return FALSE;
  DWORD error = 0;
  if (device->bOpen(m_hWnd, &error)) {
    m_bDeviceOpen = TRUE;
    return TRUE;
  }
  if (error == ERR_FOTAVI_ALREADYOPEN) {
    m_bDeviceOpen = TRUE;
    return TRUE;
  }
  m_bDeviceOpen = FALSE;
  if (error == ERR_FOTAVI_NODEVICE || error == ERR_FOTAVI_ALREADYUSE) return FALSE;
  TraceLog(TRC_PRE, "CMainFrame::bDeviceOpen",
           "The error occurred with the [bOpen] function of Device control. Detailed Error Code[0x%08X]", error);
  FotaviMessageBox(IDS_INTERNAL_ERROR);
  return FALSE;
}

BOOL CMainFrame::bDeviceClose() {
  CDeviceInterface* device = GetDevice();
  if (!device || !m_bDeviceOpen) return FALSE;
  DWORD error = 0;
  if (device->bClose(&error)) {
    m_bDeviceOpen = FALSE;
    return TRUE;
  }
  TraceLog(TRC_PRE, "CMainFrame::bDeviceClose",
           "The error occurred with the [bClose] function of Device control. Detailed Error Code[0x%08X]", error);
  return FALSE;
}

void CMainFrame::OnDeviceState(WPARAM state) {
  if (state == FOTAVI_DEVICE_GONE) {
    if (!m_bDeviceOpen) return;
    m_bDeviceOpen = FALSE;
    SetStatusText(LoadStringText(IDS_NO_DEVICE));
    CloseLiveFrame();
    DeviceGoneCheck();
  } else if (state == FOTAVI_DEVICE_PRESENT) {
    if (m_bDeviceOpen) return;
    if (bDeviceOpen()) SetStatusText(LoadStringText(IDS_READY));
  }
  UpdateCommandUI();
}

void CMainFrame::DeviceGoneCheck() {
  CControlDialog* counter = m_pApp ? m_pApp->GetControlDialog() : nullptr;
  if (counter && counter->GetModalCount() > 0) return;
  CDeviceInterface* device = GetDevice();
  if (device && device->bIsConnected()) return;
  // No box stands in front of the tools any more: close them.
  for (int id : kToolWindowIds) {
    const auto it = m_ToolWindows.find(id);
    if (it == m_ToolWindows.end() || !it->second) continue;
    if (id == ID_TOOL_VIEWER) {
      // Destroyed and forgotten: a viewer that reads would only stop its
      // reading on a close and stay. Its read in flight is handed back when
      // it comes.
      QWidget* viewer = it->second.data();
      m_ToolWindows.erase(it);
      viewer->deleteLater();
    } else {
      it->second->close();
    }
  }
  if (m_pRemoteCtrl && m_pRemoteCtrl->isVisible()) {
    if (auto* panel = qobject_cast<CTiryxDialog*>(m_pRemoteCtrl.data())) panel->SetTopMost(FALSE);
    m_pRemoteCtrl->close();
  }
}

BOOL CMainFrame::GetJpegData(const std::function<BOOL(const BYTE*, DWORD)>& load) {
  static const char* const kLog = "CMainFrame::GetJpegData";
  CDeviceInterface* device = GetDevice();
  if (!device) return FALSE;
  const DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  HGLOBAL data = nullptr;
  DWORD size = 0;
  bool ok = false;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    DWORD error = 0;
    data = nullptr;
    size = 0;
    if (device->bRequest(&cmd, &data, &size, &error)) {
      ok = true;
      break;
    }
    TraceLog(TRC_PRE, kLog,
             "The error occurred with the [bRequest] function of Device control. Detailed Error Code[0x%08X] "
             "ErrorCount = %d",
             error, attempt);
    if (data) {
      GlobalFree(data);
      data = nullptr;
    }
    if (attempt == 3) break;
    if (!device->bIsConnected()) {
      TraceLog(TRC_PRE, kLog, "Because the device was a unconnection, retrying was discontinued.");
      break;
    }
    Sleep(100);
  }
  if (!ok) {
    FotaviMessageBox(IDS_STILL_ERROR);
    return FALSE;
  }
  if (!data || size == 0) {
    if (data) GlobalFree(data);
    return FALSE;
  }
  const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(data));
  const DWORD length = static_cast<DWORD>(std::min<size_t>(size, GlobalSize(data)));
  const BOOL loaded = bytes ? load(bytes, length) : FALSE;
  GlobalUnlock(data);
  GlobalFree(data);
  if (!loaded) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [LoadPicture()] function.");
    FotaviMessageBox(IDS_STILL_ERROR);
    return FALSE;
  }
  return TRUE;
}

BOOL CMainFrame::GetJpegData(CChildFrame* frame) {
  if (!frame) return FALSE;
  return GetJpegData([frame](const BYTE* data, DWORD size) { return frame->LoadFromMemory(data, size); });
}

void CMainFrame::OnStillCapture() {
  CChildFrame* frame = OpenDocument(DOCTEMPLATE_IMAGE);
  if (!frame) {
    TraceLog(TRC_PRE, "CMainFrame::OnStillCapture", "The error occurred with the [OpenDocumentFile()] function.");
    FotaviMessageBox(IDS_STILL_ERROR);
    return;
  }
  if (GetJpegData(frame)) {
    ++m_nUntitledCount;
    SendMessage(frame->GetSafeHwnd(), WM_UPDATE_TITLE, 0, 0);
    frame->show();
  } else {
    if (frame->GetDocument()) frame->GetDocument()->SetModifiedFlag(false);
    PostMessage(frame->GetSafeHwnd(), WM_CLOSE, 0, 0);
  }
}

// The main frame: creation, platform messages, first view data, placement
// of new document windows, closing.
#include "App/MainFrm.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
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
#include "App/Icons.h"
#include "App/Resource.h"
#include "Card/CardFolders.h"
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

CMainFrame::CMainFrame(CFotaviApp* app) : QMainWindow(nullptr), m_pApp(app) {
  setWindowTitle(QString::fromStdString(GetApplicationTitle()));
  setWindowIcon(ProgramIcon());
  resize(1024, 768);
}

CMainFrame::~CMainFrame() {
  OnDestroy();
  if (m_hWnd) DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
}

void CMainFrame::FitToLiveMonitor() {
  // Large enough for the live monitor at 1/1 (1024 x 768 and its frame, with
  // the cascade margin), where the screen allows; never below 1024 x 768.
  const CFrameMetrics m = DocumentFrameMetrics();
  const int bars = menuBar()->sizeHint().height() + (m_pToolBar ? m_pToolBar->sizeHint().height() : 0) +
                   statusBar()->sizeHint().height();
  QSize wanted(1024 + 2 * m.frameWidth + 20, 768 + m.captionHeight + m.frameWidth + 20 + bars);
  wanted = wanted.expandedTo(QSize(1024, 768));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    // Room for the window manager's frame around the main window.
    const QSize room = screen->availableGeometry().size() - QSize(16, 48);
    wanted = wanted.boundedTo(room.expandedTo(QSize(640, 480)));
  }
  resize(wanted);
}

CDeviceInterface* CMainFrame::GetDevice() const { return m_pApp ? m_pApp->GetDevice() : nullptr; }

BOOL CMainFrame::LoadFrame() {
  static const char* const kLog = "CMainFrame::OnCreate";
  m_hWnd = CreateWindowTarget(
      [this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT { return WindowProc(msg, wParam, lParam); },
      "__FOTAVI_CLASSNAME__");
  if (!m_hWnd) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [OnCreate()] function.");
    return FALSE;
  }
  m_pMdiArea = new QMdiArea(this);
  m_pMdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_pMdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(m_pMdiArea);
  connect(m_pMdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow*) { UpdateCommandUI(); });

  CreateActions();
  CreateMenus();
  CreateToolBar();
  m_pStatusPane = new QLabel(this);
  m_pStatusPane->setFrameShape(QFrame::NoFrame);
  statusBar()->addWidget(m_pStatusPane, 1);
  FitToLiveMonitor();

  PostMessage(m_hWnd, WM_SETFIRSTVIEWDATA, 0, 0);
  if (CDeviceInterface* device = GetDevice()) device->bSetNotifyWindow(m_hWnd);
  if (bDeviceOpen()) {
    SetStatusText(LoadStringText(IDS_READY));
  } else {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [bDeviceOpen()] function.");
    SetStatusText(LoadStringText(IDS_NO_DEVICE));
  }
  if (m_pApp && m_pApp->GetControlDialog()) m_pApp->GetControlDialog()->SetNotifyWnd(m_hWnd);
  UpdateCommandUI();
  // Tool windows closed by their own close box change the check marks:
  // refresh the toolbar now and then, as an idle pass would.
  auto* idle = new QTimer(this);
  connect(idle, &QTimer::timeout, this, &CMainFrame::UpdateCommandUI);
  idle->start(300);
  return TRUE;
}

void CMainFrame::SetStatusText(const std::string& text) {
  m_strStatus = text;
  if (m_pStatusPane) m_pStatusPane->setText(QString::fromStdString(text));
}

std::string CMainFrame::GetWorkFolder() { return GetCardWorkFolder(); }

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_FOTAVI_DEVICESTATE: OnDeviceState(wParam); break;
    case WM_CONTROLDIALOG_END: DeviceGoneCheck(); UpdateCommandUI(); break;
    case WM_SETFIRSTVIEWDATA: OnSetFirstViewData(); break;
    case WM_RESUME_LIVE: ResumeLive(); break;
    case WM_ANIME_ERROR: OnAnimeError(wParam); break;
    case WM_REMOTECTRL_CLOSED: OnRemoteCtrlClosed(); break;
    case WM_VIEWER_CLOSED: {
      auto it = m_ToolWindows.find(ID_TOOL_VIEWER);
      if (it != m_ToolWindows.end() && it->second) it->second->deleteLater();
      m_ToolWindows.erase(ID_TOOL_VIEWER);
      UpdateCommandUI();
      break;
    }
    case WM_CLOSE: close(); break;
    default: break;
  }
  return 0;
}

void CMainFrame::OnSetFirstViewData() {
  CTiryxDialog* panel = nullptr;
  try {
    panel = new CTiryxDialog(GetDevice(), this);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, "CMainFrame::OnSetFirstViewData", "new CTiryxDialog");
    FotaviMessageBox(IDS_NO_RESOURCE);
    panel = nullptr;
  }
  if (panel && !panel->Create(m_hWnd)) {
    delete panel;
    panel = nullptr;
    TraceLog(TRC_PRE, "CMainFrame::InitRemoteCtrl", "The error occurred with the [Create()] function.");
    FotaviMessageBox(IDS_INTERNAL_ERROR);
  }
  if (!panel) {
    TraceLog(TRC_PRE, "CMainFrame::OnSetFirstViewData", "The error occurred with the [InitRemoteCtrl()] function.");
    return;
  }
  m_pRemoteCtrl = panel;
  activateWindow();
  UpdateCommandUI();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // Every document window gets its say first (a still picture may ask to save).
  if (m_pMdiArea) {
    for (QMdiSubWindow* w : m_pMdiArea->subWindowList()) {
      if (!w->close()) {
        event->ignore();
        return;
      }
    }
  }
  // A tool with work under way (a card read in flight) stops it first; the
  // close comes again when it has.
  if (StopToolsBeforeClose()) {
    event->ignore();
    return;
  }
  event->accept();
  QMainWindow::closeEvent(event);
  OnDestroy();
}

bool CMainFrame::StopToolsBeforeClose() {
  for (auto& entry : m_ToolWindows) {
    auto* tool = dynamic_cast<IToolWindow*>(entry.second.data());
    QPointer<CMainFrame> self(this);
    if (tool && tool->StopBeforeClose([self] {
          if (self) self->close();
        }))
      return true;
  }
  return false;
}

void CMainFrame::OnDestroy() {
  if (m_bDestroyed) return;
  m_bDestroyed = true;
  if (m_pLiveFrame) CloseLiveFrame();
  // Every document window ends here, while this frame is whole: those still
  // listed by the MDI area and those closed (the live frame's close, All
  // Close, the main window's close) whose delete is still deferred.
  while (!m_ChildFrames.empty()) {
    CChildFrame* frame = m_ChildFrames.back();
    m_ChildFrames.pop_back();
    delete frame;
  }
  // The tools are taken out of m_ToolWindows first, each checked again just
  // before it goes (a tool's destructor may post to this frame).
  std::map<int, QPointer<QWidget>> tools;
  tools.swap(m_ToolWindows);
  for (auto& entry : tools)
    if (QWidget* tool = entry.second.data()) delete tool;
  // Then the kept ones (one that was open is gone already).
  std::map<int, QPointer<QWidget>> kept;
  kept.swap(m_KeptTools);
  for (auto& entry : kept)
    if (QWidget* tool = entry.second.data()) delete tool;
  if (m_pRemoteCtrl) delete m_pRemoteCtrl.data();
  if (m_pDrawPalette) delete m_pDrawPalette.data();
  bDeviceClose();
  if (CDeviceInterface* device = GetDevice()) device->bSetNotifyWindow(nullptr);
  if (m_pApp && m_pApp->GetControlDialog()) m_pApp->GetControlDialog()->SetNotifyWnd(nullptr);
  const std::string work = GetWorkFolder();
  if (!work.empty()) DeleteFolder(work);
}

void CMainFrame::SetImageHost(std::unique_ptr<CImageHost> host) { m_pImageHost = std::move(host); }

void CMainFrame::SetCurrentTool(int tool) {
  m_DrawSettings.nCurrentTool = tool;
  if (QAction* a = GetAction(ID_TOOL_HAND)) a->setChecked(tool == ID_TOOL_HAND);
  if (QAction* a = GetAction(ID_TOOL_SELECT)) a->setChecked(tool == ID_TOOL_SELECT);
}

QPoint CMainFrame::CascadeOffset() {
  const CFrameMetrics m = DocumentFrameMetrics();
  return QPoint(m.frameWidth + m.captionHeight, m.frameWidth + m.captionHeight);
}

void CMainFrame::AdvanceNextChildPos() { m_NextChildPos += CascadeOffset(); }

QPoint CMainFrame::GrantChildPosition(const QSize& outer) {
  const QSize area = m_pMdiArea ? m_pMdiArea->viewport()->size() : size();
  if (m_NextChildPos.x() + outer.width() + 20 <= area.width() &&
      m_NextChildPos.y() + outer.height() + 20 <= area.height())
    return m_NextChildPos;
  m_NextChildPos = QPoint(0, 0);
  return QPoint(0, 0);
}

double CMainFrame::GetNewPictureZoom() const {
  if (!m_pLiveFrame) return m_dFittedZoom;
  if (m_nLiveSizeStep == 1) return 1.0;
  if (m_nLiveSizeStep == 4) return 0.25;
  return 0.5;
}

void CMainFrame::OnSize() {
  // The largest of 1, 1/2, 1/4 at which a 1024 x 768 picture fits the client area.
  const QSize area = m_pMdiArea ? m_pMdiArea->size() : size();
  const CFrameMetrics m = DocumentFrameMetrics();
  m_dFittedZoom = 0.25;
  for (double s : {1.0, 0.5, 0.25}) {
    if (2 * m.frameWidth + s * 1024 + 20 <= area.width() &&
        m.captionHeight + 2 * m.frameWidth + s * 768 + 20 < area.height()) {
      m_dFittedZoom = s;
      break;
    }
  }
  m_NextChildPos = QPoint(0, 0);
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  OnSize();
}

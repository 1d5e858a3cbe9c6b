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
#include <QPainter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

#include <mutex>
#include <new>

#include "Live/AnimeFrame.h"
#include "Common/CommonFunc.h"
#include "Common/FilePath.h"
#include "Common/StringTable.h"
#include "Common/TraceLog.h"
#include "App/FotaviApp.h"
#include "Live/FullScreenWnd.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Paths.h"
#include "Platform/Time.h"
#include "App/Resource.h"

#include "Common/FileSelDlg.h"
#include "Common/TiryxDialog.h"

namespace {

std::map<int, CMainFrame::ToolFactory>& ToolFactories() {
  static std::map<int, CMainFrame::ToolFactory> factories;
  return factories;
}
std::mutex& ToolFactoryLock() {
  static std::mutex lock;
  return lock;
}
CMainFrame::ToolFactory FindToolFactory(int id) {
  std::lock_guard<std::mutex> guard(ToolFactoryLock());
  const auto it = ToolFactories().find(id);
  return it == ToolFactories().end() ? CMainFrame::ToolFactory() : it->second;
}

// Frame metrics in place of the system's (frame border, caption height).
constexpr int kFrameWidth = 4;
constexpr int kCaptionHeight = 20;

// Tool windows whose being open blocks the device commands.
constexpr int kToolWindowIds[] = {ID_TOOL_SLIDESHOW, ID_TOOL_VIEWER, ID_TOOL_CONVERT, ID_TOOL_TRANSFER};

QIcon MakeTextIcon(const QString& text) {
  QPixmap pm(16, 15);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  QFont f = p.font();
  f.setPixelSize(9);
  f.setBold(true);
  p.setFont(f);
  p.drawText(pm.rect(), Qt::AlignCenter, text);
  return QIcon(pm);
}

}  // namespace

void CMainFrame::RegisterToolFactory(int commandId, ToolFactory factory) {
  std::lock_guard<std::mutex> guard(ToolFactoryLock());
  ToolFactories()[commandId] = std::move(factory);
}

std::string CMainFrame::GetWorkFolder() {
  const std::string base = GetPrivateWorkFolder();
  if (base.empty()) return {};
  return AddBackslash(base) + "FotaviK27_Cache";
}

CMainFrame::CMainFrame(CFotaviApp* app) : QMainWindow(nullptr), m_pApp(app) {
  setWindowTitle(QString::fromStdString(GetApplicationTitle()));
  resize(1024, 768);
}

CMainFrame::~CMainFrame() {
  OnDestroy();
  if (m_hWnd) DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
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

// ------------------------------------------------------------ menus and bars

QAction* CMainFrame::AddAction(int id, const QString& text, const QString& tip) {
  auto* action = new QAction(text, this);
  action->setData(id);
  if (!tip.isEmpty()) {
    action->setToolTip(tip);
    action->setStatusTip(tip);
  }
  connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
  m_Actions[id] = action;
  return action;
}

void CMainFrame::CreateActions() {
  AddAction(ID_FILE_OPENFILE, tr("&Open...\tCtrl+O"), tr("Open"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  AddAction(ID_FILE_CLOSE, tr("&Close"));
  AddAction(ID_FILE_ALLCLOSE, tr("A&ll Close"));
  AddAction(ID_FILE_SAVEFILE, tr("&Save\tCtrl+S"), tr("Save"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  AddAction(ID_FILE_SAVEAS, tr("S&ave AS..."));
  AddAction(ID_APP_EXIT, tr("E&xit"));
  AddAction(ID_ROTATE_180, QString::fromUtf8("&180°"));
  AddAction(ID_ROTATE_90CW, QString::fromUtf8("&90°CW"), QString::fromUtf8("90°CW"));
  AddAction(ID_ROTATE_90CCW, QString::fromUtf8("9&0°CCW"), QString::fromUtf8("90°CCW"));
  AddAction(ID_VIEW_FULLSCREEN, tr("&Full Screen"), tr("Full Screen"));
  AddAction(ID_VIEW_ZOOMIN, tr("Zoom &In"), tr("Zoom In"));
  AddAction(ID_VIEW_ZOOMOUT, tr("Zoom &Out"), tr("Zoom Out"));
  AddAction(ID_VIEW_BESTFIT, tr("&Best Fit"));
  AddAction(ID_VIEW_ACTUALSIZE, tr("&Actual Size"));
  AddAction(ID_VIEW_ZOOMSELECT, tr("Zoom To Selected A&rea"));
  auto* sizes = new QActionGroup(this);
  for (auto [id, text] : {std::pair{ID_LIVE_SIZE25, "&1 25%"}, std::pair{ID_LIVE_SIZE50, "&2 50%"},
                          std::pair{ID_LIVE_SIZE100, "&3 100%"}}) {
    QAction* a = AddAction(id, tr(text));
    a->setCheckable(true);
    sizes->addAction(a);
  }
  AddAction(ID_TOOL_STILLCAPTURE, tr("Still Ca&pture"), tr("Still Capture"));
  AddAction(ID_TOOL_CONVERT, tr("&File Conversion"));
  AddAction(ID_TOOL_TRANSFER, tr("File &Transfer To SD"));
  AddAction(ID_TOOL_VIEWER, tr("SD &Viewer"));
  AddAction(ID_TOOL_DRAW, tr("&Draw"), tr("Draw"))->setCheckable(true);
  AddAction(ID_TOOL_REMOTECTRL, tr("Re&mote Control"), tr("Remote Control"))->setCheckable(true);
  m_pSlideShowAction = AddAction(ID_TOOL_SLIDESHOW, tr("&Slide Show Setting"));
  AddAction(ID_WINDOW_CASCADE, tr("&Cascade"));
  AddAction(ID_WINDOW_TILE_HORZ, tr("&Tile"));
  AddAction(ID_HELP_FINDER, tr("&Help"));
  AddAction(ID_APP_ABOUT, tr("&About"));
  AddAction(ID_LIVE_STOP, tr("Stop"), tr("Stop"));
  AddAction(ID_LIVE_START, tr("Start"), tr("Start"));
  AddAction(ID_TOOL_HAND, tr("Hand Tool"), tr("Hand Tool"))->setCheckable(true);
  AddAction(ID_TOOL_SELECT, tr("Rectangle selection"), tr("Rectangle selection"))->setCheckable(true);
}

void CMainFrame::CreateMenus() {
  auto hook = [this](QMenu* menu) { connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI); };
  QMenu* file = menuBar()->addMenu(tr("&File"));
  hook(file);
  file->addAction(m_Actions[ID_FILE_OPENFILE]);
  file->addAction(m_Actions[ID_FILE_CLOSE]);
  file->addAction(m_Actions[ID_FILE_ALLCLOSE]);
  file->addSeparator();
  file->addAction(m_Actions[ID_FILE_SAVEFILE]);
  file->addAction(m_Actions[ID_FILE_SAVEAS]);
  file->addSeparator();
  file->addAction(m_Actions[ID_APP_EXIT]);
  QMenu* rotation = menuBar()->addMenu(tr("Rotat&ion"));
  hook(rotation);
  rotation->addAction(m_Actions[ID_ROTATE_180]);
  rotation->addAction(m_Actions[ID_ROTATE_90CW]);
  rotation->addAction(m_Actions[ID_ROTATE_90CCW]);
  QMenu* view = menuBar()->addMenu(tr("&View"));
  hook(view);
  view->addAction(m_Actions[ID_VIEW_FULLSCREEN]);
  view->addSeparator();
  for (int id : {ID_VIEW_ZOOMIN, ID_VIEW_ZOOMOUT, ID_VIEW_BESTFIT, ID_VIEW_ACTUALSIZE, ID_VIEW_ZOOMSELECT})
    view->addAction(m_Actions[id]);
  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  hook(tools);
  QMenu* live = tools->addMenu(tr("&Live Monitor"));
  hook(live);
  for (int id : {ID_LIVE_SIZE25, ID_LIVE_SIZE50, ID_LIVE_SIZE100}) live->addAction(m_Actions[id]);
  tools->addAction(m_Actions[ID_TOOL_STILLCAPTURE]);
  tools->addSeparator();
  for (int id : {ID_TOOL_CONVERT, ID_TOOL_TRANSFER, ID_TOOL_VIEWER}) tools->addAction(m_Actions[id]);
  tools->addSeparator();
  tools->addAction(m_Actions[ID_TOOL_DRAW]);
  tools->addSeparator();
  tools->addAction(m_Actions[ID_TOOL_REMOTECTRL]);
  tools->addSeparator();
  tools->addAction(m_Actions[ID_TOOL_SLIDESHOW]);
  m_pWindowMenu = menuBar()->addMenu(tr("&Window"));
  connect(m_pWindowMenu, &QMenu::aboutToShow, this, [this] {
    // Cascade, Tile, then one item per document window.
    m_pWindowMenu->clear();
    m_pWindowMenu->addAction(m_Actions[ID_WINDOW_CASCADE]);
    m_pWindowMenu->addAction(m_Actions[ID_WINDOW_TILE_HORZ]);
    const auto windows = m_pMdiArea->subWindowList();
    if (!windows.isEmpty()) m_pWindowMenu->addSeparator();
    int n = 1;
    for (QMdiSubWindow* w : windows) {
      QAction* a = m_pWindowMenu->addAction(QStringLiteral("&%1 %2").arg(n++).arg(w->windowTitle()));
      a->setCheckable(true);
      a->setChecked(w == m_pMdiArea->currentSubWindow());
      connect(a, &QAction::triggered, this, [this, w] { m_pMdiArea->setActiveSubWindow(w); });
    }
    UpdateCommandUI();
  });
  m_pWindowMenu->addAction(m_Actions[ID_WINDOW_CASCADE]);
  m_pWindowMenu->addAction(m_Actions[ID_WINDOW_TILE_HORZ]);
  QMenu* help = menuBar()->addMenu(tr("&Help"));
  hook(help);
  help->addAction(m_Actions[ID_HELP_FINDER]);
  help->addAction(m_Actions[ID_APP_ABOUT]);
}

void CMainFrame::CreateToolBar() {
  m_pToolBar = new QToolBar(tr("Standard"), this);
  m_pToolBar->setObjectName(QStringLiteral("toolbar128"));
  m_pToolBar->setIconSize(QSize(16, 15));
  addToolBar(Qt::TopToolBarArea, m_pToolBar);
  QStyle* st = style();
  m_Actions[ID_FILE_OPENFILE]->setIcon(st->standardIcon(QStyle::SP_DialogOpenButton));
  m_Actions[ID_FILE_SAVEFILE]->setIcon(st->standardIcon(QStyle::SP_DialogSaveButton));
  m_Actions[ID_VIEW_FULLSCREEN]->setIcon(st->standardIcon(QStyle::SP_TitleBarMaxButton));
  m_Actions[ID_TOOL_HAND]->setIcon(MakeTextIcon(QStringLiteral("H")));
  m_Actions[ID_TOOL_SELECT]->setIcon(MakeTextIcon(QStringLiteral("[ ]")));
  m_Actions[ID_ROTATE_90CCW]->setIcon(MakeTextIcon(QStringLiteral("\u21BA")));
  m_Actions[ID_ROTATE_90CW]->setIcon(MakeTextIcon(QStringLiteral("\u21BB")));
  m_Actions[ID_VIEW_ZOOMIN]->setIcon(MakeTextIcon(QStringLiteral("+")));
  m_Actions[ID_VIEW_ZOOMOUT]->setIcon(MakeTextIcon(QStringLiteral("-")));
  m_Actions[ID_LIVE_STOP]->setIcon(st->standardIcon(QStyle::SP_MediaStop));
  m_Actions[ID_LIVE_START]->setIcon(st->standardIcon(QStyle::SP_MediaPlay));
  m_Actions[ID_TOOL_STILLCAPTURE]->setIcon(MakeTextIcon(QStringLiteral("SC")));
  m_Actions[ID_TOOL_DRAW]->setIcon(MakeTextIcon(QStringLiteral("D")));
  m_Actions[ID_TOOL_REMOTECTRL]->setIcon(MakeTextIcon(QStringLiteral("RC")));
  const int layout[] = {ID_FILE_OPENFILE, ID_FILE_SAVEFILE, 0, ID_VIEW_FULLSCREEN, 0, ID_TOOL_HAND,
                        ID_TOOL_SELECT, 0, ID_ROTATE_90CCW, ID_ROTATE_90CW, 0, ID_VIEW_ZOOMIN,
                        ID_VIEW_ZOOMOUT, 0, ID_LIVE_STOP, ID_LIVE_START, 0, ID_TOOL_STILLCAPTURE,
                        ID_TOOL_DRAW, ID_TOOL_REMOTECTRL};
  for (int id : layout) {
    if (id == 0) m_pToolBar->addSeparator();
    else m_pToolBar->addAction(m_Actions[id]);
  }
}

QAction* CMainFrame::GetAction(int id) const {
  const auto it = m_Actions.find(id);
  return it == m_Actions.end() ? nullptr : it->second;
}

bool CMainFrame::IsCommandEnabled(int id) const {
  QAction* a = GetAction(id);
  return a && a->isEnabled();
}

bool CMainFrame::IsCommandChecked(int id) const {
  QAction* a = GetAction(id);
  return a && a->isChecked();
}

void CMainFrame::SetStatusText(const std::string& text) {
  m_strStatus = text;
  if (m_pStatusPane) m_pStatusPane->setText(QString::fromStdString(text));
}

// ------------------------------------------------------------ command routing

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

bool CMainFrame::IsToolWindowOpen() const {
  for (int id : kToolWindowIds) {
    const auto it = m_ModalTools.find(id);
    if (it != m_ModalTools.end() && it->second) return true;
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
      ui->SetCheck(m_nCurrentTool == ui->id);
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

// ------------------------------------------------------------ drawing settings

void CMainFrame::SetCurrentTool(int tool) {
  m_nCurrentTool = tool;
  if (QAction* a = GetAction(ID_TOOL_HAND)) a->setChecked(tool == ID_TOOL_HAND);
  if (QAction* a = GetAction(ID_TOOL_SELECT)) a->setChecked(tool == ID_TOOL_SELECT);
}

void CMainFrame::SetLiveRunning(BOOL running) {
  m_bLiveRunning = running;
  UpdateCommandUI();
}

void CMainFrame::ClearLiveFrame() {
  m_pLiveFrame = nullptr;
  m_bLiveRunning = FALSE;
  UpdateCommandUI();
}

QPoint CMainFrame::CascadeOffset() { return QPoint(kFrameWidth + kCaptionHeight, kFrameWidth + kCaptionHeight); }

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
  m_dFittedZoom = 0.25;
  for (double s : {1.0, 0.5, 0.25}) {
    if (2 * kFrameWidth + s * 1024 + 20 <= area.width() &&
        kCaptionHeight + 2 * kFrameWidth + s * 768 + 20 < area.height()) {
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

// ------------------------------------------------------------ device

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

void CMainFrame::CloseLiveFrame() {
  if (!m_pLiveFrame) return;
  m_bLiveHeld = FALSE;
  CAnimeFrame* frame = m_pLiveFrame;
  SendMessage(frame->GetSafeHwnd(), WM_CLOSE, 0, 0);
  ClearLiveFrame();
}

void CMainFrame::DeviceGoneCheck() {
  CControlDialog* counter = m_pApp ? m_pApp->GetControlDialog() : nullptr;
  if (counter && counter->GetModalCount() > 0) return;
  CDeviceInterface* device = GetDevice();
  if (device && device->bIsConnected()) return;
  // No box stands in front of the tools any more: close them.
  for (int id : kToolWindowIds) {
    const auto it = m_ModalTools.find(id);
    if (it != m_ModalTools.end() && it->second) it->second->close();
  }
  if (m_pRemoteCtrl && m_pRemoteCtrl->isVisible()) {
    if (auto* panel = qobject_cast<CTiryxDialog*>(m_pRemoteCtrl.data())) panel->SetTopMost(FALSE);
    m_pRemoteCtrl->close();
  }
}

// ------------------------------------------------------------ platform messages

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_FOTAVI_DEVICESTATE: OnDeviceState(wParam); break;
    case WM_CONTROLDIALOG_END: DeviceGoneCheck(); UpdateCommandUI(); break;
    case WM_SETFIRSTVIEWDATA: OnSetFirstViewData(); break;
    case WM_RESUME_LIVE: ResumeLive(); break;
    case WM_ANIME_ERROR: OnAnimeError(wParam); break;
    case WM_REMOTECTRL_CLOSED: OnRemoteCtrlClosed(); break;
    case WM_VIEWER_CLOSED: {
      auto it = m_ModalTools.find(ID_TOOL_VIEWER);
      if (it != m_ModalTools.end() && it->second) it->second->deleteLater();
      m_ModalTools.erase(ID_TOOL_VIEWER);
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

void CMainFrame::OnAnimeError(WPARAM stringId) {
  if (!m_pLiveFrame) return;
  CloseLiveFrame();
  FotaviMessageBox(static_cast<UINT>(stringId));
}

void CMainFrame::OnRemoteCtrlClosed() {
  if (CFullScreenWnd* full = CFullScreenWnd::FindFullScreenWnd()) full->activateWindow();
  UpdateCommandUI();
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

// ------------------------------------------------------------ documents

CChildFrame* CMainFrame::OpenDocument(const std::string& name) {
  if (!m_pApp) return nullptr;
  CDocTemplate* t = m_pApp->FindTemplate(name);
  return t ? t->OpenDocument(this) : nullptr;
}

void CMainFrame::OnChildFrameDestroyed(CChildFrame* frame) {
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
  std::string path;
  CControlDialog* counter = m_pApp ? m_pApp->GetControlDialog() : nullptr;
  if (counter) counter->BeginModal();
  const int result = dialog.DoModal(nullptr, folder.c_str(), &path, 256);
  if (counter) counter->EndModal();
  if (result == IDCANCEL) return;
  if (result != IDOK) {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [DoModal()] function. Return Code[%d]", result);
    FotaviMessageBox(IDS_INTERNAL_ERROR);
    return;
  }
  if (FileOpen(path)) {
    reg.WriteProfileString(HKEY_CURRENT_USER, REG_KEY_PRESENTATION, REG_SECTION_IMAGE, "InputFolder",
                           CFilePath(path).GetFolder());
  } else {
    TraceLog(TRC_PRE, kLog, "The error occurred with the [FileOpen()] function.");
  }
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

// ------------------------------------------------------------ still capture

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

// ------------------------------------------------------------ live monitor

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

// ------------------------------------------------------------ tools

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
  HoldLive();
  QWidget* tool = make(this);
  if (!tool) {
    ResumeLive();
    return;
  }
  m_ModalTools[id] = tool;
  UpdateCommandUI();
  if (auto* dialog = qobject_cast<QDialog*>(tool)) {
    CControlDialog* counter = m_pApp ? m_pApp->GetControlDialog() : nullptr;
    if (counter) counter->BeginModal();
    const int result = dialog->exec();
    if (counter) counter->EndModal();
    m_ModalTools.erase(id);
    dialog->deleteLater();
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

// ------------------------------------------------------------ closing

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
  event->accept();
  QMainWindow::closeEvent(event);
  OnDestroy();
}

void CMainFrame::OnDestroy() {
  if (m_bDestroyed) return;
  m_bDestroyed = true;
  if (m_pLiveFrame) CloseLiveFrame();
  if (m_pMdiArea) {
    for (QMdiSubWindow* w : m_pMdiArea->subWindowList()) delete w;
  }
  for (auto& [id, tool] : m_ModalTools)
    if (tool) delete tool.data();
  m_ModalTools.clear();
  if (m_pRemoteCtrl) delete m_pRemoteCtrl.data();
  if (m_pDrawPalette) delete m_pDrawPalette.data();
  bDeviceClose();
  if (CDeviceInterface* device = GetDevice()) device->bSetNotifyWindow(nullptr);
  if (m_pApp && m_pApp->GetControlDialog()) m_pApp->GetControlDialog()->SetNotifyWnd(nullptr);
  const std::string work = GetWorkFolder();
  if (!work.empty()) DeleteFolder(work);
}

#include "LiveMainWnd.h"

#include <QAction>
#include <QIcon>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QStatusBar>
#include <QToolBar>

#include "Common/StringTable.h"
#include "Common/TraceLog.h"
#include "MovResource.h"

namespace {
// How long the start waits for the live thread's hidden window.
constexpr DWORD kInitWaitMs = 5000;
}  // namespace

// ============================================================ CLivePictureWidget

CLivePictureWidget::CLivePictureWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(160, 120);
}

void CLivePictureWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (m_pThread && m_pThread->HasPicture()) {
    m_pThread->Draw(painter);
    ++m_nPainted;
  }
}

// ============================================================ CLiveMainWnd

CLiveMainWnd::CLiveMainWnd(CFotaviMovApp* app, std::unique_ptr<CFotaviMovDoc> doc)
    : m_pApp(app), m_pDoc(std::move(doc)) {
  setWindowTitle(QString::fromStdString(GetApplicationTitle()));
  setWindowIcon(QIcon::fromTheme(QStringLiteral("camera-video"), QIcon::fromTheme(QStringLiteral("video-x-generic"))));
  m_hWnd = CreateWindowTarget([this](HWND, UINT msg, WPARAM w, LPARAM l) { return WindowProc(msg, w, l); },
                              "__FOTAVIMOVIECREATION__", WTF_TOPLEVEL);
  m_pPicture = new CLivePictureWidget(this);
  setCentralWidget(m_pPicture);

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* exit = file->addAction(QIcon::fromTheme(QStringLiteral("application-exit")), QStringLiteral("E&xit"));
  connect(exit, &QAction::triggered, this, &QWidget::close);
  QMenu* live = menuBar()->addMenu(QStringLiteral("&Live Monitor"));
  m_pStart = live->addAction(QIcon::fromTheme(QStringLiteral("media-playback-start")), QStringLiteral("&Start"));
  m_pStop = live->addAction(QIcon::fromTheme(QStringLiteral("media-playback-stop")), QStringLiteral("S&top"));
  connect(m_pStart, &QAction::triggered, this, [this] { StartSemiAnimation(); });
  connect(m_pStop, &QAction::triggered, this, [this] { StopSemiAnimation(); });
  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  m_pSetting = tools->addAction(QIcon::fromTheme(QStringLiteral("preferences-system")),
                                QStringLiteral("Recording &Settings"));
  connect(m_pSetting, &QAction::triggered, this, [this] { OnSetting(); });
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* about = help->addAction(QIcon::fromTheme(QStringLiteral("help-about")), QStringLiteral("&About"));
  connect(about, &QAction::triggered, this, [this] { ShowMovAbout(this); });
  QToolBar* bar = addToolBar(QStringLiteral("Main"));
  bar->addAction(m_pStart);
  bar->addAction(m_pStop);
  bar->addAction(m_pSetting);

  m_pDoc->SetLiveResizeHandler([this] { SetLiveSize(); });
  CDeviceInterface* device = m_pApp->GetDevice();
  if (device) device->bSetNotifyWindow(m_hWnd);
  const int opened = OpenDevice();
  m_bDeviceOpen = opened == 1 && device && device->bIsConnected() ? TRUE : FALSE;
  SetDeviceMenuState(m_bDeviceOpen);
  resize(522, 498);
  if (m_pApp->GetControlDialog()) m_pApp->GetControlDialog()->SetNotifyWnd(m_hWnd);
}

CLiveMainWnd::~CLiveMainWnd() {
  StopSemiAnimation();
  if (m_pApp->GetControlDialog() && m_pApp->GetControlDialog()->GetNotifyWnd() == m_hWnd)
    m_pApp->GetControlDialog()->SetNotifyWnd(nullptr);
  if (CDeviceInterface* device = m_pApp->GetDevice()) {
    DWORD error = 0;
    device->bSetNotifyWindow(nullptr);
    device->bClose(&error);
  }
  if (m_hWnd) DestroyWindow(m_hWnd);
}

LRESULT CLiveMainWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_FOTAVI_DEVICESTATE:
      OnDeviceNotify(wParam);
      break;
    case WM_CONTROLDIALOG_END:
      OnControlDialogEnd();
      break;
    case WM_SEMIANIMATION_ERROR:
      OnSemiAnimationError(wParam);
      break;
    case WM_SEMIANIMATION_DRAW:
      if (m_pLive) {
        m_pLive->ClearDrawPending();
        m_pPicture->update();
      }
      break;
    default:
      break;
  }
  return 0;
}

int CLiveMainWnd::OpenDevice() {
  CDeviceInterface* device = m_pApp->GetDevice();
  if (!device || !device->bIsConnected()) return 0;
  DWORD error = 0;
  if (!device->bOpen(m_hWnd, &error) && error != ERR_FOTAVI_ALREADYOPEN) {
    if (error == ERR_FOTAVI_NODEVICE || error == ERR_FOTAVI_ALREADYUSE) return 0;
    TraceLog(TRC_MOV, "CMainFrame::OpenDevice",
             "The error occurred with the [bOpen] function of Device control. Detailed Error Code[0x%08X]", error);
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    return 0;
  }
  m_bDeviceOpen = TRUE;
  return 1;
}

void CLiveMainWnd::SetDeviceMenuState(BOOL on) {
  m_strStatus = LoadStringText(on ? IDS_MOV_READY : IDS_MOV_NO_DEVICE);
  statusBar()->showMessage(QString::fromStdString(m_strStatus));
  UpdateCommands();
}

void CLiveMainWnd::UpdateCommands() {
  m_pStart->setEnabled(m_bDeviceOpen && !m_pLive);
  m_pStop->setEnabled(m_bDeviceOpen && m_pLive);
  m_pSetting->setEnabled(m_bDeviceOpen);
}

bool CLiveMainWnd::IsCommandEnabled(UINT id) const {
  switch (id) {
    case ID_MOV_LIVE_START: return m_pStart->isEnabled();
    case ID_MOV_LIVE_STOP: return m_pStop->isEnabled();
    case ID_MOV_SETTING: return m_pSetting->isEnabled();
    default: return false;
  }
}

void CLiveMainWnd::OnDeviceNotify(WPARAM state) {
  if (state == FOTAVI_DEVICE_PRESENT) {
    if (OpenDevice()) {
      m_bDeviceOpen = TRUE;
      SetDeviceMenuState(TRUE);
    }
    return;
  }
  if (state != FOTAVI_DEVICE_GONE) return;
  StopSemiAnimation();
  CControlDialog* counter = m_pApp->GetControlDialog();
  const HWND dialog = m_pDoc->GetSettingWnd();
  if (dialog && (!counter || counter->GetModalCount() == 0)) PostMessage(dialog, WM_CLOSE, 0, 0);
  m_bDeviceOpen = FALSE;
  SetDeviceMenuState(FALSE);
}

void CLiveMainWnd::OnControlDialogEnd() {
  CDeviceInterface* device = m_pApp->GetDevice();
  m_bDeviceOpen = device && device->bIsConnected() ? m_bDeviceOpen : FALSE;
  const HWND dialog = m_pDoc->GetSettingWnd();
  if (!m_bDeviceOpen && dialog) PostMessage(dialog, WM_CLOSE, 0, 0);
  UpdateCommands();
}

void CLiveMainWnd::OnSemiAnimationError(WPARAM code) {
  if (!m_pLive) return;
  StopSemiAnimation();
  if (code == SEMIANIMATION_FAILED) MovMessageBox(IDS_MOV_LIVE_ERROR);
}

void CLiveMainWnd::SetLiveSize() {
  if (!m_pLive) return;
  const int width = int(m_pDoc->GetVideoWidth());
  const int height = int(m_pDoc->GetVideoHeight());
  m_pLive->SetDecodeSize(width, height);
  m_pLive->SetDrawSize(width, height);
  m_pLive->SetDrawOffset(0, 0);
  m_pPicture->setFixedSize(width, height);
  adjustSize();
}

BOOL CLiveMainWnd::StartSemiAnimation() {
  static const char* const kLog = "CFotaviMovView::StartSemiAnimation";
  if (m_pLive) return TRUE;
  if (!m_pDoc->SetVideoSize(MOV_CAMERA_WIDTH, MOV_CAMERA_HEIGHT)) {
    TraceLog(TRC_MOV, "CMainFrame::OnSemiAnimation", "The error occurred with the [SetVideoSize()] function.");
    return FALSE;
  }
  m_pWaitEvent = std::make_unique<CEvent>(true, false);
  CEvent initEvent(true, false);  // "SemiAnimationInitEvent"
  m_pLive = std::make_unique<CSemiAnimationThread>(m_pApp->GetDevice(), &m_pApp->GetJpeg());
  m_pLive->SetWaitEvent(m_pWaitEvent.get());
  m_pLive->GetMessageWnd().SetOwner(m_pLive.get());
  m_pPicture->SetThread(m_pLive.get());
  SetLiveSize();
  ANIMATIONINITPARAM param{m_hWnd, &initEvent};
  m_pLive->ResumeThread();
  if (!m_pLive->PostThreadMessage(WM_SEMIANIMATION_INIT, reinterpret_cast<WPARAM>(&param), 0) ||
      initEvent.Wait(kInitWaitMs) != WAIT_OBJECT_0 || !m_pLive->GetMessageHwnd()) {
    TraceLog(TRC_MOV, kLog, "The error occurred with the [WM_SEMIANIMATION_INIT] message.");
    StopSemiAnimation();
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    return FALSE;
  }
  m_pLive->PostThreadMessage(WM_JPEG_READ, 0, 0);
  UpdateCommands();
  return TRUE;
}

void CLiveMainWnd::StopSemiAnimation() {
  if (!m_pLive) return;
  m_pLive->PostThreadMessage(WM_SEMIANIMATION_END, 0, 0);
  // The thread bounds its own wait for a reply in flight.
  if (!m_pLive->WaitForEnd(LIVE_END_WAIT_MS + 5000))
    TraceLog(TRC_MOV, "CFotaviMovView::StopSemiAnimation", "The live-picture thread did not end in time.");
  m_pPicture->SetThread(nullptr);
  m_pLive.reset();
  m_pWaitEvent.reset();
  m_pPicture->setMinimumSize(160, 120);
  m_pPicture->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  m_pPicture->update();
  UpdateCommands();
}

void CLiveMainWnd::OnSetting() {
  if (!m_pDoc->SetVideoSize(MOV_CAMERA_WIDTH, MOV_CAMERA_HEIGHT)) {
    TraceLog(TRC_MOV, "CMainFrame::OnSetting", "The error occurred with the [SetVideoSize()] function.");
    return;
  }
  m_pDoc->SaveDialogInfo();
}

void ShowMovAbout(QWidget* parent) {
  CFotaviMovApp* app = CFotaviMovApp::Instance();
  if (app && app->GetControlDialog()) app->GetControlDialog()->BeginModal();
  QMessageBox::about(parent, QString::fromStdString(GetApplicationTitle()),
                     QStringLiteral("<b>Fotavi for Movie Creation</b><br>Version 1.0<br>"
                                    "Records the document camera's live picture as AVI or WMV movies."));
  if (app && app->GetControlDialog()) app->GetControlDialog()->EndModal();
}

std::unique_ptr<IMovMainFrame> CreateMovMainFrame(CFotaviMovApp* app) {
  auto doc = std::make_unique<CFotaviMovDoc>();
  return std::make_unique<CLiveMainWnd>(app, std::move(doc));
}

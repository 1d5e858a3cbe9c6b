#include "MainFrm.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <new>

#include "AutoFrameRateDlg.h"
#include "Common/FileSelDlg.h"
#include "Common/StringTable.h"
#include "Common/ThemeIcons.h"
#include "Common/TiryxDialog.h"
#include "Common/TraceLog.h"
#include "FRMDlg.h"
#include "MovResource.h"
#include "SliderDialogBar.h"

namespace {
constexpr int kStartWidth = 522;
constexpr int kStartHeight = 498;
constexpr int kMinTrackWidth = 180;
// How often the commands' enabled state is brought up to date while idle.
constexpr int kIdleUpdateMs = 100;

void RecordDrawing(QPainter& p, const QColor& ink) {
  p.setPen(IconPen(ink, 1.5));
  p.setBrush(QColor(210, 40, 40));
  p.drawEllipse(QPointF(16, 16), 10, 10);
}

void PauseDrawing(QPainter& p, const QColor& ink) {
  p.setPen(IconPen(ink, 1.5));
  p.setBrush(ink);
  p.drawRect(QRectF(8, 6, 6, 20));
  p.drawRect(QRectF(18, 6, 6, 20));
}

QIcon MovCommandIcon(UINT id) {
  switch (id) {
    case ID_MOV_MOVIE_OPEN: return ThemeOrDrawnIcon("document-open", IconDrawings::Folder);
    case ID_MOV_RECORD: return ThemeOrDrawnIcon("media-record", RecordDrawing);
    case ID_MOV_MOVIE_PLAY: return ThemeOrDrawnIcon("media-playback-start", IconDrawings::Start);
    case ID_MOV_MOVIE_PAUSE: return ThemeOrDrawnIcon("media-playback-pause", PauseDrawing);
    case ID_MOV_MOVIE_STOP: return ThemeOrDrawnIcon("media-playback-stop", IconDrawings::Stop);
    case ID_MOV_REMOTE_CONTROL: return DrawnIcon(IconDrawings::Remote);
    case ID_MOV_LIVE_START: return ThemeOrDrawnIcon("camera-web", IconDrawings::Start);
    case ID_MOV_LIVE_STOP: return ThemeOrDrawnIcon("media-playback-stop", IconDrawings::Stop);
    case ID_MOV_SETTING: return QIcon::fromTheme(QStringLiteral("preferences-system"));
    default: return {};
  }
}

// The tool-bar buttons that show a pressed state.
constexpr UINT kPressable[] = {ID_MOV_MOVIE_PLAY, ID_MOV_MOVIE_STOP, ID_MOV_RECORD, ID_MOV_MOVIE_PAUSE};
}  // namespace

CMainFrame::CMainFrame(CFotaviMovApp* app, std::unique_ptr<CFotaviMovDoc> doc)
    : m_pApp(app), m_pDoc(std::move(doc)), m_strStatus(LoadStringText(IDS_MOV_READY)) {
  setWindowTitle(QString::fromStdString(GetApplicationTitle()));
  // The program's icon for every window it opens (dialogs and message boxes
  // too), as the presentation program does.
  if (qApp) QApplication::setWindowIcon(MovProgramIcon());
  setWindowIcon(MovProgramIcon());
  setMinimumWidth(kMinTrackWidth);
  m_hWnd = CreateWindowTarget([this](HWND, UINT msg, WPARAM w, LPARAM l) { return WindowProc(msg, w, l); },
                              "__FOTAVIMOVIECREATION__", WTF_TOPLEVEL);
  m_pSlider = new CSliderDialogBar(this);
  m_pView = new CFotaviMovView(m_pApp, m_pDoc.get(), this, m_pSlider, this);
  QWidget* centre = new QWidget(this);
  auto* layout = new QVBoxLayout(centre);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  // The view takes the room the frame gives it: a movie is sized by sizing
  // the frame around it; the live picture fixes the view's size instead.
  layout->addWidget(m_pView, 1);
  layout->addWidget(m_pSlider, 0);
  setCentralWidget(centre);
  BuildMenusAndBars();
  KeepMenuBarWhole();
  m_pPane = new QLabel(this);
  statusBar()->addWidget(m_pPane, 1);
  if (!m_pSlider->InitSlider()) TraceLogText(TRC_MOV, "CMainFrame::OnCreate", "It failed in initializing the Dialogbar.");
  SetViewSize(m_nViewSizeId);
  InitRemoteCtrl();

  m_pDoc->SetLiveResizeHandler([this] { m_pView->SetLiveSize(); });
  if (CFRMDlg* dialog = m_pDoc->GetSettingDialog()) {
    dialog->SetMeasureHandler([this](CFRMDlg* d) { RunMeasurement(d); });
  }
  CDeviceInterface* device = m_pApp->GetDevice();
  if (device) device->bSetNotifyWindow(m_hWnd);
  const int opened = OpenDevice();
  m_bDeviceOpen = opened == 1 && device && device->bIsConnected() ? TRUE : FALSE;
  SetDeviceMenuState(m_bDeviceOpen);
  resize(kStartWidth, kStartHeight);
  if (m_pApp->GetControlDialog()) m_pApp->GetControlDialog()->SetNotifyWnd(m_hWnd);
  m_pIdle = new QTimer(this);
  connect(m_pIdle, &QTimer::timeout, this, [this] { UpdateCommands(); });
  m_pIdle->start(kIdleUpdateMs);
  UpdateCommands();
}

CMainFrame::~CMainFrame() {
  m_pIdle->stop();
  if (CFRMDlg* dialog = m_pDoc->GetSettingDialog()) {
    dialog->SetMeasureHandler(nullptr);
    dialog->SetMeasureCancel(nullptr);
  }
  // The view first: it ends a recording and the live picture while the
  // camera is still open.
  delete m_pView;
  m_pView = nullptr;
  m_pRemote.reset();
  if (m_pApp->GetControlDialog() && m_pApp->GetControlDialog()->GetNotifyWnd() == m_hWnd)
    m_pApp->GetControlDialog()->SetNotifyWnd(nullptr);
  if (CDeviceInterface* device = m_pApp->GetDevice()) {
    DWORD error = 0;
    device->bSetNotifyWindow(nullptr);
    device->bClose(&error);
  }
  if (m_hWnd) DestroyWindow(m_hWnd);
}

QAction* CMainFrame::AddCommand(QMenu* menu, UINT id, const QString& text) {
  QAction* action = menu->addAction(MovCommandIcon(id), text);
  m_Actions[id] = action;
  return action;
}

QAction* CMainFrame::Action(UINT id) const {
  auto it = m_Actions.find(id);
  return it == m_Actions.end() ? nullptr : it->second;
}

void CMainFrame::BuildMenusAndBars() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  connect(AddCommand(file, ID_MOV_APP_EXIT, QStringLiteral("E&xit")), &QAction::triggered, this, &QWidget::close);
  Action(ID_MOV_APP_EXIT)->setIcon(QIcon::fromTheme(QStringLiteral("application-exit")));

  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  QMenu* size = view->addMenu(QStringLiteral("View &Size"));
  auto* sizes = new QActionGroup(this);
  const std::pair<UINT, const char*> sizeItems[] = {
      {ID_MOV_VIEW_SIZE_200, "&1 200%"}, {ID_MOV_VIEW_SIZE_100, "&2 100%"}, {ID_MOV_VIEW_SIZE_50, "&3 50%"}};
  for (const auto& [id, text] : sizeItems) {
    QAction* a = AddCommand(size, id, QString::fromLatin1(text));
    a->setCheckable(true);
    sizes->addAction(a);
    connect(a, &QAction::triggered, this, [this, id = id] { SetViewSize(id); });
  }
  view->addSeparator();
  QAction* top = AddCommand(view, ID_MOV_ALWAYS_ON_TOP, QStringLiteral("&Always on Top"));
  top->setCheckable(true);
  connect(top, &QAction::triggered, this, [this] { OnAlwaysOnTop(); });

  QMenu* movie = menuBar()->addMenu(QStringLiteral("&Movie"));
  QAction* open = AddCommand(movie, ID_MOV_MOVIE_OPEN, QStringLiteral("&Open"));
  open->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
  connect(open, &QAction::triggered, this, [this] { OnMovieOpen(); });
  connect(AddCommand(movie, ID_MOV_MOVIE_CLOSE, QStringLiteral("&Close")), &QAction::triggered, this,
          [this] { OnMovieClose(); });
  movie->addSeparator();
  connect(AddCommand(movie, ID_MOV_MOVIE_PLAY, QStringLiteral("&Play")), &QAction::triggered, this,
          [this] { OnMoviePlay(); });
  connect(AddCommand(movie, ID_MOV_MOVIE_PAUSE, QStringLiteral("P&ause")), &QAction::triggered, this,
          [this] { OnMoviePause(); });
  connect(AddCommand(movie, ID_MOV_MOVIE_STOP, QStringLiteral("&Stop")), &QAction::triggered, this,
          [this] { OnMovieStop(); });

  QMenu* live = menuBar()->addMenu(QStringLiteral("&Live Monitor"));
  connect(AddCommand(live, ID_MOV_LIVE_START, QStringLiteral("&Start")), &QAction::triggered, this,
          [this] { OnSemiAnimation(); });
  connect(AddCommand(live, ID_MOV_LIVE_STOP, QStringLiteral("S&top")), &QAction::triggered, this,
          [this] { OnSemiAnimationStop(); });
  connect(AddCommand(live, ID_MOV_RECORD, QStringLiteral("&Record")), &QAction::triggered, this,
          [this] { OnRecord(); });

  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  connect(AddCommand(tools, ID_MOV_SETTING, QStringLiteral("Recording &Settings")), &QAction::triggered, this,
          [this] { OnSetting(); });
  QAction* remote = AddCommand(tools, ID_MOV_REMOTE_CONTROL, QStringLiteral("&Remote Control"));
  remote->setCheckable(true);
  connect(remote, &QAction::triggered, this, [this] {
    OnRemoteControl();
  });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* helpFile = AddCommand(help, ID_MOV_HELP_FINDER, QStringLiteral("&Help"));
  helpFile->setIcon(QIcon::fromTheme(QStringLiteral("help-contents")));
  connect(helpFile, &QAction::triggered, this, [this] { m_pApp->OnHelp(); });
  QAction* about = AddCommand(help, ID_MOV_APP_ABOUT, QStringLiteral("&About"));
  about->setIcon(QIcon::fromTheme(QStringLiteral("help-about")));
  connect(about, &QAction::triggered, this, [this] { ShowMovAbout(this); });

  m_pToolBar = addToolBar(QStringLiteral("Main"));
  m_pToolBar->setObjectName(QStringLiteral("MainToolBar"));
  m_pToolBar->setMovable(true);
  const std::pair<UINT, const char*> tips[] = {{ID_MOV_MOVIE_OPEN, "Open"},   {ID_MOV_RECORD, "Record"},
                                               {ID_MOV_MOVIE_PLAY, "Play"},   {ID_MOV_MOVIE_PAUSE, "Pause"},
                                               {ID_MOV_MOVIE_STOP, "Stop"},   {ID_MOV_REMOTE_CONTROL, "Remote Control"}};
  for (const auto& [id, tip] : tips) {
    QAction* a = Action(id);
    a->setToolTip(QString::fromLatin1(tip));
    if (id != ID_MOV_MOVIE_OPEN) a->setCheckable(true);
    if (id == ID_MOV_MOVIE_PLAY || id == ID_MOV_MOVIE_OPEN) m_pToolBar->addSeparator();
    m_pToolBar->addAction(a);
  }
}

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_FOTAVI_DEVICESTATE:
      OnDeviceNotify(wParam);
      break;
    case WM_CONTROLDIALOG_END:
      OnControlDialogEnd();
      break;
    case WM_REMOTECTRL_CLOSED:
      if (QAction* a = Action(ID_MOV_REMOTE_CONTROL)) a->setChecked(false);
      break;
    default:
      break;
  }
  return 0;
}

int CMainFrame::OpenDevice() {
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

void CMainFrame::SetDeviceMenuState(BOOL on) {
  m_strStatus = LoadStringText(on ? IDS_MOV_READY : IDS_MOV_NO_DEVICE);
  m_pPane->setText(QString::fromStdString(m_strStatus));
  UpdateCommands();
}

MOVFRAMESTATE CMainFrame::CommandState() const {
  MOVFRAMESTATE s;
  s.deviceOpen = m_bDeviceOpen != FALSE;
  s.live = m_pView && m_pView->IsSemiAnimation();
  s.recording = m_pView && m_pView->IsRecording();
  s.movieOpen = m_pView && m_pView->IsMovieOpen();
  s.recordAllowed = m_bRecordAllowed != FALSE;
  return s;
}

bool CMainFrame::IsCommandEnabled(UINT id) const {
  QAction* a = Action(id);
  return a && a->isEnabled();
}

bool CMainFrame::IsToolButtonPressed(UINT id) const {
  QAction* a = Action(id);
  return a && a->isChecked();
}

std::string CMainFrame::GetPaneText() const { return m_pPane->text().toStdString(); }

void CMainFrame::UpdateCommands() {
  if (!m_pView) return;
  const MOVFRAMESTATE s = CommandState();
  for (auto& [id, action] : m_Actions) action->setEnabled(MovCommandEnabled(id, s));
  if (s.recording) {
    Action(ID_MOV_RECORD)->setChecked(true);
    m_pPane->setText(QString::fromStdString(LoadStringText(IDS_MOV_RECORDING)));
  } else {
    Action(ID_MOV_RECORD)->setChecked(false);
    if (!s.movieOpen) m_pPane->setText(QString::fromStdString(m_strStatus));
  }
  if (m_pRemote) Action(ID_MOV_REMOTE_CONTROL)->setChecked(m_pRemote->isVisible());
}

void CMainFrame::OnDeviceNotify(WPARAM state) {
  if (state == FOTAVI_DEVICE_PRESENT) {
    if (OpenDevice()) {
      SetDeviceMenuState(TRUE);
      m_bDeviceOpen = TRUE;
    }
    return;
  }
  if (state != FOTAVI_DEVICE_GONE) return;
  // Unplugging during a recording is its normal end: the files are closed
  // complete, no box.
  m_pView->OnDeviceGone();
  if (m_pRemote) ShowRemoteControl(false);
  CControlDialog* counter = m_pApp->GetControlDialog();
  const HWND dialog = m_pDoc->GetSettingWnd();
  if (dialog && (!counter || counter->GetModalCount() == 0)) PostMessage(dialog, WM_CLOSE, 0, 0);
  m_bDeviceOpen = FALSE;
  SetDeviceMenuState(FALSE);
}

void CMainFrame::OnControlDialogEnd() {
  CDeviceInterface* device = m_pApp->GetDevice();
  m_bDeviceOpen = device && device->bIsConnected() ? m_bDeviceOpen : FALSE;
  const HWND dialog = m_pDoc->GetSettingWnd();
  if (!m_bDeviceOpen && dialog) PostMessage(dialog, WM_CLOSE, 0, 0);
  UpdateCommands();
}

BOOL CMainFrame::InitRemoteCtrl() {
  try {
    m_pRemote = std::make_unique<CTiryxDialog>(m_pApp->GetDevice(), this);
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_MOV, "CMainFrame::InitRemoteCtrl", "CTiryxDialog");
    MovMessageBox(IDS_MOV_NO_RESOURCES);
    return FALSE;
  }
  if (!m_pRemote->Create(m_hWnd)) {
    TraceLogText(TRC_MOV, "CMainFrame::InitRemoteCtrl", "The error occurred with the [Create()] function.");
    m_pRemote.reset();
    return FALSE;
  }
  return TRUE;
}

void CMainFrame::OnRemoteControl() {
  if (m_pRemote) ShowRemoteControl(!m_pRemote->isVisible());
  else if (QAction* a = Action(ID_MOV_REMOTE_CONTROL)) a->setChecked(false);
}

void CMainFrame::ShowRemoteControl(bool show) {
  m_pRemote->setVisible(show);
  Action(ID_MOV_REMOTE_CONTROL)->setChecked(m_pRemote->isVisible());
}

void CMainFrame::OnSetting() {
  if (!m_pDoc->SetVideoSize(MOV_CAMERA_WIDTH, MOV_CAMERA_HEIGHT)) {
    TraceLogText(TRC_MOV, "CMainFrame::OnSetting", "The error occurred with the [SetVideoSize()] function.");
    return;
  }
  if (m_pDoc->SaveDialogInfo() == 1 && m_pView->IsSemiAnimation()) m_bRecordAllowed = TRUE;
  UpdateCommands();
}

void CMainFrame::OnSemiAnimation() {
  if (!m_pDoc->SetVideoSize(MOV_CAMERA_WIDTH, MOV_CAMERA_HEIGHT)) {
    TraceLogText(TRC_MOV, "CMainFrame::OnSemiAnimation", "The error occurred with the [SetVideoSize()] function.");
    return;
  }
  ResetToolButtons();
  if (m_pView->IsMovieOpen()) m_pView->CloseMovie();
  if (m_pDoc->GetIsSetting() == 1) m_bRecordAllowed = TRUE;
  m_pView->StartSemiAnimation();
  UpdateCommands();
}

void CMainFrame::OnSemiAnimationStop() {
  ResetToolButtons();
  if (m_pView->IsRecording()) m_pView->StopMakeMovie(TRUE);
  m_pView->StopSemiAnimation();
  m_pView->ClearView();
  UpdateCommands();
}

void CMainFrame::OnRecord() {
  if (m_pView->IsRecording()) {
    // Chosen while the last recording still completes its file: the new one
    // starts once it is complete, if Record is still allowed then.
    if (m_pView->IsRecordingEnding() && !m_bRecordAfterEnd) {
      m_bRecordAfterEnd = true;
      m_pView->WhenRecordingEnded([this] {
        m_bRecordAfterEnd = false;
        if (MovCommandEnabled(ID_MOV_RECORD, CommandState())) OnRecord();
      });
    }
    return;
  }
  const std::string& output = m_pDoc->GetOutputFileName();
  std::error_code ec;
  if (!output.empty() && std::filesystem::exists(output, ec)) {
    if (MovMessageBox(IDS_MOV_OVERWRITE, MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK) {
      UpdateCommands();
      return;
    }
  }
  Action(ID_MOV_MOVIE_STOP)->setChecked(false);
  if (!output.empty()) std::remove(output.c_str());
  MAKEMOVIEPARAM param;
  param.outputPath = output;
  param.frameRate = m_pDoc->GetFrameRate();
  param.maxFileSize = m_pDoc->GetMaxFileSize();
  param.recCondition = int(m_pDoc->GetRecCondition());
  param.recLimit = m_pDoc->GetRecLimit();
  param.width = m_pDoc->GetVideoWidth();
  param.height = m_pDoc->GetVideoHeight();
  param.fileType = int(m_pDoc->GetCompress());
  param.profilePath = m_pDoc->GetProfileFileName();
  param.videoQuality = m_pDoc->GetVideoQuality();
  m_pView->StartMakeMovie(param);
  UpdateCommands();
}

std::string CMainFrame::MovieFolder() const {
  // Where the user's movies are: the folder the recordings go to, else the
  // documents folder.
  const std::string folder = std::filesystem::path(m_pDoc->GetOutputFileName()).parent_path().string();
  if (!folder.empty() && IsPathExist(folder)) return folder;
  return GetMyDocumentsPath();
}

void CMainFrame::OnMovieOpen() {
  CFileSelDlg chooser(true, {}, {}, OFN_HIDEREADONLY, "Movie file (*.wmv;*.avi) |*.avi;*.wmv||", m_hWnd);
  const std::string none;
  const std::string folder = MovieFolder();
  // The box answers later, by a call back; the frame may have gone by then.
  QPointer<CMainFrame> self(this);
  chooser.Open(nullptr, folder.c_str(), &none, MOV_PATH_MAX, m_pApp ? m_pApp->GetControlDialog() : nullptr,
               [self](int result, const std::string& path) {
                 if (!self || result != IDOK || path.empty()) return;
                 self->OpenMovie(path);
               });
}

void CMainFrame::OpenMovie(const std::string& path) {
  ResetToolButtons();
  if (m_pView->IsRecording()) {
    m_pView->StopMakeMovie(TRUE);
    // The movie opens once the recording's file is complete.
    if (m_pView->IsRecording()) {
      m_pView->WhenRecordingEnded([this, path] { OpenMovie(path); });
      return;
    }
  }
  if (m_pView->IsSemiAnimation()) {
    m_pView->StopSemiAnimation();
    m_pView->ClearView();
    SetFixedFrame(false);
    // The status bar starts again with the status text: "Recording ..." of
    // the recording just ended must not stay over the movie.
    m_pPane->setText(QString::fromStdString(m_strStatus));
  }
  m_pDoc->SetMoviePath(path);
  if (m_bMovieOpened) m_pView->CloseMovie();
  m_bMovieOpened = TRUE;
  m_pView->MovieInitialize();
  UpdateCommands();
}

void CMainFrame::OnMovieClose() {
  ResetToolButtons();
  m_pView->CloseMovie();
  UpdateCommands();
}

void CMainFrame::OnMoviePlay() {
  SelectToolButton(ID_MOV_MOVIE_PLAY);
  m_pView->PlayMovie();
  UpdateCommands();
}

void CMainFrame::OnMoviePause() {
  SelectToolButton(m_pView->IsMoviePaused() ? ID_MOV_MOVIE_PLAY : ID_MOV_MOVIE_PAUSE);
  m_pView->PauseMovie();
}

void CMainFrame::OnMovieStop() {
  SelectToolButton(ID_MOV_MOVIE_STOP);
  if (m_pView->IsRecording()) m_pView->StopMakeMovie(TRUE);
  else m_pView->StopMovie();
  UpdateCommands();
}

void CMainFrame::RunMeasurement(CFRMDlg* dialog) {
  CAutoFrameRateDlg measure(m_pView, m_pDoc.get(), dialog);
  measure.SetParentDlg(dialog);
  measure.SetMeasureSize(dialog->m_nOutputWidth, dialog->m_nOutputHeight);
  if (dialog->m_dwCompress == COMPRESS_WMV) {
    measure.SetProfileName(dialog->m_strProfile);
    measure.SetVideoQuality(dialog->m_dwCurrentQuality);
  }
  dialog->SetMeasureCancel([&measure] { measure.OnCancel(); });
  measure.DoModal();
  dialog->SetMeasureCancel(nullptr);
}

void CMainFrame::SetViewSize(UINT id) {
  if (QAction* a = Action(id)) a->setChecked(true);
  m_nViewSizeId = id;
  if (id == ID_MOV_VIEW_SIZE_FIT) return;
  if (m_pView->IsMovieOpen()) {
    m_pView->SetMovieSize();
  } else if (m_pView->IsSemiAnimation() || m_pView->IsRecording()) {
    m_pView->SetLiveSize();
    m_pView->ClearView();
  }
}

void CMainFrame::OnAlwaysOnTop() {
  const QRect place = geometry();
  m_bAlwaysOnTop = !m_bAlwaysOnTop;
  setWindowFlag(Qt::WindowStaysOnTopHint, m_bAlwaysOnTop != FALSE);
  setGeometry(place);
  show();
  Action(ID_MOV_ALWAYS_ON_TOP)->setChecked(m_bAlwaysOnTop != FALSE);
}

void CMainFrame::SetFixedFrame(bool fixed) {
  // A fixed frame takes the size the live picture gives the view (at least
  // the menu bar's width); the view fills it either way.
  if (fixed) {
    if (isMaximized()) showNormal();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
  } else {
    layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  KeepMenuBarWhole();
}

void CMainFrame::KeepMenuBarWhole() {
  // The menu bar's size hint is the width all its menus take side by side.
  // The frame is never narrower, so no menu folds away behind the bar's
  // extension button: a narrower picture lies in the middle of the view.
  const int whole = std::max(kMinTrackWidth, menuBar()->sizeHint().width());
  centralWidget()->setMinimumWidth(whole);
  setMinimumSize(whole, 0);
}

int CMainFrame::GetBarsHeight() const {
  return m_pToolBar->height() + statusBar()->height() + (m_pSlider->isVisible() ? m_pSlider->height() : 0);
}

void CMainFrame::KeepInWorkArea() {
  QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!s) return;
  const QRect work = s->availableGeometry();
  const QRect place = frameGeometry();
  if (work.right() < place.right() || work.bottom() < place.bottom()) move(work.topLeft());
}

void CMainFrame::ResetToolButtons() {
  for (UINT id : kPressable) Action(id)->setChecked(false);
  m_bRecordAllowed = FALSE;
}

void CMainFrame::SelectToolButton(UINT id) {
  for (UINT other : kPressable) Action(other)->setChecked(false);
  if (QAction* a = Action(id)) a->setChecked(true);
}

void CMainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (m_pView) m_pView->InvalidateMovie();
}

QIcon MovProgramIcon() { return DrawnIcon(IconDrawings::DocumentCamera); }

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
  return std::make_unique<CMainFrame>(app, std::move(doc));
}

#include "Live/AnimeFrame.h"

#include <QCloseEvent>
#include <QMdiArea>

#include <cmath>
#include <cstdio>
#include <new>

#include "Live/AnimeView.h"
#include "Common/LateThreads.h"
#include "Common/TraceLog.h"
#include "App/FotaviApp.h"
#include "App/Icons.h"
#include "App/MainFrm.h"
#include "App/Resource.h"

namespace {
// Closing one live frame at a time: a WM_CLOSE that arrives while the
// threads are being stopped is ignored.
bool g_bClosing = false;
}  // namespace

std::string FormatLiveCaption(int width, int height, double zoom) {
  return "Live Monitor " + std::to_string(width) + "x" + std::to_string(height) + " " + FormatZoomPercent(zoom);
}

void RegisterLiveParts() { RegisterDocTemplateFactory(DOCTEMPLATE_ANIME, &CAnimeFrame::CreateFrame); }

CChildFrame* CAnimeFrame::CreateFrame(CMainFrame* mainFrame, CDocTemplate* docTemplate) {
  CAnimeFrame* frame = nullptr;
  try {
    frame = new CAnimeFrame(mainFrame, std::make_unique<CAnimeDoc>(docTemplate));
  } catch (const std::bad_alloc&) {
    TraceLogMemory(TRC_PRE, "CAnimeFrame::CreateFrame", "new CAnimeFrame");
    FotaviMessageBox(IDS_NO_RESOURCE);
    return nullptr;
  }
  if (!frame->GetAnimeView()) {
    delete frame;
    return nullptr;
  }
  return frame;
}

CAnimeFrame::CAnimeFrame(CMainFrame* mainFrame, std::unique_ptr<CAnimeDoc> doc)
    : CChildFrame(mainFrame, std::move(doc), "CAnimeFrame") {
  // Not resizable by the user, no maximize box.
  setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  if (!GetDocument()->CreateViewData()) {
    TraceLog(TRC_PRE, "CAnimeView::OnCreate", "The error occurred with the [pDoc->CreateViewData()] function.");
    return;
  }
  GetDocument()->SetTitle("Live Monitor");
  setWindowIcon(LiveMonitorIcon());
  m_pView = new CAnimeView(GetAnimeDoc(), this);
  setWidget(m_pView);
  const int step = mainFrame ? mainFrame->GetLiveSizeStep() : 2;
  const QSize live = mainFrame && !mainFrame->GetLiveSize().isEmpty() ? mainFrame->GetLiveSize() : QSize(1024, 768);
  m_pView->SetSizeStep(step);
  const QSize client(live.width() / step, live.height() / step);
  m_pView->SetClientSize(client);
  if (mainFrame && mainFrame->GetMdiArea()) mainFrame->GetMdiArea()->addSubWindow(this);
  PlaceAtNextPosition(OuterSizeFor(client));
  FitToClient(client);
  show();
  raise();
  PostMessage(m_hWnd, WM_CHILD_POSTCREATE, 0, 0);
}

CAnimeFrame::~CAnimeFrame() {
  StopThreads();
  if (m_pMainFrame && m_pMainFrame->GetLiveFrame() == this) m_pMainFrame->ClearLiveFrame();
}

void CAnimeFrame::FitToClient(const QSize& client) {
  if (!m_pView) return;
  m_pView->SetClientSize(client);
  resize(OuterSizeFor(client));
  // Correct by what the layout really gave the view. Scroll bars that show
  // only because the picture is still at the old step do not count: they go
  // once the frame is decoded at the new step.
  const QSize got = m_pView->maximumViewportSize();
  if (isVisible() && got != client && got.width() > 0) resize(size() + (client - got));
  show();
}

void CAnimeFrame::UpdateTitle(int multiplier) {
  int width = multiplier * GetDocument()->GetPictureWidth();
  int height = multiplier * GetDocument()->GetPictureHeight();
  const int step = m_pMainFrame ? std::max(1, m_pMainFrame->GetLiveSizeStep()) : 2;
  if (width == 0 || height == 0) {
    const QSize live = m_pMainFrame ? m_pMainFrame->GetLiveSize() : QSize(1024, 768);
    width = live.width();
    height = live.height();
  }
  width /= step;
  height /= step;
  setWindowTitle(QString::fromStdString(FormatLiveCaption(width, height, GetDocument()->GetZoom())));
  GetDocument()->SetTitle("Live Monitor");
}

// ------------------------------------------------------------ threads

namespace {
// Live threads a stop gave up on, with what they still use: the request
// thread uses the view thread's object and the drawn event, the view thread
// its own receiving window. None of it points at the view. Freed by the
// late threads' owner once both threads have ended: the request thread
// first, then the view thread, then the event.
class CLateLiveThreads : public ILateThread {
 public:
  CLateLiveThreads(std::unique_ptr<CViewAnimeThread> request, std::unique_ptr<CAnimeViewThread> view,
                   std::unique_ptr<CEvent> drawn)
      : m_pRequest(std::move(request)), m_pView(std::move(view)), m_pDrawn(std::move(drawn)) {}
  ~CLateLiveThreads() override {
    m_pRequest.reset();
    m_pView.reset();
    m_pDrawn.reset();
  }
  bool HasEnded() const override {
    return (!m_pRequest || m_pRequest->HasEnded()) && (!m_pView || m_pView->HasEnded());
  }

 private:
  std::unique_ptr<CViewAnimeThread> m_pRequest;
  std::unique_ptr<CAnimeViewThread> m_pView;
  std::unique_ptr<CEvent> m_pDrawn;
};
}  // namespace

BOOL CAnimeFrame::PlaySemiAnimation() {
  static const char* const kLog = "CAnimeFrame::PlaySemiAnimation";
  CDeviceInterface* device = m_pMainFrame ? m_pMainFrame->GetDevice() : nullptr;
  if (!m_pView) return FALSE;
  m_pDrawnEvent = std::make_unique<CEvent>(true, false);
  try {
    m_pRequestThread = std::make_unique<CViewAnimeThread>(device);
  } catch (const std::exception&) {
    m_pDrawnEvent.reset();
    TraceLog(TRC_PRE, kLog, "The error occurred with the [AfxBeginThread()(1)] function.");
    FotaviMessageBox(IDS_INTERNAL_ERROR);
    return FALSE;
  }
  try {
    m_pViewThread = std::make_unique<CAnimeViewThread>();
  } catch (const std::exception&) {
    EndIdleRequestThread();
    m_pDrawnEvent.reset();
    TraceLog(TRC_PRE, kLog, "The error occurred with the [AfxBeginThread()(2)] function.");
    FotaviMessageBox(IDS_INTERNAL_ERROR);
    return FALSE;
  }
  m_pViewThread->Init(m_pView, m_hWnd, m_pDrawnEvent.get());
  m_pView->SetSizeStep(m_pMainFrame ? m_pMainFrame->GetLiveSizeStep() : 2);
  m_pViewThread->Resume();
  if (!m_pViewThread->MakeWindow(LIVE_HANDSHAKE_WAIT_MS)) {
    EndIdleRequestThread();
    EndViewThread();
    m_pDrawnEvent.reset();
    TraceLog(TRC_PRE, kLog, "Initialization error of data demand thread.");
    FotaviMessageBox(IDS_INTERNAL_ERROR);
    return FALSE;
  }
  m_pRequestThread->Init(m_pViewThread->GetReceiver().GetSafeHwnd(), m_hWnd, m_pViewThread.get(),
                         m_pDrawnEvent.get());
  m_pRequestThread->SetRun(true);
  m_pRequestThread->Resume();
  if (!PostToLiveThread(m_pRequestThread->GetThreadId(), WM_ANIME_REQUEST, LIVE_HANDSHAKE_WAIT_MS)) {
    TraceLog(TRC_PRE, kLog, "Initialization error of data demand thread.");
    StopThreads();
    FotaviMessageBox(IDS_INTERNAL_ERROR);
    return FALSE;
  }
  if (m_pMainFrame) m_pMainFrame->SetLiveRunning(TRUE);
  return TRUE;
}

void CAnimeFrame::EndIdleRequestThread() {
  // The request thread never ran a request: it ends at its WM_QUIT.
  m_pRequestThread->Resume();
  if (PostToLiveThread(m_pRequestThread->GetThreadId(), WM_QUIT, LIVE_VIEW_END_WAIT_MS) &&
      m_pRequestThread->Join(LIVE_VIEW_END_WAIT_MS)) {
    m_pRequestThread.reset();
    return;
  }
  TraceLog(TRC_PRE, "CAnimeFrame::PlaySemiAnimation", "The request thread did not end in time.");
  // It holds nothing of this frame yet; freed once it has ended.
  KeepLateThread(std::make_unique<CLateLiveThreads>(std::move(m_pRequestThread), nullptr, nullptr));
}

bool CAnimeFrame::EndViewThread() {
  if (!m_pViewThread) return true;
  // Nothing the view thread still receives reaches this frame's view.
  m_pViewThread->GetReceiver().Detach();
  PostThreadMessage(m_pViewThread->GetThreadId(), WM_QUIT, 0, 0);
  m_pViewThread->Resume();
  if (m_pViewThread->Join(LIVE_VIEW_END_WAIT_MS)) {
    m_pViewThread.reset();
    return true;
  }
  TraceLog(TRC_PRE, "CAnimeFrame::StopThreads", "The view thread did not end in time.");
  // Its object must outlive it; it no longer sees the view.
  KeepLateThread(std::make_unique<CLateLiveThreads>(nullptr, std::move(m_pViewThread), nullptr));
  return false;
}

void CAnimeFrame::StopThreads() {
  if (m_pRequestThread) {
    m_pRequestThread->Continue();
    m_pRequestThread->SetRun(false);
    // Bounded: every wait of the request thread is sliced, and a reply in
    // flight is waited for at most LIVE_INFLIGHT_WAIT_MS. Only a request
    // stuck inside the device library keeps it longer.
    bool ended = false;
    for (DWORD waited = 0; waited < LIVE_STOP_LIMIT_MS; waited += LIVE_WAIT_SLICE_MS) {
      if (m_pRequestThread->Join(LIVE_WAIT_SLICE_MS)) {
        ended = true;
        break;
      }
    }
    if (!ended) {
      TraceLog(TRC_PRE, "CAnimeFrame::StopThreads", "The live threads did not end in time.");
      // The request thread is left behind with what it uses (the view
      // thread's object, the drawn event), none of which points at the view:
      // the view thread itself ends now, cut off from the view.
      m_pRequestThread->Abandon();
      if (m_pViewThread) {
        m_pViewThread->GetReceiver().Detach();
        PostThreadMessage(m_pViewThread->GetThreadId(), WM_QUIT, 0, 0);
        m_pViewThread->Resume();
        if (!m_pViewThread->Join(LIVE_VIEW_END_WAIT_MS))
          TraceLog(TRC_PRE, "CAnimeFrame::StopThreads", "The view thread did not end in time.");
      }
      // Freed together once both have ended, and at the program's exit.
      KeepLateThread(std::make_unique<CLateLiveThreads>(std::move(m_pRequestThread), std::move(m_pViewThread),
                                                        std::move(m_pDrawnEvent)));
      return;
    }
  }
  EndViewThread();
  m_pRequestThread.reset();
  m_pDrawnEvent.reset();
}

void CAnimeFrame::SuspendThreads() {
  if (m_pRequestThread) m_pRequestThread->Pause();
}

void CAnimeFrame::ResumeThreads() {
  if (m_pRequestThread) m_pRequestThread->Continue();
}

bool CAnimeFrame::IsSuspended() const { return m_pRequestThread && m_pRequestThread->IsPaused(); }

BOOL CAnimeFrame::DrawKeptFrame() {
  if (!m_pViewThread) return FALSE;
  return m_pViewThread->GetReceiver().DrawView();
}

void CAnimeFrame::PostRedraw() {
  if (m_pViewThread) PostThreadMessage(m_pViewThread->GetThreadId(), WM_ANIME_DRAW, 0, 0);
}

void CAnimeFrame::ApplySizeStep(int step) {
  if (!m_pView || step <= 0) return;
  const int oldStep = m_pView->GetSizeStep();
  QSize picture(GetDocument()->GetPictureWidth(), GetDocument()->GetPictureHeight());
  if (picture.isEmpty()) {
    const QSize live = m_pMainFrame ? m_pMainFrame->GetLiveSize() : QSize(1024, 768);
    picture = QSize(live.width() / oldStep, live.height() / oldStep);
  }
  const QSize client(picture.width() * oldStep / step, picture.height() * oldStep / step);
  m_pView->SetSizeStep(step);
  FitToClient(client);
  UpdateTitle(oldStep);
  PostRedraw();
}

// ------------------------------------------------------------ commands

void CAnimeFrame::SetFullScreen() {
  if (m_pMainFrame) m_pMainFrame->SetRemoteCtrlTopMost(true);
  if (!m_pView || !m_pView->ViewFullScreen()) {
    TraceLog(TRC_PRE, "CAnimeFrame::SetFullScreen", "The error occurred with the [ViewFullScreen()] function.");
    if (m_pMainFrame) m_pMainFrame->SetRemoteCtrlTopMost(false);
  }
}

bool CAnimeFrame::OnCmdMsg(int id) {
  if (!m_pView) return false;
  switch (id) {
    case ID_VIEW_FULLSCREEN: SetFullScreen(); return true;
    case ID_VIEW_ZOOMIN:
    case ID_VIEW_ZOOMOUT:
    case ID_VIEW_ACTUALSIZE: {
      const double z = GetDocument()->GetZoom();
      const double next = id == ID_VIEW_ZOOMIN ? ZoomIn(z) : id == ID_VIEW_ZOOMOUT ? ZoomOut(z) : 1.0;
      m_pView->SetZoom(next);
      UpdateTitle(m_pView->GetSizeStep());
      return true;
    }
    default: return false;
  }
}

bool CAnimeFrame::OnUpdateCmdUI(CCmdUI* ui) {
  switch (ui->id) {
    case ID_VIEW_FULLSCREEN:
    case ID_VIEW_ZOOMIN:
    case ID_VIEW_ZOOMOUT:
    case ID_VIEW_ACTUALSIZE:
      ui->Enable(m_pView != nullptr);
      return true;
    default: return false;
  }
}

LRESULT CAnimeFrame::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CHILD_POSTCREATE:
      if (m_pMainFrame) m_pMainFrame->AdvanceNextChildPos();
      UpdateTitle(0);
      return 0;
    case WM_UPDATE_TITLE: UpdateTitle(static_cast<int>(wParam)); return 0;
    case WM_ANIME_SUSPEND:
      SuspendThreads();
      if (m_pMainFrame) m_pMainFrame->SetLiveRunning(FALSE);
      return 0;
    case WM_ANIME_ERROR:
      if (m_pMainFrame) PostMessage(m_pMainFrame->GetSafeHwnd(), WM_ANIME_ERROR, wParam, 0);
      return 0;
    case WM_ANIME_FRAMESIZE:
      FitToClient(QSize(GetDocument()->GetPictureWidth(), GetDocument()->GetPictureHeight()));
      UpdateTitle(static_cast<int>(wParam));
      return 0;
    default: return CChildFrame::WindowProc(msg, wParam, lParam);
  }
}

void CAnimeFrame::closeEvent(QCloseEvent* event) {
  if (g_bClosing) {
    event->ignore();
    return;
  }
  g_bClosing = true;
  StopThreads();
  g_bClosing = false;
  if (m_pMainFrame && m_pMainFrame->GetLiveFrame() == this) m_pMainFrame->ClearLiveFrame();
  CChildFrame::closeEvent(event);
}

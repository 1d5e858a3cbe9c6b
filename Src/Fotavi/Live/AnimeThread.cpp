#include "Live/AnimeThread.h"

#include "Live/AnimeView.h"
#include "Common/TraceLog.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Time.h"
#include "App/Resource.h"

BOOL PostToLiveThread(DWORD threadId, UINT msg, DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 5) {
    if (PostThreadMessage(threadId, msg, 0, 0)) return TRUE;
    if (waited >= timeoutMs) return FALSE;
    Sleep(5);
  }
}

// ============================================================ CViewJpeg

namespace {
std::atomic<bool> g_bFailNextCreate{false};
std::atomic<DWORD> g_dwDelayNextCreate{0};
}  // namespace

void CViewJpeg::FailNextCreateForTest() { g_bFailNextCreate.store(true); }
void CViewJpeg::DelayNextCreateForTest(DWORD ms) { g_dwDelayNextCreate.store(ms); }

CViewJpeg::~CViewJpeg() {
  Destroy();
  ReleaseKept();
}

BOOL CViewJpeg::Create() {
  m_hWnd = CreateWindowTarget(
      [this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT { return WindowProc(msg, wParam, lParam); },
      "ViewAnime");
  return m_hWnd ? TRUE : FALSE;
}

void CViewJpeg::Destroy() {
  if (m_hWnd) DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
}

LRESULT CViewJpeg::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE) {
    if (const DWORD delay = g_dwDelayNextCreate.exchange(0)) Sleep(delay);
    if (g_bFailNextCreate.exchange(false)) return -1;
  }
  if (msg == WM_FOTAVI_REQUEST) return OnRequestComp(wParam, lParam);
  return 0;
}

void CViewJpeg::Detach() {
  std::lock_guard<std::mutex> guard(m_Lock);
  m_bStop.store(true);
  m_pView = nullptr;
  m_hFrame = nullptr;
}

void CViewJpeg::SetDrawn() {
  if (m_pDrawnEvent) m_pDrawnEvent->Set();
}

void CViewJpeg::ReleaseKept() {
  std::lock_guard<std::mutex> guard(m_Lock);
  FreeKept();
}

void CViewJpeg::FreeKept() {
  if (m_hKeptData) GlobalFree(m_hKeptData);
  m_hKeptData = nullptr;
  m_dwKeptLength = 0;
}

LRESULT CViewJpeg::OnRequestComp(WPARAM wParam, LPARAM lParam) {
  static const char* const kLog = "CViewJpeg::OnRequestComp";
  auto* rsp = reinterpret_cast<DEVICE_RSP*>(lParam);
  if (!rsp) {
    SetDrawn();
    return 0;
  }
  // Take what this frame needs and hand the record back at once: the
  // library may delete lent records when it closes itself (camera removed).
  const BOOL result = rsp->bResult;
  const DWORD error = rsp->dwError;
  const DWORD length = rsp->dwLength;
  HGLOBAL data = static_cast<HGLOBAL>(rsp->pData);
  const DWORD dispatcher = static_cast<DWORD>(wParam);
  PostThreadMessage(dispatcher, WM_FOTAVI_RELASERSP, 0, lParam);
  // The view and the frame are read under the lock: a stop that gives up on
  // the threads detaches them (Detach) before the view goes.
  std::lock_guard<std::mutex> guard(m_Lock);
  if (m_pView) m_pView->NoteReplyArrived();

  if (m_bStop.load()) {
    SetDrawn();
    if (data) GlobalFree(data);
    return 0;
  }

  if (result != TRUE) {
    SetDrawn();
    if (data) GlobalFree(data);
    ++m_nReplyErrorCount;
    TraceLog(TRC_PRE, kLog,
             "The error occurred with the [bRequest-Response] Device control. Detailed Error Code[0x%08X] "
             "ErrorCount = %d",
             error, m_nReplyErrorCount);
    if (m_nReplyErrorCount >= 3) {
      m_bStop.store(true);
      PostMessage(m_hFrame, WM_ANIME_ERROR, IDS_LIVE_ERROR, 0);
    }
    return 0;
  }

  // Release the request thread before decoding: the next request overlaps
  // the decoding and drawing of this frame.
  SetDrawn();
  m_nReplyErrorCount = 0;
  if (length == 0 || !data) {
    if (data) GlobalFree(data);
    m_bStop.store(true);
    PostMessage(m_hFrame, WM_CLOSE, 0, 0);
    return 0;
  }

  const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(data));
  const DWORD size = static_cast<DWORD>(std::min<size_t>(length, GlobalSize(data)));
  bool decoded = true;
  if (m_pView && bytes && !m_bStop.load()) {
    const int code = m_pView->LoadPicture(bytes, size);
    decoded = code != LOADPICT_DECODEFAILED;
    if (code == LOADPICT_OK) {
      m_nDecodeErrorCount = 0;
    } else {
      TraceLog(TRC_PRE, kLog, "The error occurred with the [LoadPicture()] function.");
      if (code == LOADPICT_DECODEFAILED) {
        if (m_nDecodeErrorCount >= 2) {
          m_bStop.store(true);
          PostMessage(m_hFrame, WM_ANIME_ERROR, IDS_LIVE_ERROR, 0);
        }
        ++m_nDecodeErrorCount;
        TraceLog(TRC_PRE, kLog, "The error occurred by the decoding JPEG data. ErrorCount = %d", m_nDecodeErrorCount);
      } else {
        m_bStop.store(true);
      }
    }
  }
  GlobalUnlock(data);
  if (!decoded) {
    // Redraws show the last good frame again: a frame that cannot be
    // decoded is never kept in its place.
    GlobalFree(data);
    return 0;
  }
  // Keep this frame for redraws; the older one goes.
  FreeKept();
  m_hKeptData = data;
  m_dwKeptLength = size;
  return 0;
}

BOOL CViewJpeg::DrawView() {
  std::lock_guard<std::mutex> guard(m_Lock);
  if (!m_hKeptData || !m_pView) return TRUE;
  const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(m_hKeptData));
  const int code = bytes ? m_pView->LoadPicture(bytes, m_dwKeptLength) : LOADPICT_DECODEFAILED;
  GlobalUnlock(m_hKeptData);
  if (code != LOADPICT_OK) {
    TraceLog(TRC_PRE, "CViewJpeg::DrawView", "The error occurred with the [LoadPicture()] function.");
    if (code == LOADPICT_DECODEFAILED) PostMessage(m_hFrame, WM_ANIME_ERROR, IDS_LIVE_DRAW_ERROR, 0);
    return FALSE;
  }
  return TRUE;
}

// ============================================================ CAnimeViewThread

CAnimeViewThread::CAnimeViewThread() : m_Thread([this] { Run(); }, true, "AnimeView") {}

CAnimeViewThread::~CAnimeViewThread() = default;

void CAnimeViewThread::Run() {
  RunMessageLoop([this](const MSG& msg) {
    if (msg.message == WM_ANIME_INITVIEW) {
      OnInitViewWnd();
    } else if (msg.message == WM_ANIME_DRAW) {
      m_Wnd.DrawView();
    }
  });
  // Replies queued behind the quit are lent records: each is handed back and
  // its block freed (the receiver takes no more frames), and a start still
  // waiting for the window hears that none was made. Only then does the
  // window go; replies still on their way find no target and stay with the
  // library, which deletes them when it closes.
  m_Wnd.StopTaking();
  bool quit = false;
  size_t handled = 0;
  do {
    quit = false;
    handled = DrainMessages(
        [this](const MSG& msg) {
          if (msg.message == WM_ANIME_INITVIEW) m_Handshake.Set();
        },
        &quit);
  } while (handled > 0 || quit);
  m_Wnd.Destroy();
}

bool CAnimeViewThread::MakeWindow(DWORD timeoutMs) {
  m_Handshake.Reset();
  if (!PostToLiveThread(m_Thread.id(), WM_ANIME_INITVIEW, timeoutMs)) return false;
  m_Handshake.Wait(timeoutMs);
  return m_bWndMade.load();
}

void CAnimeViewThread::OnInitViewWnd() {
  // The message box of a failed creation is the GUI thread's (the start).
  if (m_Wnd.Create()) {
    m_bWndMade.store(true);
  } else {
    TraceLog(TRC_PRE, "CAnimeViewThread::OnInitViewWnd", "The error occurred with the [CreateEx()] function.");
  }
  m_Handshake.Set();
}

// ============================================================ CViewAnimeThread

CViewAnimeThread::CViewAnimeThread(CDeviceInterface* device)
    : m_pDevice(device), m_Thread([this] { Run(); }, true, "AnimeRequest") {}

CViewAnimeThread::~CViewAnimeThread() = default;

void CViewAnimeThread::Init(HWND target, HWND frame, CAnimeViewThread* viewThread, CEvent* drawn) {
  m_hTarget = target;
  m_hFrame = frame;
  m_pViewThread = viewThread;
  m_pDrawnEvent = drawn;
}

void CViewAnimeThread::SetRun(bool run) {
  {
    std::lock_guard<std::mutex> guard(m_PauseLock);
    m_bRun.store(run);
  }
  m_PauseCond.notify_all();
}

void CViewAnimeThread::Pause() {
  std::lock_guard<std::mutex> guard(m_PauseLock);
  m_bPaused = true;
}

void CViewAnimeThread::Continue() {
  {
    std::lock_guard<std::mutex> guard(m_PauseLock);
    m_bPaused = false;
  }
  m_PauseCond.notify_all();
}

bool CViewAnimeThread::IsPaused() const {
  std::lock_guard<std::mutex> guard(m_PauseLock);
  return m_bPaused;
}

bool CViewAnimeThread::WaitWhilePaused() {
  std::unique_lock<std::mutex> lock(m_PauseLock);
  while (m_bPaused && m_bRun.load())
    m_PauseCond.wait_for(lock, std::chrono::milliseconds(LIVE_WAIT_SLICE_MS));
  return m_bRun.load();
}

bool CViewAnimeThread::WaitDrawn() {
  while (m_bRun.load()) {
    if (m_pDrawnEvent->Wait(LIVE_WAIT_SLICE_MS) == WAIT_OBJECT_0) return true;
  }
  return false;
}

void CViewAnimeThread::Run() {
  RunMessageLoop([this](const MSG& msg) {
    if (msg.message == WM_ANIME_REQUEST) OnViewAnimeReq();
  });
}

void CViewAnimeThread::OnViewAnimeReq() {
  static const char* const kLog = "CViewAnimeThread::OnViewAnimeReq";
  bool inFlight = false;
  while (m_bRun.load()) {
    if (!WaitWhilePaused()) break;
    const DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
    bool sent = false;
    for (int attempt = 1; attempt <= 3 && m_bRun.load(); ++attempt) {
      WORD sequence = 0;
      DWORD error = 0;
      if (m_pDevice && m_pDevice->bRequestAsync(m_hTarget, &cmd, &sequence, &error)) {
        sent = true;
        break;
      }
      TraceLog(TRC_PRE, kLog,
               "The error occurred with the [bRequestAsync] function of Device control. Detailed Error "
               "Code[0x%08X] ErrorCount = %d",
               error, attempt);
      if (attempt == 3) break;
      if (!m_pDevice || !m_pDevice->bIsConnected()) {
        TraceLog(TRC_PRE, kLog, "Because the device was a unconnection, retrying was discontinued.");
        break;
      }
      Sleep(100);
    }
    if (!sent) {
      if (m_bRun.load() && !m_bAbandoned.load()) PostMessage(m_hFrame, WM_ANIME_ERROR, IDS_LIVE_ERROR, 0);
      break;
    }
    inFlight = true;
    if (!WaitDrawn()) break;
    m_pDrawnEvent->Reset();
    inFlight = false;
  }
  // A stop while a request is in flight: give its reply a bounded time to
  // arrive so that the record goes back to the library.
  // A camera that is gone sends no reply (the library deletes the record).
  if (inFlight && !m_bAbandoned.load()) {
    for (DWORD waited = 0; waited < LIVE_INFLIGHT_WAIT_MS; waited += LIVE_WAIT_SLICE_MS) {
      if (m_pDrawnEvent->Wait(LIVE_WAIT_SLICE_MS) == WAIT_OBJECT_0) break;
      if (!m_pDevice || !m_pDevice->bIsConnected()) break;
    }
  }
  if (m_pViewThread) {
    PostThreadMessage(m_pViewThread->GetThreadId(), WM_QUIT, 0, 0);
    for (DWORD waited = 0; waited < 10000 && !m_pViewThread->Join(LIVE_WAIT_SLICE_MS); waited += LIVE_WAIT_SLICE_MS) {
    }
  }
  PostQuitMessage(0);
}

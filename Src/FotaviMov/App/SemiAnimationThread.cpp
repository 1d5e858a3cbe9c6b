#include "SemiAnimationThread.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "Common/TraceLog.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Time.h"

namespace {
// Slice of the thread's message wait while it waits for the last reply.
constexpr DWORD kEndSliceMs = 50;
// How long the destructor waits for a thread that was not ended first.
constexpr DWORD kDestroyWaitMs = LIVE_END_WAIT_MS + 2000;

void FreeData(DEVICE_RSP* rsp) {
  if (rsp && rsp->pData) {
    GlobalFree(static_cast<HGLOBAL>(rsp->pData));
    rsp->pData = nullptr;
  }
}
}  // namespace

// ============================================================ CMessageWnd

CMessageWnd::~CMessageWnd() { Destroy(); }

BOOL CMessageWnd::Create() {
  const HWND hwnd = CreateWindowTarget(
      [this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        return msg == WM_FOTAVI_REQUEST ? OnRequestComp(wParam, lParam) : 0;
      },
      "MessageWnd");
  m_hWnd.store(hwnd);
  return hwnd ? TRUE : FALSE;
}

void CMessageWnd::Destroy() {
  const HWND hwnd = m_hWnd.exchange(nullptr);
  if (hwnd) DestroyWindow(hwnd);
}

LRESULT CMessageWnd::OnRequestComp(WPARAM wParam, LPARAM lParam) {
  CSemiAnimationThread* owner = m_pOwner.load();
  if (owner && owner->PostThreadMessage(WM_SEMIANIMATION_BEGIN, wParam, lParam)) return 0;
  // Nobody takes the reply: it goes back to the library at once.
  auto* rsp = reinterpret_cast<DEVICE_RSP*>(lParam);
  FreeData(rsp);
  if (rsp) ::PostThreadMessage(static_cast<DWORD>(wParam), WM_FOTAVI_RELASERSP, 0, lParam);
  return 0;
}

// ============================================================ CSemiAnimationThread

CSemiAnimationThread::CSemiAnimationThread(CDeviceInterface* device, const CJpeg* jpeg)
    : m_pDevice(device), m_pJpeg(jpeg), m_Thread([this] { Run(); }, true, "SemiAnimation") {}

CSemiAnimationThread::~CSemiAnimationThread() {
  // The owner ends the thread before deleting it; should it not have, the
  // thread is told to end and given a bounded time to do so.
  if (!m_Thread.HasEnded()) {
    m_Thread.Resume();
    PostThreadMessage(WM_SEMIANIMATION_END, 0, 0);
    m_Thread.Join(kDestroyWaitMs);
  }
  m_MessageWnd.SetOwner(nullptr);
}

void CSemiAnimationThread::SetDecodeSize(int width, int height) {
  std::lock_guard<std::mutex> guard(m_PictureLock);
  m_nDecodeWidth = width;
  m_nDecodeHeight = height;
}

void CSemiAnimationThread::SetDrawSize(int width, int height) {
  std::lock_guard<std::mutex> guard(m_PictureLock);
  m_nDrawWidth = width;
  m_nDrawHeight = height;
}

int CSemiAnimationThread::SetDrawOffset(int left, int top) {
  m_nDrawLeft.store(left);
  m_nDrawTop.store(top);
  return left;
}

void CSemiAnimationThread::SetCounting(bool on) {
  if (on) m_nPictureCount.store(0);
  m_bCounting.store(on);
}

CBitmap24 CSemiAnimationThread::CopyPicture(int width, int height) {
  CBitmap24 held;
  {
    std::lock_guard<std::mutex> guard(m_PictureLock);
    held = m_HeldPicture;  // shares the rows; the held picture is replaced whole, never changed
  }
  if (held.isNull() || width <= 0 || height <= 0) return {};
  if (held.width() == width && held.height() == height) return held;
  return held.scaled(width, height, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

bool CSemiAnimationThread::HasPicture() {
  std::lock_guard<std::mutex> guard(m_PictureLock);
  return !m_HeldPicture.isNull();
}

namespace {
// One 24-bit pixel as a 32-bit pixel of the window's format (0xffRRGGBB):
// blue-green-red bytes are its low three bytes, little-endian.
inline quint32 WindowPixel(const uchar* s) { return 0xFF000000u | (s[2] << 16) | (s[1] << 8) | s[0]; }

// The picture at the size of `out`, in the window's 32-bit format, each
// target pixel taking the source pixel under its centre (the stretch that
// drops rows and columns, without blending). At the same size four pixels
// are read as three words and shifted into place; stretched, each row reads
// its pixels through a table of source offsets.
void ToWindowFormat(const CBitmap24& in, QImage* out, std::vector<int>* offsets) {
  const int width = out->width(), height = out->height();
  const int inWidth = in.width(), inHeight = in.height();
  uchar* rows = out->bits();
  const qsizetype stride = out->bytesPerLine();
  if (width == inWidth && height == inHeight) {
    for (int y = 0; y < height; ++y) {
      const uchar* s = in.constScanLine(y);
      auto* d = reinterpret_cast<quint32*>(rows + y * stride);
      int x = 0;
      for (; x + 4 <= width; x += 4, s += 12) {
        quint32 w0, w1, w2;
        std::memcpy(&w0, s, 4);
        std::memcpy(&w1, s + 4, 4);
        std::memcpy(&w2, s + 8, 4);
        d[x] = 0xFF000000u | w0;
        d[x + 1] = 0xFF000000u | (w0 >> 24) | (w1 << 8);
        d[x + 2] = 0xFF000000u | (w1 >> 16) | (w2 << 16);
        d[x + 3] = 0xFF000000u | (w2 >> 8);
      }
      for (; x < width; ++x, s += 3) d[x] = WindowPixel(s);
    }
    return;
  }
  offsets->resize(static_cast<size_t>(width));
  // Pixels whose four bytes from their offset stay inside the row are read
  // as one word; the last ones of a row byte by byte.
  int wordPixels = 0;
  for (int x = 0; x < width; ++x) {
    const int sx = static_cast<int>((2 * static_cast<int64_t>(x) + 1) * inWidth / (2 * static_cast<int64_t>(width)));
    (*offsets)[x] = 3 * sx;
    if (3 * sx + 4 <= 3 * inWidth) wordPixels = x + 1;
  }
  const int* off = offsets->data();
  for (int y = 0; y < height; ++y) {
    const int sy = static_cast<int>((2 * static_cast<int64_t>(y) + 1) * inHeight / (2 * static_cast<int64_t>(height)));
    const uchar* s = in.constScanLine(sy);
    auto* d = reinterpret_cast<quint32*>(rows + y * stride);
    int x = 0;
    for (; x < wordPixels; ++x) {
      quint32 w;
      std::memcpy(&w, s + off[x], 4);
      d[x] = 0xFF000000u | w;
    }
    for (; x < width; ++x) d[x] = WindowPixel(s + off[x]);
  }
}
}  // namespace

QRect CSemiAnimationThread::Draw(QPainter& painter) {
  CBitmap24 held;
  QRect target;
  {
    // Taken under the lock; painted outside it, so the thread can hold the
    // next picture meanwhile (the held rows are never changed in place).
    std::lock_guard<std::mutex> guard(m_PictureLock);
    held = m_HeldPicture;
    target = QRect(m_nDrawLeft.load(), m_nDrawTop.load(), m_nDrawWidth, m_nDrawHeight);
  }
  if (held.isNull() || target.width() <= 0 || target.height() <= 0) return QRect();
  // Made at the size the picture covers on the device, so that the painter
  // only copies it.
  const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  const QSize pixels(qMax(1, qRound(target.width() * ratio)), qMax(1, qRound(target.height() * ratio)));
  if (m_DrawPicture.isNull() || m_nDrawSourceKey != held.cacheKey() || m_DrawPicture.size() != pixels) {
    if (m_DrawPicture.size() != pixels || !m_DrawPicture.isDetached())
      m_DrawPicture = QImage(pixels, QImage::Format_RGB32);
    if (m_DrawPicture.isNull()) return QRect();
    ToWindowFormat(held, &m_DrawPicture, &m_DrawOffsets);
    m_DrawPicture.setDevicePixelRatio(ratio);
    m_nDrawSourceKey = held.cacheKey();
  }
  painter.drawImage(target.topLeft(), m_DrawPicture);
  return target;
}

void CSemiAnimationThread::Run() {
  for (;;) {
    MSG msg;
    if (GetMessageTimeout(&msg, kEndSliceMs) == WAIT_TIMEOUT) {
      // Ending with a reply in flight: give up waiting for it once the time
      // is over or the camera has gone (the library keeps the record then).
      if (m_bEnding && (GetTickCount() - m_dwEndStarted >= LIVE_END_WAIT_MS || !m_pDevice ||
                        !m_pDevice->bIsConnected()))
        break;
      continue;
    }
    if (msg.message == WM_QUIT) break;
    if (msg.hwnd) {
      DispatchMessage(&msg);
      continue;
    }
    switch (msg.message) {
      case WM_SEMIANIMATION_INIT:
        OnSemiAnimationInit(reinterpret_cast<ANIMATIONINITPARAM*>(msg.wParam));
        break;
      case WM_JPEG_READ:
        OnJpegRead();
        break;
      case WM_SEMIANIMATION_BEGIN:
        OnSemiAnimationBegin(static_cast<DWORD>(msg.wParam), reinterpret_cast<DEVICE_RSP*>(msg.lParam));
        break;
      case WM_SEMIANIMATION_END:
        OnSemiAnimationEnd();
        break;
      default:
        break;
    }
  }
  ExitInstance();
}

void CSemiAnimationThread::OnSemiAnimationInit(ANIMATIONINITPARAM* param) {
  if (!param) return;
  m_hViewWnd.store(param->hViewWnd);
  if (!m_MessageWnd.GetSafeHwnd() && !m_MessageWnd.Create())
    TraceLog(TRC_MOV, "CSemiAnimationThread::OnSemiAnimationInit", "The error occurred with the [CreateEx()] function.");
  if (param->pInitEvent) param->pInitEvent->Set();
}

void CSemiAnimationThread::OnJpegRead() {
  static const char* const kLog = "CSemiAnimationThread::OnJpegRead";
  if (m_bStop.load() || m_bInFlight.load()) return;  // one request in flight at a time
  const DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  DWORD error = 0;
  for (int attempts = 0;;) {
    WORD sequence = 0;
    error = 0;
    if (m_pDevice && m_pDevice->bRequestAsync(m_MessageWnd.GetSafeHwnd(), &cmd, &sequence, &error)) {
      m_bInFlight.store(true);
      return;
    }
    ++attempts;
    TraceLog(TRC_MOV, kLog,
             "The error occurred with the [bRequestAsync] function of Device control. Detailed Error Code[0x%08X] "
             "ErrorCount = %d",
             error, attempts);
    if (attempts >= LIVE_REQUEST_ATTEMPTS) break;
    if (!m_pDevice || !m_pDevice->bIsConnected()) {
      TraceLog(TRC_MOV, kLog, "Because the device was a unconnection, retrying was discontinued.");
      break;
    }
    Sleep(LIVE_RETRY_PAUSE_MS);
  }
  TraceLog(TRC_MOV, kLog, "It faied in bRequestAsync dwError[0x%08x]", error);
  StopWithError(SEMIANIMATION_FAILED);
}

void CSemiAnimationThread::OnSemiAnimationBegin(DWORD dispatcher, DEVICE_RSP* rsp) {
  static const char* const kLog = "CSemiAnimationThread::OnSemiAnimationBegin";
  if (rsp) {
    if (rsp->bResult == TRUE) {
      m_nDeviceErrors = 0;
      const HGLOBAL data = static_cast<HGLOBAL>(rsp->pData);
      rsp->pData = nullptr;
      TakeFrame(data, rsp->dwLength);
    } else {
      FreeData(rsp);
      if (rsp->dwError != ERR_FOTAVI_READZERO && !m_bStop.load()) {
        ++m_nDeviceErrors;
        TraceLog(TRC_MOV, kLog,
                 "The error occurred with the [bRequest-Response] Device control. Detailed Error Code[0x%08X] "
                 "ErrorCount = %d",
                 rsp->dwError, m_nDeviceErrors);
        if (m_nDeviceErrors >= LIVE_MAX_DEVICE_ERRORS) {
          TraceLog(TRC_MOV, kLog,
                   "The error occurred with the [bRequest-Response] Device control. Detailed Error Code[0x%08X]",
                   rsp->dwError);
          StopWithError(SEMIANIMATION_FAILED);
        }
      }
    }
    HandBack(dispatcher, rsp);
  }
  m_bInFlight.store(false);
  if (m_bEnding) {
    PostQuitMessage(0);
  } else if (!m_bStop.load()) {
    std::this_thread::yield();
    PostThreadMessage(WM_JPEG_READ, 0, 0);
  }
  // After the first reply of any kind.
  if (m_bFirstReply.load()) SetWaitEventOnce();
}

void CSemiAnimationThread::TakeFrame(HGLOBAL data, DWORD length) {
  static const char* const kLog = "CSemiAnimationThread::OnSemiAnimationBegin";
  CBitmap24 picture;
  BOOL decoded = FALSE;
  if (data && !m_bStop.load()) {
    const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(data));
    const DWORD size = static_cast<DWORD>(std::min<size_t>(length, GlobalSize(data)));
    int width = 0, height = 0;
    {
      std::lock_guard<std::mutex> guard(m_PictureLock);
      width = m_nDecodeWidth;
      height = m_nDecodeHeight;
    }
    if (bytes && size > 0 && m_pJpeg) decoded = m_pJpeg->Load(&picture, bytes, size, false, width, height, 0);
    GlobalUnlock(data);
  }
  if (data) GlobalFree(data);
  if (m_bStop.load()) return;
  if (decoded && !picture.isNull()) {
    m_nDecodeErrors = 0;
    {
      std::lock_guard<std::mutex> guard(m_PictureLock);
      m_HeldPicture = std::move(picture);
      if (m_bCounting.load()) m_nPictureCount.fetch_add(1);
    }
    if (!m_bDrawPending.exchange(true)) {
      if (!PostMessage(m_hViewWnd.load(), WM_SEMIANIMATION_DRAW, 0, 0)) m_bDrawPending.store(false);
    }
    return;
  }
  if (length == 0) {
    StopWithError(SEMIANIMATION_EMPTY);
    return;
  }
  if (m_nDecodeErrors < LIVE_MAX_DECODE_ERRORS - 1) {
    ++m_nDecodeErrors;
    TraceLog(TRC_MOV, kLog, "The error occurred by the decoding JPEG data. ErrorCount = %d", m_nDecodeErrors);
    return;
  }
  StopWithError(SEMIANIMATION_FAILED);
  TraceLog(TRC_MOV, kLog, "It faied in CJpeg::Load().");
}

void CSemiAnimationThread::OnSemiAnimationEnd() {
  m_bStop.store(true);
  if (!m_bInFlight.load()) {
    PostQuitMessage(0);
    return;
  }
  // The reply in flight is handled and handed back first (bounded in Run).
  if (!m_bEnding) {
    m_bEnding = true;
    m_dwEndStarted = GetTickCount();
  }
}

void CSemiAnimationThread::StopWithError(WPARAM code) {
  m_bStop.store(true);
  PostMessage(m_hViewWnd.load(), WM_SEMIANIMATION_ERROR, code, 0);
  // A recording waiting for the first picture must not wait for ever.
  SetWaitEventOnce();
}

void CSemiAnimationThread::SetWaitEventOnce() {
  CEvent* event = m_pWaitEvent.load();
  if (!event) return;
  event->Set();
  m_bFirstReply.store(false);
}

void CSemiAnimationThread::HandBack(DWORD dispatcher, DEVICE_RSP* rsp) {
  FreeData(rsp);
  ::PostThreadMessage(dispatcher, WM_FOTAVI_RELASERSP, 0, reinterpret_cast<LPARAM>(rsp));
}

void CSemiAnimationThread::ExitInstance() {
  // No reply can reach the window from now on; what already waits in the
  // queue goes back to the library, and a view still waiting for the start
  // is released.
  m_MessageWnd.Destroy();
  m_bStop.store(true);
  MSG msg;
  while (PeekMessage(&msg, TRUE)) {
    if (msg.message == WM_SEMIANIMATION_BEGIN || (msg.hwnd && msg.message == WM_FOTAVI_REQUEST)) {
      if (msg.lParam) HandBack(static_cast<DWORD>(msg.wParam), reinterpret_cast<DEVICE_RSP*>(msg.lParam));
    } else if (msg.message == WM_SEMIANIMATION_INIT && msg.wParam) {
      auto* param = reinterpret_cast<ANIMATIONINITPARAM*>(msg.wParam);
      if (param->pInitEvent) param->pInitEvent->Set();
    }
  }
  m_bInFlight.store(false);
  SetWaitEventOnce();
  std::lock_guard<std::mutex> guard(m_PictureLock);
  m_HeldPicture = CBitmap24();
}

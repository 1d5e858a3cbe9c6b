// The movie program's live picture: one thread with its own message queue
// (CSemiAnimationThread) and, made on it, the hidden window "MessageWnd"
// (CMessageWnd) that receives the device library's completions.
//
// The thread asks for one JPEG frame at a time (command 0x808E). The reply
// reaches the hidden window, which hands it to the thread; the thread
// decodes it, keeps the picture as the held picture, hands the record back
// to the library, tells the view that a new picture is held, and only then
// posts itself the next request. The view paints the held picture on the
// GUI thread (Draw); the recording copies it for every recorded frame
// (CopyPicture, from the frame clock's thread). Neither the thread nor the
// window touches a widget.
#pragma once

#include <QPainter>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "Common/Bitmap.h"
#include "Common/Jpeg.h"
#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Messages.h"
#include "Platform/Sync.h"
#include "MovieDefs.h"
#include "Platform/Types.h"

// The live-picture thread's messages are the program's (MovieDefs.h):
// WM_JPEG_READ asks for the next frame; WM_SEMIANIMATION_INIT (wParam
// ANIMATIONINITPARAM*) makes the hidden window; WM_SEMIANIMATION_BEGIN
// (wParam dispatcher thread, lParam DEVICE_RSP*) is one reply;
// WM_SEMIANIMATION_END finishes after the reply in flight; posted to the view
// window, WM_SEMIANIMATION_ERROR: wParam 1 failed (show 141), 2 empty reply
// (silent).
constexpr UINT WM_SEMIANIMATION_DRAW = 0x473;   // a new picture is held; repaint (at most one outstanding)

constexpr WPARAM SEMIANIMATION_FAILED = 1;
constexpr WPARAM SEMIANIMATION_EMPTY = 2;

// How many attempts a request gets, and the pause between them.
constexpr int LIVE_REQUEST_ATTEMPTS = 3;
constexpr DWORD LIVE_RETRY_PAUSE_MS = 100;
// Replies in a row that fail, and frames in a row that do not decode, before
// the live picture stops.
constexpr int LIVE_MAX_DEVICE_ERRORS = 3;
constexpr int LIVE_MAX_DECODE_ERRORS = 3;
// How long the end waits for the reply of a request in flight; a camera
// that went away sends none (the library keeps the record).
constexpr DWORD LIVE_END_WAIT_MS = 3000;

class CSemiAnimationThread;

// The thread's start-up record: the view's window and the event set once
// the hidden window exists ("SemiAnimationInitEvent").
struct ANIMATIONINITPARAM {
  HWND hViewWnd = nullptr;
  CEvent* pInitEvent = nullptr;
};

class CMessageWnd {
 public:
  CMessageWnd() = default;
  ~CMessageWnd();
  CMessageWnd(const CMessageWnd&) = delete;
  CMessageWnd& operator=(const CMessageWnd&) = delete;

  // Makes the hidden window "MessageWnd" on the calling thread.
  BOOL Create();
  void Destroy();
  HWND GetSafeHwnd() const { return m_hWnd.load(); }
  void SetOwner(CSemiAnimationThread* thread) { m_pOwner.store(thread); }

  // WM_FOTAVI_REQUEST: hands the reply to the owning thread unchanged, or
  // straight back to the library when there is no owner to take it.
  LRESULT OnRequestComp(WPARAM wParam, LPARAM lParam);

 private:
  std::atomic<HWND> m_hWnd{nullptr};
  std::atomic<CSemiAnimationThread*> m_pOwner{nullptr};
};

class CSemiAnimationThread {
 public:
  // Made suspended; `device` and `jpeg` must outlive the thread.
  CSemiAnimationThread(CDeviceInterface* device, const CJpeg* jpeg);
  // Waits (bounded) for a thread that still runs; call after it has ended.
  ~CSemiAnimationThread();
  CSemiAnimationThread(const CSemiAnimationThread&) = delete;
  CSemiAnimationThread& operator=(const CSemiAnimationThread&) = delete;

  BOOL ResumeThread() { return m_Thread.Resume() ? TRUE : FALSE; }
  DWORD GetThreadId() const { return m_Thread.id(); }
  BOOL PostThreadMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return ::PostThreadMessage(m_Thread.id(), msg, wParam, lParam);
  }
  // Waits at most `timeoutMs` for the thread's end.
  bool WaitForEnd(DWORD timeoutMs) { return m_Thread.Join(timeoutMs); }
  bool HasEnded() const { return m_Thread.HasEnded(); }

  // "SemiAnimationWaitEvent" (not owned): set after the first reply, and
  // whenever the live picture stops for good, so that a recording waiting
  // for the first picture is never left waiting.
  void SetWaitEvent(CEvent* event) { m_pWaitEvent.store(event); }
  void SetDecodeSize(int width, int height);
  void SetDrawSize(int width, int height);
  int SetDrawOffset(int left, int top);
  void SetCounting(bool on);
  int GetPictureCount() const { return m_nPictureCount.load(); }
  // A copy of the held picture at width x height (stretched when the size
  // differs); a null picture when none is held. The copy is the caller's.
  CBitmap24 CopyPicture(int width, int height);
  bool HasPicture();
  // Paints the held picture stretched to the draw rectangle (GUI thread);
  // returns the rectangle painted, empty when no picture is held.
  QRect Draw(QPainter& painter);
  // The view took WM_SEMIANIMATION_DRAW: the next new picture posts again.
  void ClearDrawPending() { m_bDrawPending.store(false); }

  CMessageWnd& GetMessageWnd() { return m_MessageWnd; }
  HWND GetMessageHwnd() const { return m_MessageWnd.GetSafeHwnd(); }
  bool IsStopped() const { return m_bStop.load(); }
  bool IsInFlight() const { return m_bInFlight.load(); }

 private:
  void Run();
  void OnSemiAnimationInit(ANIMATIONINITPARAM* param);
  void OnJpegRead();
  void OnSemiAnimationBegin(DWORD dispatcher, DEVICE_RSP* rsp);
  void OnSemiAnimationEnd();
  // Decodes one good reply's data; posts the errors that stop the loop.
  void TakeFrame(HGLOBAL data, DWORD length);
  // Stops the loop for good and tells the view (wParam 1 or 2).
  void StopWithError(WPARAM code);
  void SetWaitEventOnce();
  void ExitInstance();
  static void HandBack(DWORD dispatcher, DEVICE_RSP* rsp);

  CDeviceInterface* m_pDevice;
  const CJpeg* m_pJpeg;
  std::atomic<HWND> m_hViewWnd{nullptr};
  std::mutex m_PictureLock;  // the held picture, the decode and draw sizes
  CBitmap24 m_HeldPicture;
  // The held picture in the window's 32-bit format at the size it is drawn,
  // made by Draw once for each new picture: the raster painter converts
  // 24-bit blue-green-red pixels on a slow path, and stretches on another;
  // one pass does both, and painting is a plain copy. GUI thread only.
  QImage m_DrawPicture;
  qint64 m_nDrawSourceKey = 0;
  std::vector<int> m_DrawOffsets;  // source byte offset of each target column
  int m_nDecodeWidth = 0;
  int m_nDecodeHeight = 0;
  int m_nDrawWidth = 0;
  int m_nDrawHeight = 0;
  std::atomic<bool> m_bFirstReply{true};
  std::atomic<CEvent*> m_pWaitEvent{nullptr};
  std::atomic<int> m_nDrawLeft{0};
  std::atomic<int> m_nDrawTop{0};
  std::atomic<int> m_nPictureCount{0};
  std::atomic<bool> m_bCounting{false};
  int m_nDecodeErrors = 0;  // this thread only
  int m_nDeviceErrors = 0;  // this thread only
  CMessageWnd m_MessageWnd;
  std::atomic<bool> m_bStop{false};
  std::atomic<bool> m_bInFlight{false};
  std::atomic<bool> m_bDrawPending{false};
  bool m_bEnding = false;  // this thread only
  DWORD m_dwEndStarted = 0;
  CPlatformThread m_Thread;
};

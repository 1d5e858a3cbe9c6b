// The live monitor's two worker threads and the receiving window.
//
// The request thread (CViewAnimeThread) asks the camera for one JPEG frame
// at a time and waits until the reply has arrived before it asks again. The
// view thread (CAnimeViewThread) owns the receiving window (CViewJpeg,
// "ViewAnime"): it takes each reply, copies what it needs, hands the record
// back to the library at once, releases the request thread (so the next
// request overlaps the decoding of this frame), decodes the frame into the
// live document's picture holder and tells the live view, which paints on
// the GUI thread. Neither thread touches a widget.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Messages.h"
#include "Platform/Sync.h"
#include "Platform/Types.h"

class CAnimeView;

// Decode results of CAnimeView::LoadPicture.
constexpr int LOADPICT_OK = 0;
constexpr int LOADPICT_DRAWFAILED = 1;
constexpr int LOADPICT_DECODEFAILED = 2;

// Slice of every wait of the live threads, so that a cleared run flag is
// seen quickly.
constexpr DWORD LIVE_WAIT_SLICE_MS = 50;
// How long a stop waits for the reply of a request in flight.
constexpr DWORD LIVE_INFLIGHT_WAIT_MS = 2000;
// How long the start waits for the view thread's receiving window.
constexpr DWORD LIVE_HANDSHAKE_WAIT_MS = 10000;
// How long a stop waits for the request thread (a request stuck in the
// device library); then it leaves that thread behind, cut off from the view.
constexpr DWORD LIVE_STOP_LIMIT_MS = 15000;
// How long a stop waits for the view thread.
constexpr DWORD LIVE_VIEW_END_WAIT_MS = 5000;

// Posts to a live thread that was just resumed: a thread whose queue does
// not take messages yet is asked again, for at most `timeoutMs`. FALSE when
// the post never went through.
BOOL PostToLiveThread(DWORD threadId, UINT msg, DWORD timeoutMs);

class CViewJpeg {
 public:
  CViewJpeg() = default;
  ~CViewJpeg();
  CViewJpeg(const CViewJpeg&) = delete;
  CViewJpeg& operator=(const CViewJpeg&) = delete;

  // Makes the invisible receiving window on the calling thread.
  BOOL Create();
  void Destroy();
  HWND GetSafeHwnd() const { return m_hWnd; }
  void Init(CAnimeView* view, HWND frame, CEvent* drawn) {
    m_pView = view;
    m_hFrame = frame;
    m_pDrawnEvent = drawn;
  }

  // WM_FOTAVI_REQUEST: wParam the library's dispatcher thread, lParam the record.
  LRESULT OnRequestComp(WPARAM wParam, LPARAM lParam);
  // Decodes the kept frame again (after a size-step change, or when full
  // screen begins or ends while the live monitor is not running).
  BOOL DrawView();
  // Frees the kept frame.
  void ReleaseKept();
  // Cuts the window off from the view and the frame: replies that still come
  // are handed back and go no further (the view is about to be destroyed).
  void Detach();
  // The thread is ending: replies that still come are only handed back, and
  // the view and frame stay attached for redraws of the kept frame.
  void StopTaking() { m_bStop.store(true); }
  // Test hooks: the next Create fails as a failed window creation does, or
  // takes `ms` longer (a view thread that answers the start late).
  static void FailNextCreateForTest();
  static void DelayNextCreateForTest(DWORD ms);

 private:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  void SetDrawn();
  void FreeKept();  // m_Lock held

  HWND m_hWnd = nullptr;
  CAnimeView* m_pView = nullptr;
  HWND m_hFrame = nullptr;
  CEvent* m_pDrawnEvent = nullptr;
  std::atomic<bool> m_bStop{false};
  // The last good frame, owned (the record itself went back at once).
  // Lock order: m_Lock, then the view's and the holder's locks.
  std::mutex m_Lock;
  HGLOBAL m_hKeptData = nullptr;
  DWORD m_dwKeptLength = 0;
  int m_nDecodeErrorCount = 0;
  int m_nReplyErrorCount = 0;
};

class CAnimeViewThread {
 public:
  CAnimeViewThread();
  ~CAnimeViewThread();
  CAnimeViewThread(const CAnimeViewThread&) = delete;
  CAnimeViewThread& operator=(const CAnimeViewThread&) = delete;

  void Init(CAnimeView* view, HWND frame, CEvent* drawn) { m_Wnd.Init(view, frame, drawn); }
  BOOL Resume() { return m_Thread.Resume() ? TRUE : FALSE; }
  DWORD GetThreadId() const { return m_Thread.id(); }
  bool Join(DWORD timeoutMs) { return m_Thread.Join(timeoutMs); }
  bool HasEnded() const { return m_Thread.HasEnded(); }
  // Asks the thread for its receiving window and waits for the answer, at
  // most `timeoutMs`. The handshake event belongs to this object, so an
  // answer that comes after the wait gave up still finds it.
  bool MakeWindow(DWORD timeoutMs);
  bool IsWindowMade() const { return m_bWndMade.load(); }
  CViewJpeg& GetReceiver() { return m_Wnd; }

 private:
  void Run();
  void OnInitViewWnd();

  CViewJpeg m_Wnd;
  std::atomic<bool> m_bWndMade{false};
  CEvent m_Handshake{true, false};
  CPlatformThread m_Thread;
};

class CViewAnimeThread {
 public:
  explicit CViewAnimeThread(CDeviceInterface* device);
  ~CViewAnimeThread();
  CViewAnimeThread(const CViewAnimeThread&) = delete;
  CViewAnimeThread& operator=(const CViewAnimeThread&) = delete;

  void Init(HWND target, HWND frame, CAnimeViewThread* viewThread, CEvent* drawn);
  BOOL Resume() { return m_Thread.Resume() ? TRUE : FALSE; }
  DWORD GetThreadId() const { return m_Thread.id(); }
  bool Join(DWORD timeoutMs) { return m_Thread.Join(timeoutMs); }
  bool HasEnded() const { return m_Thread.HasEnded(); }

  void SetRun(bool run);
  // The stop gave up on this thread (a request stuck in the device library):
  // once that request returns, the thread ends at once, touching neither the
  // device nor the frame again.
  void Abandon() { m_bAbandoned.store(true); }
  // Pause at the top of the request loop; pauses do not nest.
  void Pause();
  void Continue();
  bool IsPaused() const;

 private:
  void Run();
  void OnViewAnimeReq();
  bool WaitWhilePaused();
  // Waits for the drawn event in slices while the run flag is set.
  bool WaitDrawn();

  CDeviceInterface* m_pDevice;
  HWND m_hTarget = nullptr;
  HWND m_hFrame = nullptr;
  CAnimeViewThread* m_pViewThread = nullptr;
  CEvent* m_pDrawnEvent = nullptr;
  mutable std::mutex m_PauseLock;
  std::condition_variable m_PauseCond;
  bool m_bPaused = false;
  std::atomic<bool> m_bRun{false};
  std::atomic<bool> m_bAbandoned{false};
  CPlatformThread m_Thread;
};

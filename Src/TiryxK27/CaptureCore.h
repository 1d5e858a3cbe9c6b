// The capture dialog's behaviour without its window: the preview thread,
// the picture step, the enable rules of its buttons, the camera buttons'
// commands and the device arrival and removal handling. The window (a thin
// Qt dialog) shows what this core tells its view and forwards the clicks.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "Bitmap.h"
#include "DSImage.h"
#include "DeviceLink.h"
#include "Platform/Messages.h"
#include "Platform/Sync.h"

// Controls of the capture dialog.
constexpr int IDC_TWAIN_STILL = 2011;
constexpr int IDC_TWAIN_PLAY = 5;
constexpr int IDC_TWAIN_STOP = 6;
constexpr int IDC_TWAIN_TRANSFER = 3;
constexpr int IDC_TWAIN_CLOSE = 2;
constexpr int IDC_TWAIN_ABOUT = 4;
constexpr int IDC_TWAIN_PREVIEW = 2013;
constexpr int IDC_IRIS_OPEN = 2004;
constexpr int IDC_IRIS_CLOSE = 2005;
constexpr int IDC_IRIS_NORMAL = 2012;
constexpr int IDC_FOCUS_NEAR = 2006;
constexpr int IDC_FOCUS_FAR = 2007;
constexpr int IDC_FOCUS_AUTO = 2008;
constexpr int IDC_ZOOM_TELE = 2009;
constexpr int IDC_ZOOM_WIDE = 2010;

// Messages of the preview thread.
constexpr UINT WM_LIVE_NEXT = WM_USER + 1002;     // take one preview picture
constexpr UINT WM_LIVE_ENABLE = WM_USER + 1003;   // enable TRANSFER by the transfer-allowed flag
constexpr UINT WM_LIVE_FAILED = WM_USER + 1004;   // the preview failed
constexpr UINT WM_LIVE_STARTED = WM_USER + 2000;  // the thread's own start echo

// One camera button: its control, its parameter and its camera command.
struct CameraButtonInfo {
  int id;
  const char* caption;
  DWORD parameter;
  WORD command;
};
// The eight camera buttons in dialog order.
const CameraButtonInfo* CameraButtons(size_t* count);
const CameraButtonInfo* FindCameraButton(int id);

// A command a camera button sends: (value, command), synchronously or not.
struct CameraKeySend {
  DWORD value;
  WORD command;
  bool synchronous;
};
std::optional<CameraKeySend> CameraPressAction(int id);
std::optional<CameraKeySend> CameraReleaseAction(int id);

// What the core asks of its window. Every call may come from any thread;
// the window carries it out on its own thread without making the caller
// wait for it.
class ICaptureView {
 public:
  virtual ~ICaptureView() = default;
  virtual void EnableControl(int id, bool enable) = 0;
  virtual void FocusControl(int id) = 0;
  // The picture to show in the preview (a value: the core keeps no share).
  virtual void ShowPreview(const CBitmap24& picture) = 0;
  // The preview area's client size (0 x 0 when it has none).
  virtual void PreviewSize(int* width, int* height) = 0;
  virtual void ShowMessage(const std::string& text) = 0;
};

// The state machine as the dialog sees it.
class ICaptureOwner {
 public:
  virtual ~ICaptureOwner() = default;
  // TRANSFER: the held still picture is offered to the application.
  virtual void OnUserTransfer() = 0;
  // CLOSE: ask the application to close the source.
  virtual void OnUserClose() = 0;
};

class CCaptureCore {
 public:
  // `view` may be NULL (no window: a still picture taken without the user).
  CCaptureCore(CDeviceLink* link, CDSImage* image, ICaptureOwner* owner, ICaptureView* view);
  ~CCaptureCore();
  CCaptureCore(const CCaptureCore&) = delete;
  CCaptureCore& operator=(const CCaptureCore&) = delete;

  // Starts the preview thread and waits for its start echo; sets the
  // initial enable states. FALSE when the thread does not come up.
  bool Start();
  // Stops the preview and ends the preview thread (bounded waits).
  void StopLiveThread();

  // Dialog commands (the window's thread).
  void OnStill();
  void OnPlay();
  void OnStop();
  void OnTransfer();
  void OnClose();
  void OnDeviceRemoved();
  void OnDeviceArrived();
  void OnLiveFailed();
  // After the application ended a transfer.
  void EnableTransferAgain();

  // Camera buttons: a press or release of control `id`.
  void OnCameraButtonPress(int id);
  void OnCameraButtonRelease(int id);

  // The picture step: fetch, decode and hold one picture. `preview` for the
  // preview thread; `quiet` shows no box. TRUE when a picture was decoded.
  bool TakePicture(bool preview, bool quiet = false);

  bool IsLive() const { return m_bLive.load(); }
  bool TransferAllowed() const { return m_bTransferAllowed.load(); }
  bool DeviceRemoved() const { return m_bDeviceRemoved.load(); }
  DWORD LiveThreadId() const;

 private:
  void StopPreview(bool wait);
  void Enable(int id, bool on);
  void Message(UINT id);
  void LiveLoop();

  CDeviceLink* m_pLink;
  CDSImage* m_pImage;
  ICaptureOwner* m_pOwner;
  ICaptureView* m_pView;
  std::atomic<bool> m_bLive{false};
  std::atomic<bool> m_bTransferAllowed{false};
  std::atomic<bool> m_bDeviceRemoved{false};
  std::atomic<int> m_nFailures{0};
  CEvent m_Started{true, false};
  CEvent m_Idle{true, true};
  CEvent m_Wake{false, false};
  std::unique_ptr<CPlatformThread> m_Thread;
};

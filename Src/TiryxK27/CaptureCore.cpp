#include "CaptureCore.h"

#include <chrono>
#include <new>
#include <thread>

#include "DsStrings.h"

namespace {

const CameraButtonInfo kButtons[] = {
    {IDC_IRIS_OPEN, "OPEN", 2, 0xE2},   {IDC_IRIS_CLOSE, "CLOSE", 3, 0xE2}, {IDC_IRIS_NORMAL, "NORMAL", 5, 0xE2},
    {IDC_FOCUS_NEAR, "NEAR", 1, 0xEA},  {IDC_FOCUS_FAR, "FAR", 2, 0xEA},    {IDC_FOCUS_AUTO, "AF", 0, 0xE1},
    {IDC_ZOOM_TELE, "TELE", 1, 0xE0},   {IDC_ZOOM_WIDE, "WIDE", 2, 0xE0},
};

constexpr WORD kIris = 0xE2;
constexpr WORD kAutoFocus = 0xE1;
constexpr DWORD kPreviewPauseMs = 150;
constexpr DWORD kAttemptPauseMs = 100;
constexpr int kAttempts = 3;
constexpr int kPreviewFailuresToStop = 3;
constexpr DWORD kStopWaitMs = 30000;

}  // namespace

const CameraButtonInfo* CameraButtons(size_t* count) {
  if (count) *count = sizeof kButtons / sizeof kButtons[0];
  return kButtons;
}

const CameraButtonInfo* FindCameraButton(int id) {
  for (const auto& b : kButtons) {
    if (b.id == id) return &b;
  }
  return nullptr;
}

std::optional<CameraKeySend> CameraPressAction(int id) {
  const CameraButtonInfo* b = FindCameraButton(id);
  if (!b || b->command == kAutoFocus) return std::nullopt;
  return CameraKeySend{b->parameter, b->command, false};
}

std::optional<CameraKeySend> CameraReleaseAction(int id) {
  const CameraButtonInfo* b = FindCameraButton(id);
  if (!b) return std::nullopt;
  if (b->command == kAutoFocus) return CameraKeySend{0, kAutoFocus, true};
  if (b->command == kIris) {
    if (b->parameter == 2 || b->parameter == 3) return CameraKeySend{4, kIris, false};
    return std::nullopt;  // NORMAL sends nothing at release
  }
  return CameraKeySend{0, b->command, false};
}

CCaptureCore::CCaptureCore(CDeviceLink* link, CDSImage* image, ICaptureOwner* owner, ICaptureView* view)
    : m_pLink(link), m_pImage(image), m_pOwner(owner), m_pView(view) {}

CCaptureCore::~CCaptureCore() { StopLiveThread(); }

DWORD CCaptureCore::LiveThreadId() const { return m_Thread ? m_Thread->id() : 0; }

bool CCaptureCore::Start() {
  if (!m_Thread) {
    m_Thread = std::make_unique<CPlatformThread>([this] { LiveLoop(); }, false, "TiryxK27 preview");
    // The thread answers its own start echo once its loop runs.
    if (!PostThreadMessage(m_Thread->id(), WM_LIVE_STARTED, 0, 0)) return false;
    if (m_Started.Wait(10000) != WAIT_OBJECT_0) return false;
  }
  Enable(IDC_TWAIN_TRANSFER, m_bTransferAllowed.load());
  Enable(IDC_TWAIN_STOP, false);
  return true;
}

void CCaptureCore::LiveLoop() {
  RunMessageLoop([this](const MSG& msg) {
    switch (msg.message) {
      case WM_LIVE_STARTED:
        m_Started.Set();
        break;
      case WM_LIVE_NEXT:
        if (!m_bLive.load()) {
          m_Idle.Set();
          break;
        }
        m_Idle.Reset();
        TakePicture(true);
        if (m_bLive.load() && PostThreadMessage(GetCurrentThreadId(), WM_LIVE_NEXT, 0, 0)) {
          m_Wake.Wait(kPreviewPauseMs);
        } else {
          m_Idle.Set();
        }
        break;
      case WM_LIVE_ENABLE:
        Enable(IDC_TWAIN_TRANSFER, m_bTransferAllowed.load());
        break;
      default:
        break;
    }
  });
  m_Idle.Set();
}

void CCaptureCore::StopLiveThread() {
  StopPreview(true);
  if (!m_Thread) return;
  PostThreadMessage(m_Thread->id(), WM_QUIT, 0, 0);
  m_Thread->Join(kStopWaitMs);
  m_Thread.reset();
}

void CCaptureCore::Enable(int id, bool on) {
  if (m_pView) m_pView->EnableControl(id, on);
}

void CCaptureCore::Message(UINT id) {
  if (m_pView) m_pView->ShowMessage(DsString(id));
}

void CCaptureCore::StopPreview(bool wait) {
  const bool wasLive = m_bLive.exchange(false);
  if (wasLive) {
    Enable(IDC_TWAIN_PLAY, !m_bDeviceRemoved.load());
    if (m_pView && !m_bDeviceRemoved.load()) m_pView->FocusControl(IDC_TWAIN_PLAY);
    Enable(IDC_TWAIN_STOP, false);
    Enable(IDC_TWAIN_STILL, !m_bDeviceRemoved.load());
  }
  m_Wake.Set();
  // The preview thread never waits for the caller, so waiting for it to be
  // idle cannot lock up; it is bounded all the same.
  if (wait && m_Thread && GetCurrentThreadId() != m_Thread->id()) m_Idle.Wait(kStopWaitMs);
  if (wasLive) {
    // Only now: a picture on its way when the preview stopped is held too,
    // and the preview step has made its last change to the flag.
    m_bTransferAllowed = m_pImage->HasHeldJpeg();
    Enable(IDC_TWAIN_TRANSFER, m_bTransferAllowed.load());
  }
}

void CCaptureCore::OnStill() {
  StopPreview(true);
  if (m_pView) m_pView->FocusControl(IDC_TWAIN_STILL);
  TakePicture(false);
}

void CCaptureCore::OnPlay() {
  if (m_bDeviceRemoved.load() || m_bLive.load()) return;
  Enable(IDC_TWAIN_STOP, true);
  if (m_pView) m_pView->FocusControl(IDC_TWAIN_STOP);
  Enable(IDC_TWAIN_PLAY, false);
  Enable(IDC_TWAIN_STILL, false);
  m_bTransferAllowed = false;
  Enable(IDC_TWAIN_TRANSFER, false);
  m_nFailures = 0;
  m_bLive = true;
  m_Idle.Reset();
  if (!m_Thread || !PostThreadMessage(m_Thread->id(), WM_LIVE_NEXT, 0, 0)) {
    m_Idle.Set();
    StopPreview(false);
  }
}

void CCaptureCore::OnStop() { StopPreview(true); }

void CCaptureCore::OnTransfer() {
  StopPreview(true);
  if (!m_pImage->HasHeldJpeg()) return;
  Enable(IDC_TWAIN_TRANSFER, false);
  if (m_pOwner) m_pOwner->OnUserTransfer();
}

void CCaptureCore::OnClose() {
  StopPreview(true);
  if (m_pOwner) m_pOwner->OnUserClose();
}

void CCaptureCore::OnDeviceRemoved() {
  m_bDeviceRemoved = true;
  StopPreview(false);
  Enable(IDC_TWAIN_PLAY, false);
  Enable(IDC_TWAIN_STILL, false);
  Enable(IDC_TWAIN_STOP, false);
}

void CCaptureCore::OnDeviceArrived() {
  if (!m_pLink->Recheck()) return;
  m_bDeviceRemoved = false;
  Enable(IDC_TWAIN_PLAY, true);
  Enable(IDC_TWAIN_STILL, true);
  if (m_pView) m_pView->FocusControl(IDC_TWAIN_STILL);
  Enable(IDC_TWAIN_STOP, false);
}

void CCaptureCore::OnLiveFailed() { StopPreview(false); }

void CCaptureCore::EnableTransferAgain() {
  m_bTransferAllowed = !m_bLive.load() && m_pImage->HasHeldJpeg();
  Enable(IDC_TWAIN_TRANSFER, m_bTransferAllowed.load());
}

void CCaptureCore::OnCameraButtonPress(int id) {
  if (auto send = CameraPressAction(id)) m_pLink->SendKey(send->value, send->command, send->synchronous);
}

void CCaptureCore::OnCameraButtonRelease(int id) {
  if (auto send = CameraReleaseAction(id)) m_pLink->SendKey(send->value, send->command, send->synchronous);
}

bool CCaptureCore::TakePicture(bool preview, bool quiet) {
  m_bTransferAllowed = false;
  std::vector<BYTE> jpeg;
  bool got = false;
  bool noData = false;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (preview && !m_bLive.load()) break;
    if (!m_pLink->IsConnected()) break;
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(kAttemptPauseMs));
    if (m_pLink->RequestPicture(&jpeg, &noData)) {
      got = true;
      break;
    }
  }
  bool decoded = false;
  if (got) {
    int width = 0;
    int height = 0;
    if (m_pView) m_pView->PreviewSize(&width, &height);
    CBitmap24 picture;
    if (m_pImage->Decode(jpeg.data(), static_cast<DWORD>(jpeg.size()), width, &picture)) {
      m_nFailures = 0;
      bool kept = true;
      try {
        m_pImage->SetHeldJpeg(jpeg.data(), static_cast<DWORD>(jpeg.size()), width == 0 ? &picture : nullptr);
      } catch (const std::bad_alloc&) {
        kept = false;
      }
      if (!kept) {
        if (preview) StopPreview(false);
        m_bTransferAllowed = false;
        if (!quiet) Message(IDS_DS_LOWMEMORY);
      } else {
        decoded = true;
        if (m_pView && width > 0 && height > 0 && (picture.width() != width || picture.height() != height)) {
          CBitmap24 fitted;
          if (CDSImage::StretchToDib(picture, &fitted, width, height)) picture = fitted;
        }
        if (m_pView) m_pView->ShowPreview(picture);
        if (!preview) m_bTransferAllowed = true;
      }
    } else if (preview) {
      if (++m_nFailures >= kPreviewFailuresToStop) {
        StopPreview(false);
        m_bTransferAllowed = false;
        if (!quiet) Message(IDS_DS_LIVE_FAILED);
      }
    } else {
      m_bTransferAllowed = false;
      if (!quiet) Message(IDS_DS_STILL_FAILED);
    }
  } else if (preview) {
    const bool wasLive = m_bLive.load();
    OnLiveFailed();
    m_bTransferAllowed = false;
    if (wasLive && !noData && !quiet) Message(IDS_DS_LIVE_FAILED);
  } else {
    m_bTransferAllowed = false;
    if (!quiet) Message(IDS_DS_STILL_FAILED);
  }
  Enable(IDC_TWAIN_TRANSFER, m_bTransferAllowed.load());
  return decoded;
}

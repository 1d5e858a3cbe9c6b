#include "DeviceLink.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>

#include "CommonFunc.h"
#include "DsStrings.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Library.h"

namespace {

// The single-instance mutex: one value for the whole library, held from a
// successful open to the unload.
std::mutex g_MutexLock;
std::unique_ptr<CNamedMutex> g_AppMutex;

struct LinkTask {
  std::function<void()> fn;
  CEvent done{true, false};
};

void Anchor() {}

std::atomic<DWORD> g_LinkCallLimitMs{30000};

}  // namespace

CDeviceLink::CDeviceLink(DsBoxFunction box) : m_Box(std::move(box)) {}

CDeviceLink::~CDeviceLink() {
  Unload();
  StopThread();
}

std::string CDeviceLink::ModuleBesideSource(const std::string& name) {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&Anchor), &info) && info.dli_fname) {
    std::string self = info.dli_fname;
    const size_t slash = self.rfind('/');
    if (slash != std::string::npos) {
      std::string file = name;
      const size_t dot = file.rfind('.');
      if (dot != std::string::npos && strcasecmp(file.c_str() + dot, ".dll") == 0) file = file.substr(0, dot) + ".so";
      const std::string candidate = self.substr(0, slash) + "/" + file;
      if (access(candidate.c_str(), R_OK) == 0) return candidate;
    }
  }
  return name;
}

bool CDeviceLink::StartThread() {
  if (m_Thread && !m_Thread->HasEnded()) return true;
  CEvent ready(true, false);
  m_Thread = std::make_unique<CPlatformThread>(
      [&ready] {
        GetCurrentThreadId();
        ready.Set();
        RunMessageLoop([](const MSG& msg) {
          if (msg.message == WM_LINK_TASK && msg.lParam) {
            auto* task = reinterpret_cast<std::shared_ptr<LinkTask>*>(msg.lParam);
            (*task)->fn();
            (*task)->done.Set();
            delete task;
          }
        });
        // Tasks still queued after WM_QUIT are never run: their waiters time out.
      },
      false, "TiryxK27 link");
  return ready.Wait(10000) == WAIT_OBJECT_0;
}

void CDeviceLink::StopThread() {
  if (!m_Thread) return;
  PostThreadMessage(m_Thread->id(), WM_QUIT, 0, 0);
  m_Thread->Join(10000);
  m_Thread.reset();
}

void CDeviceLink::SetLinkCallLimit(DWORD timeoutMs) { g_LinkCallLimitMs = timeoutMs; }

bool CDeviceLink::RunOnLinkThread(std::function<void()> task) {
  const DWORD timeoutMs = g_LinkCallLimitMs.load();
  if (!StartThread()) return false;
  if (GetCurrentThreadId() == m_Thread->id()) {
    task();
    return true;
  }
  auto shared = std::make_shared<LinkTask>();
  shared->fn = std::move(task);
  auto* holder = new std::shared_ptr<LinkTask>(shared);
  if (!PostThreadMessage(m_Thread->id(), WM_LINK_TASK, 0, reinterpret_cast<LPARAM>(holder))) {
    delete holder;
    return false;
  }
  return shared->done.Wait(timeoutMs) == WAIT_OBJECT_0;
}

BOOL CDeviceLink::Load() {
  if (m_pDevice) return TRUE;
  const std::string path = ModuleBesideSource(m_LibraryName);
  HMODULE module = LoadLibrary(path);
  if (!module) {
    if (m_Box) m_Box(DsFormat(DsString(IDS_DS_LOADLIB_ERROR), m_LibraryName));
    return FALSE;
  }
  auto create = GetProcAddressAs<PFN_CREATEINSTANCE>(module, FOTAVI_CREATEINSTANCE);
  auto release = GetProcAddressAs<PFN_RELEASEINSTANCE>(module, FOTAVI_RELEASEINSTANCE);
  if (!create) {
    FreeLibrary(module);
    return FALSE;
  }
  // The library's presence window belongs to the thread that creates the
  // interface: the link thread, which pumps its messages. When that thread
  // is late, the creation runs after this call has given up: it then
  // releases what it made, and the library stays loaded for it.
  struct Creation {
    std::mutex lock;
    bool done = false;
    bool abandoned = false;
    CDeviceInterface* device = nullptr;
  };
  auto creation = std::make_shared<Creation>();
  RunOnLinkThread([creation, create, release] {
    CDeviceInterface* device = nullptr;
    if (!create(&device)) device = nullptr;
    std::lock_guard<std::mutex> g(creation->lock);
    if (creation->abandoned) {
      if (device && release) release(&device);
      return;
    }
    creation->done = true;
    creation->device = device;
  });
  CDeviceInterface* device = nullptr;
  {
    std::lock_guard<std::mutex> g(creation->lock);
    if (!creation->done) {
      creation->abandoned = true;
      return FALSE;
    }
    device = creation->device;
  }
  if (!device) {
    FreeLibrary(module);
    return FALSE;
  }
  m_hLibrary = module;
  m_pDevice = device;
  return TRUE;
}

LRESULT CDeviceLink::WndProc(HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto handBack = [&] {
    if (lParam) PostThreadMessage(static_cast<DWORD>(wParam), WM_FOTAVI_RELASERSP, 0, lParam);
  };
  switch (msg) {
    case WM_FOTAVI_READ:
    case WM_FOTAVI_IOCTL:
    case WM_FOTAVI_WRITE:
      handBack();
      return 0;
    case WM_FOTAVI_REQUEST: {
      auto* rsp = reinterpret_cast<DEVICE_RSP*>(lParam);
      if (rsp && rsp->pData) {
        GlobalFree(static_cast<HGLOBAL>(rsp->pData));
        rsp->pData = nullptr;
      }
      handBack();
      return 0;
    }
    case WM_FOTAVI_DEVICESTATE: {
      if (wParam == FOTAVI_DEVICE_GONE) m_bGone = true;
      std::lock_guard<std::mutex> g(m_TargetLock);
      if (m_pTarget) {
        if (wParam == FOTAVI_DEVICE_PRESENT) m_pTarget->OnDeviceArrived();
        else if (wParam == FOTAVI_DEVICE_GONE) m_pTarget->OnDeviceRemoved();
      }
      return 0;
    }
    default:
      return 0;
  }
}

BOOL CDeviceLink::Open() {
  if (!m_pDevice) return FALSE;
  {
    std::lock_guard<std::mutex> g(g_MutexLock);
    if (!g_AppMutex) {
      std::unique_ptr<CNamedMutex> handle;
      const int code = CreateAppMutex(APP_MUTEX_NAME, true, &handle);
      if (code != APPMUTEX_CREATED) {
        UINT text = IDS_DS_INTERNAL_ERROR;
        if (code == APPMUTEX_EXISTS) text = IDS_DS_ALREADY_LAUNCHED;
        else if (code == APPMUTEX_ACCESSDENIED) text = IDS_DS_ALREADY_USED;
        if (m_Box) m_Box(DsString(text));
        return FALSE;
      }
      g_AppMutex = std::move(handle);
    }
  }
  bool made = RunOnLinkThread([this] {
    m_hWnd = CreateWindowTarget([this](HWND h, UINT m, WPARAM w, LPARAM l) { return WndProc(h, m, w, l); },
                                "Fotavi DS Window");
  });
  if (!made || !m_hWnd) return FALSE;
  m_pDevice->bSetNotifyWindow(m_hWnd);
  if (!m_pDevice->bIsConnected()) {
    DestroyHiddenWindow();
    return FALSE;
  }
  DWORD error = 0;
  if (m_pDevice->bOpen(m_hWnd, &error)) {
    m_bOpened = true;
    m_bGone = false;
    return TRUE;
  }
  DestroyHiddenWindow();
  return FALSE;
}

void CDeviceLink::DestroyHiddenWindow() {
  if (!m_hWnd) return;
  HWND h = m_hWnd;
  if (m_pDevice) m_pDevice->bSetNotifyWindow(nullptr);
  if (!RunOnLinkThread([h] { DestroyWindow(h); })) DestroyWindow(h);
  m_hWnd = nullptr;
}

BOOL CDeviceLink::CloseDevice() {
  if (!m_pDevice) return FALSE;
  DestroyHiddenWindow();
  DWORD error = 0;
  const BOOL ok = m_pDevice->bClose(&error);
  m_bOpened = false;
  return ok;
}

void CDeviceLink::ReleaseAppMutex() {
  std::lock_guard<std::mutex> g(g_MutexLock);
  g_AppMutex.reset();
}

BOOL CDeviceLink::Unload() {
  BOOL ok = TRUE;
  if (m_hLibrary) {
    DestroyHiddenWindow();
    auto release = GetProcAddressAs<PFN_RELEASEINSTANCE>(m_hLibrary, FOTAVI_RELEASEINSTANCE);
    bool keepLibrary = false;
    if (release) {
      CDeviceInterface* device = m_pDevice;
      if (!RunOnLinkThread([release, device]() mutable { release(&device); })) {
        // The link thread is late: the release still runs there, in the
        // library's code, so the library stays loaded.
        keepLibrary = true;
        ok = FALSE;
      }
    } else {
      ok = FALSE;
    }
    m_pDevice = nullptr;
    if (!keepLibrary && !FreeLibrary(m_hLibrary)) ok = FALSE;
    m_hLibrary = nullptr;
  }
  m_bOpened = false;
  ReleaseAppMutex();
  return ok;
}

BOOL CDeviceLink::IsConnected() { return m_pDevice && m_pDevice->bIsConnected() ? TRUE : FALSE; }

BOOL CDeviceLink::RequestPicture(std::vector<BYTE>* jpeg, bool* noData) {
  if (noData) *noData = false;
  if (!m_pDevice || !jpeg) return FALSE;
  // Back after a removal that no dialog saw: open the device again first.
  if (m_bGone.load() && !Recheck()) return FALSE;
  const DEVICE_CMD cmd = FotaviMakeCommand(FOTAVI_CMD_GET_JPEG);
  HGLOBAL data = nullptr;
  DWORD size = 0;
  DWORD error = 0;
  const BOOL ok = m_pDevice->bRequest(&cmd, &data, &size, &error);
  bool copied = false;
  if (data) {
    const void* bytes = GlobalLock(data);
    const size_t available = GlobalSize(data);
    if (bytes && size > 0 && size <= available) {
      const auto* p = static_cast<const BYTE*>(bytes);
      jpeg->assign(p, p + size);
      copied = true;
    }
    GlobalUnlock(data);
    GlobalFree(data);
  }
  if (ok && !copied && noData) *noData = true;
  return ok && copied ? TRUE : FALSE;
}

BOOL CDeviceLink::RecheckResult(BOOL connected, BOOL openOk, DWORD error, BOOL* opened) {
  if (!connected) return FALSE;
  if (openOk) {
    *opened = TRUE;
    return TRUE;
  }
  if (error == ERR_FOTAVI_ALREADYOPEN) {
    *opened = TRUE;
    return TRUE;
  }
  if (error == ERR_FOTAVI_NODEVICE || error == ERR_FOTAVI_ALREADYUSE) *opened = FALSE;
  return FALSE;
}

BOOL CDeviceLink::Recheck() {
  if (!m_pDevice) return FALSE;
  const BOOL connected = m_pDevice->bIsConnected() ? TRUE : FALSE;
  BOOL openOk = FALSE;
  DWORD error = 0;
  if (connected) openOk = m_pDevice->bOpen(m_hWnd, &error);
  BOOL opened = m_bOpened.load() ? TRUE : FALSE;
  const BOOL result = RecheckResult(connected, openOk, error, &opened);
  m_bOpened = opened != FALSE;
  if (result) m_bGone = false;
  return result;
}

BOOL CDeviceLink::SendKey(DWORD value, WORD command, bool synchronous) {
  if (!m_pDevice) return FALSE;
  const DEVICE_CMD cmd = FotaviMakeCommand(command, value);
  DWORD error = 0;
  if (synchronous) {
    HGLOBAL data = nullptr;
    DWORD size = 0;
    const BOOL ok = m_pDevice->bRequest(&cmd, &data, &size, &error);
    if (data) GlobalFree(data);
    return ok;
  }
  WORD sequence = 0;
  return m_pDevice->bRequestAsync(m_hWnd, &cmd, &sequence, &error);
}

void CDeviceLink::SetNotifyTarget(IDeviceLinkTarget* target) {
  std::lock_guard<std::mutex> g(m_TargetLock);
  m_pTarget = target;
}

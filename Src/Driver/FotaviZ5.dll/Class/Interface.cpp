#include "Class/Interface.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>

#include "DeviceWnd.h"
#include "FotaviZ5App.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Time.h"
#include "TimeLimits.h"

CInterface* g_pInterface = nullptr;
CDeviceWnd* g_pDeviceWnd = nullptr;

namespace {

constexpr const char* kOpenCheckMutex = "Fotavi Open Check Mutex";
// Marks a read that the dispatcher performs again for a synchronous reader
// whose earlier packet went to another waiting read.
constexpr LPARAM kReadAgain = 0x100;

// The version the platform reports: an NT 5.1 system with Service Pack 3.
struct COsVersion {
  bool bNT = true;
  DWORD dwMajor = 5;
  DWORD dwMinor = 1;
  const char* pszCSDVersion = "Service Pack 3";
};

// Hands every message left in the calling thread's queue to `onMessage`,
// past any further WM_QUIT. The worker threads call it after their loop has
// ended, when the platform already refuses new posts, so each record that
// reached the queue is answered.
void DrainAll(const std::function<void(const MSG&)>& onMessage) {
  bool bQuit = true;
  while (bQuit) DrainMessages(onMessage, &bQuit);
}

}  // namespace

bool bCheckOSVersion(DWORD dw9xMajor, DWORD dw9xMinor, DWORD dwNTMajor, DWORD dwNTMinor, DWORD dwNTServicePack) {
  COsVersion v;
  if (!v.bNT) {
    return v.dwMajor > dw9xMajor || (v.dwMajor == dw9xMajor && v.dwMinor >= dw9xMinor);
  }
  if (v.dwMajor != dwNTMajor) return v.dwMajor > dwNTMajor;
  if (v.dwMinor != dwNTMinor) return v.dwMinor > dwNTMinor;
  int nServicePack = 0;
  if (v.pszCSDVersion == nullptr || std::sscanf(v.pszCSDVersion, "Service Pack %d", &nServicePack) != 1) {
    nServicePack = 0;
  }
  return static_cast<DWORD>(nServicePack) >= dwNTServicePack;
}

// -------------------------------------------------------------- CRequestItem

CRequestItem::~CRequestItem() {
  delete[] m_pDataCopy;
  delete[] m_pRequestData;
}

BOOL CRequestItem::bCopyData(const void* pData, DWORD dwLength) {
  delete[] m_pDataCopy;
  m_pDataCopy = nullptr;
  if (dwLength == 0) return TRUE;
  m_pDataCopy = new (std::nothrow) BYTE[dwLength]();
  if (m_pDataCopy == nullptr) return FALSE;
  if (pData) std::memcpy(m_pDataCopy, pData, dwLength);
  return TRUE;
}

BOOL CRequestItem::bCopyRequestData(DWORD dwLength, const void* pData, DWORD* pdwError) {
  delete[] m_pRequestData;
  m_pRequestData = nullptr;
  m_dwRequestDataLength = 0;
  if (dwLength == 0) return TRUE;
  m_pRequestData = new (std::nothrow) BYTE[static_cast<size_t>(dwLength) + FOTAVI_SUBHEADER_SIZE];
  if (m_pRequestData == nullptr) {
    *pdwError = ERR_FOTAVI_NOMEMORY;
    return FALSE;
  }
  DWORD header[3] = {FOTAVI_SUBHEADER_MARK, dwLength, 0};
  std::memcpy(m_pRequestData, header, sizeof header);
  std::memcpy(m_pRequestData + FOTAVI_SUBHEADER_SIZE, pData, dwLength);
  m_dwRequestDataLength = dwLength;
  return TRUE;
}

// ---------------------------------------------------------------- CInterface

CInterface::CInterface() { theApp.m_Log.Start(); }

CInterface::~CInterface() {
  // Worker threads use this object until they end: close first when the
  // client did not.
  if (IsOpened()) {
    DWORD dwError = 0;
    bClose(&dwError);
  }
  {
    std::lock_guard<CCriticalSection> lock(m_OutstandingLock);
    for (DEVICE_RSP* p : m_Outstanding) delete p;
    m_Outstanding.clear();
    for (DEVICE_RSP* p : m_Retired) delete p;
    m_Retired.clear();
  }
  delete m_pOpenItem;
  m_pOpenItem = nullptr;
  m_pOpenMutex.reset();
  theApp.m_Log.Stop();
  if (g_pInterface == this) g_pInterface = nullptr;
}

WORD CInterface::NextSequence() {
  // 0 is never handed out: a packet with sequence 0 belongs to the read that
  // performs it, and a write given 0 makes a new sequence, so an operation
  // numbered 0 would never see its own replies. The counter wraps to 1.
  WORD wLast = m_wSequence.load();
  WORD wNext;
  do {
    wNext = static_cast<WORD>(wLast + 1);
    if (wNext == 0) wNext = 1;
  } while (!m_wSequence.compare_exchange_weak(wLast, wNext));
  return wNext;
}

BOOL CInterface::bFail(const char* pszName, DWORD dwError, DWORD* pdwError) {
  *pdwError = dwError;
  theApp.m_Log.WriteInfo(FALSE, dwError, LOG_SRC_INTERFACE, 0);
  theApp.m_Log.WriteEnd(FALSE, pszName);
  return FALSE;
}

BOOL CInterface::bGetResult(CRequestItem* pItem, DWORD* pdwError) {
  BOOL bResult = pItem->m_bResult;
  *pdwError = pItem->m_dwError;
  delete pItem;
  return bResult;
}

BOOL CInterface::bPostToDispatcher(UINT uMsg, CRequestItem* pItem, LPARAM lMode) {
  return theApp.bPostThreadMessage(m_dwDispatchThreadId.load(), uMsg, reinterpret_cast<WPARAM>(pItem), lMode);
}

BOOL CInterface::bPostToRequestThread(CRequestItem* pItem, LPARAM lMode) {
  return theApp.bPostThreadMessage(m_dwRequestThreadId.load(), WM_FOTAVI_REQUEST, reinterpret_cast<WPARAM>(this),
                                   reinterpret_cast<LPARAM>(pItem));
}

size_t CInterface::OutstandingCount() {
  std::lock_guard<CCriticalSection> lock(m_OutstandingLock);
  return m_Outstanding.size();
}

void CInterface::AddOutstanding(DEVICE_RSP* pRsp) {
  std::lock_guard<CCriticalSection> lock(m_OutstandingLock);
  m_Outstanding.push_back(pRsp);
}

bool CInterface::RemoveOutstanding(DEVICE_RSP* pRsp) {
  std::lock_guard<CCriticalSection> lock(m_OutstandingLock);
  auto it = std::find(m_Outstanding.begin(), m_Outstanding.end(), pRsp);
  if (it == m_Outstanding.end()) return false;
  m_Outstanding.erase(it);
  return true;
}

DEVICE_RSP* CInterface::MakeReply(UINT uMsg, const CRequestItem* pItem) {
  DEVICE_RSP* pRsp = new (std::nothrow) DEVICE_RSP;
  if (pRsp == nullptr) return nullptr;
  pRsp->bResult = pItem->m_bResult;
  pRsp->dwError = pItem->m_dwError;
  pRsp->wSequence = pItem->m_wSequence;
  pRsp->wCommand = uMsg == WM_FOTAVI_REQUEST ? pItem->m_Command.wCommand : 0;
  pRsp->dwStatus = pItem->m_dwStatus;
  pRsp->dwLength = pItem->m_dwDone;
  pRsp->pData = nullptr;
  if (uMsg == WM_FOTAVI_READ) {
    pRsp->pData = pItem->m_pBuffer;
  } else if (uMsg == WM_FOTAVI_REQUEST && pItem->m_phDataSlot) {
    pRsp->pData = *pItem->m_phDataSlot;
  }
  return pRsp;
}

void CInterface::bCompleteRequest(UINT uMsg, CRequestItem* pItem) {
  // Each record completes in the mode it was made for, so a synchronous
  // reader is woken even when another operation's message completes it.
  if (!pItem->m_bAsync) {
    pItem->Set();
    return;
  }
  HGLOBAL hData = (uMsg == WM_FOTAVI_REQUEST && pItem->m_phDataSlot) ? *pItem->m_phDataSlot : nullptr;
  DEVICE_RSP* pRsp = MakeReply(uMsg, pItem);
  if (pRsp) {
    AddOutstanding(pRsp);
    if (!pRsp->bResult) theApp.m_Log.WriteTrace("Return [FALSE]");
  } else if (hData) {
    GlobalFree(hData);
    hData = nullptr;
  }
  BOOL bPosted = theApp.bPostMessage(pItem->m_hTarget, uMsg, m_dwDispatchThreadId.load(),
                                     reinterpret_cast<LPARAM>(pRsp));
  if (!bPosted && pRsp && RemoveOutstanding(pRsp)) {
    // Nobody received the record: it and its data block go now.
    if (hData) GlobalFree(hData);
    delete pRsp;
  }
  delete pItem;
}

// ------------------------------------------------------------ slots 1 and 2

BOOL CInterface::bSetNotifyWindow(HWND hWnd) {
  if (hWnd != nullptr && !IsWindow(hWnd)) return FALSE;
  if (g_pDeviceWnd) g_pDeviceWnd->SetNotifyWindow(hWnd);
  return TRUE;
}

DWORD CInterface::bIsConnected() { return g_pDeviceWnd ? g_pDeviceWnd->Presence() : 0; }

// ------------------------------------------------------------- open, close

BOOL CInterface::bCheckOpenMutex(DWORD* pdwError) {
  std::string name = std::string(bCheckOSVersion(9, 0, 5, 0, 0) ? "Global\\" : "") + kOpenCheckMutex;
  CNamedMutex::Outcome outcome;
  std::unique_ptr<CNamedMutex> pMutex = CNamedMutex::Create(name, false, &outcome);
  if (!pMutex || outcome != CNamedMutex::Outcome::Created) {
    *pdwError = ERR_FOTAVI_ALREADYUSE;
    return FALSE;
  }
  m_pOpenMutex = std::move(pMutex);
  return TRUE;
}

void CInterface::StopThread(std::unique_ptr<CPlatformThread>& pThread) {
  if (!pThread) return;
  theApp.bPostThreadMessage(pThread.get(), WM_QUIT, 0, 0);
  pThread->Join(TimeLimits().dwThreadEndMs);
  pThread.reset();
}

BOOL CInterface::bOpen(HWND hNotifyWnd, DWORD* pdwError) {
  DWORD dwLocal = 0;
  if (pdwError == nullptr) pdwError = &dwLocal;
  *pdwError = 0;
  theApp.m_Log.WriteStart("bOpen");
  std::lock_guard<CCriticalSection> sequence(m_OpenCloseLock);
  std::lock_guard<CCriticalSection> lock(m_InterfaceLock);
  if (IsOpened()) return bFail("bOpen", ERR_FOTAVI_ALREADYOPEN, pdwError);
  if (!bCheckOpenMutex(pdwError)) return bFail("bOpen", *pdwError, pdwError);

  delete m_pOpenItem;
  m_pOpenItem = new (std::nothrow) CRequestItem;
  if (m_pOpenItem == nullptr) {
    m_pOpenMutex.reset();
    return bFail("bOpen", ERR_FOTAVI_NOMEMORY, pdwError);
  }
  m_pOpenItem->m_hTarget = hNotifyWnd;
  if (g_pDeviceWnd) g_pDeviceWnd->SetNotifyWindow(hNotifyWnd);

  // A worker's id is published only after its own open message has been
  // handled: until then nobody else can post to it, so its first message is
  // that open message and the handshake below cannot be overtaken by a
  // request that would wait for the interface lock this open holds.
  m_pDispatchThread = std::make_unique<CPlatformThread>([this] { DispatchThreadProc(); }, true, "FotaviZ5 dispatch");
  m_pDispatchThread->Resume();
  m_pOpenItem->Wait(INFINITE);
  m_dwDispatchThreadId.store(m_pDispatchThread->id());
  m_pRequestThread = std::make_unique<CPlatformThread>([this] { RequestThreadProc(); }, true, "FotaviZ5 request");
  m_pRequestThread->Resume();
  m_pOpenItem->Wait(INFINITE);

  if (IsOpened()) {
    DWORD dwReturned = 0;
    WORD wSequence = 0;
    DWORD dwError = 0;
    BOOL bReset = bIoctl(IOCTL_FOTAVI_RESET, nullptr, 0, &dwReturned, &wSequence, &dwError);
    if (bReset) Sleep(TimeLimits().dwResetPauseMs);
    // Requests are taken from now on; one made before this point has failed
    // with ERR_FOTAVI_NOOPEN without waiting.
    m_dwRequestThreadId.store(m_pRequestThread->id());
    if (!bReset) {
      // The device stays open; a later bOpen answers ERR_FOTAVI_ALREADYOPEN.
      return bFail("bOpen", ERR_FOTAVI_IOCTLRESET, pdwError);
    }
    theApp.m_Log.WriteEnd(TRUE, "bOpen");
    return TRUE;
  }
  DWORD dwOpenError = m_pOpenItem->m_dwError;
  StopThread(m_pDispatchThread);
  m_dwDispatchThreadId.store(0);
  m_dwRequestThreadId.store(0);
  StopThread(m_pRequestThread);
  m_pOpenMutex.reset();
  delete m_pOpenItem;
  m_pOpenItem = nullptr;
  return bFail("bOpen", dwOpenError, pdwError);
}

BOOL CInterface::bCloseSequence(const char* pszName, DWORD* pdwError) {
  DWORD dwLocal = 0;
  if (pdwError == nullptr) pdwError = &dwLocal;
  *pdwError = 0;
  theApp.m_Log.WriteStart(pszName);
  if (!IsOpened()) return bFail(pszName, ERR_FOTAVI_NOOPEN, pdwError);
  std::lock_guard<CCriticalSection> sequence(m_OpenCloseLock);
  m_InterfaceLock.Lock();
  if (!IsOpened() || m_pOpenItem == nullptr) {
    // Another close got here first.
    m_InterfaceLock.Unlock();
    return bFail(pszName, ERR_FOTAVI_NOOPEN, pdwError);
  }
  // New requests fail at once from here on; queued ones are answered.
  m_dwRequestThreadId.store(0);
  BOOL bResult;
  if (bPostToDispatcher(WM_FOTAVI_CLOSE, m_pOpenItem, FOTAVI_MODE_SYNC)) {
    m_pOpenItem->Wait(INFINITE);
    bResult = m_pOpenItem->m_bResult;
    *pdwError = m_pOpenItem->m_dwError;
  } else {
    bResult = m_Device.bCloseSub(pdwError);
  }
  delete m_pOpenItem;
  m_pOpenItem = nullptr;
  StopThread(m_pDispatchThread);
  m_InterfaceLock.Unlock();
  m_dwRequestThreadId.store(0);
  StopThread(m_pRequestThread);
  m_dwDispatchThreadId.store(0);
  m_pOpenMutex.reset();
  {
    // Every record not handed back is taken back from the client now.
    std::lock_guard<CCriticalSection> lock(m_OutstandingLock);
    m_Retired.insert(m_Retired.end(), m_Outstanding.begin(), m_Outstanding.end());
    m_Outstanding.clear();
  }
  if (!bResult) theApp.m_Log.WriteInfo(FALSE, *pdwError, LOG_SRC_INTERFACE, 0);
  theApp.m_Log.WriteEnd(bResult, pszName);
  return bResult;
}

BOOL CInterface::bClose(DWORD* pdwError) { return bCloseSequence("bClose", pdwError); }

BOOL CInterface::bCloseSelf(DWORD* pdwError) { return bCloseSequence("bCloseSelf", pdwError); }

BOOL CInterface::bReadStop() {
  theApp.m_Log.WriteStart("bReadStop");
  bPostToDispatcher(WM_FOTAVI_READSTOP, nullptr, 0);
  theApp.m_Log.WriteEnd(TRUE, "bReadStop");
  return TRUE;
}

void CInterface::bGetDriverLog(char* pBuffer, DWORD dwSize, DWORD* pdwLength) {
  *pdwLength = IsOpened() ? m_Device.GetDriverText(pBuffer, dwSize) : 0;
}

// --------------------------------------------------- pipe operations 5 - 10

#define FOTAVI_BEGIN_OPERATION(name)        \
  DWORD dwLocalError = 0;                   \
  if (pdwError == nullptr) pdwError = &dwLocalError; \
  *pdwError = 0;                            \
  theApp.m_Log.WriteStart(name);            \
  if (!IsOpened()) return bFail(name, ERR_FOTAVI_NOOPEN, pdwError)

BOOL CInterface::bIoctlAsync(HWND hTarget, DWORD dwCode, const void* pData, DWORD dwLength, WORD* pwSequence,
                             DWORD* pdwError) {
  FOTAVI_BEGIN_OPERATION("bIoctlAsync");
  if (hTarget == nullptr) return bFail("bIoctlAsync", ERR_FOTAVI_FUNCPARAM, pdwError);
  CRequestItem* pItem = new (std::nothrow) CRequestItem;
  if (pItem == nullptr) return bFail("bIoctlAsync", ERR_FOTAVI_NOMEMORY, pdwError);
  if (!pItem->bCopyData(pData, dwLength)) {
    delete pItem;
    return bFail("bIoctlAsync", ERR_FOTAVI_NOMEMORY, pdwError);
  }
  pItem->m_bAsync = true;
  pItem->m_hTarget = hTarget;
  pItem->m_dwControlCode = dwCode;
  pItem->m_dwLength = dwLength;
  pItem->m_wSequence = NextSequence();
  if (pwSequence) *pwSequence = pItem->m_wSequence;
  if (!bPostToDispatcher(WM_FOTAVI_IOCTL, pItem, FOTAVI_MODE_ASYNC)) {
    delete pItem;
    return bFail("bIoctlAsync", ERR_FOTAVI_NOOPEN, pdwError);
  }
  theApp.m_Log.WriteEnd(TRUE, "bIoctlAsync");
  return TRUE;
}

BOOL CInterface::bIoctl(DWORD dwCode, void* pBuffer, DWORD dwLength, DWORD* pdwReturned, WORD* pwSequence,
                        DWORD* pdwError) {
  FOTAVI_BEGIN_OPERATION("bIoctl");
  if (pdwReturned) *pdwReturned = 0;
  CRequestItem* pItem = new (std::nothrow) CRequestItem;
  if (pItem == nullptr) return bFail("bIoctl", ERR_FOTAVI_NOMEMORY, pdwError);
  if (!pItem->bCopyData(pBuffer, dwLength)) {
    delete pItem;
    return bFail("bIoctl", ERR_FOTAVI_NOMEMORY, pdwError);
  }
  pItem->m_dwControlCode = dwCode;
  pItem->m_dwLength = dwLength;
  pItem->m_wSequence = NextSequence();
  if (pwSequence) *pwSequence = pItem->m_wSequence;
  if (!bPostToDispatcher(WM_FOTAVI_IOCTL, pItem, FOTAVI_MODE_SYNC)) {
    delete pItem;
    return bFail("bIoctl", ERR_FOTAVI_NOOPEN, pdwError);
  }
  pItem->Wait(INFINITE);
  if (pBuffer && dwLength) std::memcpy(pBuffer, pItem->m_pDataCopy, dwLength);
  if (pdwReturned) *pdwReturned = pItem->m_dwDone;
  BOOL bResult = bGetResult(pItem, pdwError);
  if (!bResult) return bFail("bIoctl", *pdwError, pdwError);
  theApp.m_Log.WriteEnd(TRUE, "bIoctl");
  return TRUE;
}

BOOL CInterface::bReadAsync(HWND hTarget, void* pBuffer, DWORD dwLength, WORD* pwSequence, DWORD* pdwError) {
  FOTAVI_BEGIN_OPERATION("bReadAsync");
  if (hTarget == nullptr) return bFail("bReadAsync", ERR_FOTAVI_FUNCPARAM, pdwError);
  CRequestItem* pItem = new (std::nothrow) CRequestItem;
  if (pItem == nullptr) return bFail("bReadAsync", ERR_FOTAVI_NOMEMORY, pdwError);
  pItem->m_bAsync = true;
  pItem->m_hTarget = hTarget;
  pItem->m_pBuffer = pBuffer;
  pItem->m_dwLength = pBuffer ? dwLength : 0;
  pItem->m_wSequence = NextSequence();
  if (pwSequence) *pwSequence = pItem->m_wSequence;
  if (!bPostToDispatcher(WM_FOTAVI_READ, pItem, FOTAVI_MODE_ASYNC)) {
    delete pItem;
    return bFail("bReadAsync", ERR_FOTAVI_NOOPEN, pdwError);
  }
  theApp.m_Log.WriteEnd(TRUE, "bReadAsync");
  return TRUE;
}

BOOL CInterface::bRead(void* pBuffer, DWORD dwLength, DWORD* pdwRead, WORD* pwSequence, DWORD* pdwError) {
  FOTAVI_BEGIN_OPERATION("bRead");
  if (pdwRead) *pdwRead = 0;
  CRequestItem* pItem = new (std::nothrow) CRequestItem;
  if (pItem == nullptr) return bFail("bRead", ERR_FOTAVI_NOMEMORY, pdwError);
  pItem->m_pBuffer = pBuffer;
  pItem->m_dwLength = pBuffer ? dwLength : 0;
  pItem->m_wSequence = pwSequence ? *pwSequence : 0;
  if (!bPostToDispatcher(WM_FOTAVI_READ, pItem, FOTAVI_MODE_SYNC)) {
    delete pItem;
    return bFail("bRead", ERR_FOTAVI_NOOPEN, pdwError);
  }
  pItem->Wait(INFINITE);
  if (pdwRead) *pdwRead = pItem->m_dwDone;
  BOOL bResult = bGetResult(pItem, pdwError);
  if (!bResult) return bFail("bRead", *pdwError, pdwError);
  theApp.m_Log.WriteEnd(TRUE, "bRead");
  return TRUE;
}

BOOL CInterface::bWriteAsync(HWND hTarget, const void* pData, DWORD dwLength, WORD* pwSequence, DWORD* pdwError) {
  FOTAVI_BEGIN_OPERATION("bWriteAsync");
  if (hTarget == nullptr) return bFail("bWriteAsync", ERR_FOTAVI_FUNCPARAM, pdwError);
  CRequestItem* pItem = new (std::nothrow) CRequestItem;
  if (pItem == nullptr) return bFail("bWriteAsync", ERR_FOTAVI_NOMEMORY, pdwError);
  if (!pItem->bCopyData(pData, dwLength)) {
    delete pItem;
    return bFail("bWriteAsync", ERR_FOTAVI_NOMEMORY, pdwError);
  }
  pItem->m_bAsync = true;
  pItem->m_hTarget = hTarget;
  pItem->m_dwLength = dwLength;
  pItem->m_wSequence = NextSequence();
  if (pwSequence) *pwSequence = pItem->m_wSequence;
  if (!bPostToDispatcher(WM_FOTAVI_WRITE, pItem, FOTAVI_MODE_ASYNC)) {
    delete pItem;
    return bFail("bWriteAsync", ERR_FOTAVI_NOOPEN, pdwError);
  }
  theApp.m_Log.WriteEnd(TRUE, "bWriteAsync");
  return TRUE;
}

BOOL CInterface::bWrite(const void* pData, DWORD dwLength, DWORD* pdwWritten, WORD* pwSequence, DWORD* pdwError) {
  FOTAVI_BEGIN_OPERATION("bWrite");
  if (pdwWritten) *pdwWritten = 0;
  CRequestItem* pItem = new (std::nothrow) CRequestItem;
  if (pItem == nullptr) return bFail("bWrite", ERR_FOTAVI_NOMEMORY, pdwError);
  if (!pItem->bCopyData(pData, dwLength)) {
    delete pItem;
    return bFail("bWrite", ERR_FOTAVI_NOMEMORY, pdwError);
  }
  pItem->m_dwLength = dwLength;
  WORD wSequence = pwSequence ? *pwSequence : 0;
  pItem->m_wSequence = wSequence != 0 ? wSequence : NextSequence();
  if (pwSequence) *pwSequence = pItem->m_wSequence;
  if (!bPostToDispatcher(WM_FOTAVI_WRITE, pItem, FOTAVI_MODE_SYNC)) {
    delete pItem;
    return bFail("bWrite", ERR_FOTAVI_NOOPEN, pdwError);
  }
  pItem->Wait(INFINITE);
  if (pdwWritten) *pdwWritten = pItem->m_dwDone;
  BOOL bResult = bGetResult(pItem, pdwError);
  if (!bResult) return bFail("bWrite", *pdwError, pdwError);
  theApp.m_Log.WriteEnd(TRUE, "bWrite");
  return TRUE;
}

// ------------------------------------------------------- requests 11 - 14

BOOL CInterface::bRequestPost(HWND hTarget, CRequestItem* pItem, WORD* pwSequence, DWORD* pdwError) {
  pItem->m_bAsync = true;
  pItem->m_hTarget = hTarget;
  pItem->m_wSequence = NextSequence();
  if (pwSequence) *pwSequence = pItem->m_wSequence;
  if (!bPostToRequestThread(pItem, FOTAVI_MODE_ASYNC)) {
    delete pItem;
    return bFail("bRequestAsync", ERR_FOTAVI_NOOPEN, pdwError);
  }
  theApp.m_Log.WriteEnd(TRUE, "bRequestAsync");
  return TRUE;
}

BOOL CInterface::bRequestWait(CRequestItem* pItem, DWORD* pdwError) {
  pItem->m_wSequence = NextSequence();
  if (!bPostToRequestThread(pItem, FOTAVI_MODE_SYNC)) {
    *pdwError = ERR_FOTAVI_NOOPEN;
    return FALSE;
  }
  pItem->Wait(INFINITE);
  return TRUE;
}

// Commands whose successful reply is a data block (a frame may have none).
static bool RequestReturnsData(WORD wCommand) {
  switch (wCommand) {
    case FOTAVI_CMD_GET_JPEG: case FOTAVI_CMD_SD_ROOTLIST: case FOTAVI_CMD_SD_READFILE:
    case FOTAVI_CMD_SD_FOLDERLIST: case FOTAVI_CMD_SD_READPLAYLIST:
      return true;
    default:
      return false;
  }
}

static BOOL FillFromRequestParam(CRequestItem* pItem, const CRequestParam* pRequest, DWORD* pdwError) {
  if (pRequest == nullptr || pRequest->m_pCommand == nullptr ||
      (pRequest->m_dwDataLength != 0 && pRequest->m_pData == nullptr)) {
    *pdwError = ERR_FOTAVI_FUNCPARAM;
    return FALSE;
  }
  pItem->m_Command = *pRequest->m_pCommand;
  if (pRequest->m_pPath) std::memcpy(pItem->m_Path, pRequest->m_pPath, FOTAVI_PATH_BUFFER_SIZE);
  return pItem->bCopyRequestData(pRequest->m_dwDataLength, pRequest->m_pData, pdwError);
}

BOOL CInterface::bRequestAsync(HWND hTarget, CRequestParam* pRequest, WORD* pwSequence, DWORD* pdwError) {
  FOTAVI_BEGIN_OPERATION("bRequestAsync");
  if (hTarget == nullptr) return bFail("bRequestAsync", ERR_FOTAVI_FUNCPARAM, pdwError);
  CRequestItem* pItem = new (std::nothrow) CRequestItem;
  if (pItem == nullptr) return bFail("bRequestAsync", ERR_FOTAVI_NOMEMORY, pdwError);
  if (!FillFromRequestParam(pItem, pRequest, pdwError)) {
    delete pItem;
    return bFail("bRequestAsync", *pdwError, pdwError);
  }
  return bRequestPost(hTarget, pItem, pwSequence, pdwError);
}

BOOL CInterface::bRequestAsync(HWND hTarget, const DEVICE_CMD* pCommand, WORD* pwSequence, DWORD* pdwError) {
  FOTAVI_BEGIN_OPERATION("bRequestAsync");
  if (hTarget == nullptr || pCommand == nullptr) return bFail("bRequestAsync", ERR_FOTAVI_FUNCPARAM, pdwError);
  CRequestItem* pItem = new (std::nothrow) CRequestItem;
  if (pItem == nullptr) return bFail("bRequestAsync", ERR_FOTAVI_NOMEMORY, pdwError);
  pItem->m_Command = *pCommand;
  return bRequestPost(hTarget, pItem, pwSequence, pdwError);
}

BOOL CInterface::bRequest(CRequestParam* pRequest, DWORD* pdwError) {
  FOTAVI_BEGIN_OPERATION("bRequest");
  CRequestItem* pItem = new (std::nothrow) CRequestItem;
  if (pItem == nullptr) return bFail("bRequest", ERR_FOTAVI_NOMEMORY, pdwError);
  if (!FillFromRequestParam(pItem, pRequest, pdwError)) {
    delete pItem;
    return bFail("bRequest", *pdwError, pdwError);
  }
  // The block goes into the record's own slot first: the object's handle may
  // still hold an earlier reply's block, which the reply record must not carry.
  pItem->m_phDataSlot = &pItem->m_hAsyncData;
  if (!bRequestWait(pItem, pdwError)) {
    delete pItem;
    return bFail("bRequest", *pdwError, pdwError);
  }
  pRequest->m_dwStatus = pItem->m_dwStatus;
  if (pItem->m_bResult && RequestReturnsData(pItem->m_Command.wCommand)) {
    pRequest->m_hReplyData = pItem->m_hAsyncData;  // NULL for a frame of length 0
  }
  DEVICE_RSP* pRsp = MakeReply(WM_FOTAVI_REQUEST, pItem);
  if (pRsp == nullptr) {
    delete pItem;
    return bFail("bRequest", ERR_FOTAVI_NOMEMORY, pdwError);
  }
  pRsp->wCommand = LOWORD(pRequest->m_dwCommand);
  AddOutstanding(pRsp);
  pRequest->m_pReply = pRsp;
  pRequest->m_dwReleaseThread = m_dwDispatchThreadId.load();
  BOOL bResult = bGetResult(pItem, pdwError);
  if (!bResult) return bFail("bRequest", *pdwError, pdwError);
  theApp.m_Log.WriteEnd(TRUE, "bRequest");
  return TRUE;
}

BOOL CInterface::bRequest(const DEVICE_CMD* pCommand, HGLOBAL* phData, DWORD* pdwSize, DWORD* pdwError) {
  FOTAVI_BEGIN_OPERATION("bRequest");
  if (pdwSize) *pdwSize = 0;
  if (phData == nullptr || pCommand == nullptr) return bFail("bRequest", ERR_FOTAVI_FUNCPARAM, pdwError);
  *phData = nullptr;
  CRequestItem* pItem = new (std::nothrow) CRequestItem;
  if (pItem == nullptr) return bFail("bRequest", ERR_FOTAVI_NOMEMORY, pdwError);
  pItem->m_Command = *pCommand;
  pItem->m_phDataSlot = phData;
  if (!bRequestWait(pItem, pdwError)) {
    delete pItem;
    return bFail("bRequest", *pdwError, pdwError);
  }
  if (pdwSize) *pdwSize = pItem->m_dwDone;
  BOOL bResult = bGetResult(pItem, pdwError);
  if (!bResult) return bFail("bRequest", *pdwError, pdwError);
  theApp.m_Log.WriteEnd(TRUE, "bRequest");
  return TRUE;
}

// ------------------------------------------------------------ worker threads

void CInterface::DispatchThreadProc() {
  theApp.bPostMessage(nullptr, WM_FOTAVI_OPEN, reinterpret_cast<WPARAM>(m_pOpenItem), 0);
  RunMessageLoop([this](const MSG& msg) { OnDispatchMessage(msg); });
  // Wake every reader and caller still waiting on this thread.
  CRequestItem* pItem = nullptr;
  while (m_Device.bPopPendingRead(&pItem)) bCompleteRequest(WM_FOTAVI_READ, pItem);
  DrainAll([this](const MSG& msg) {
    if (msg.message == WM_FOTAVI_READ || msg.message == WM_FOTAVI_WRITE || msg.message == WM_FOTAVI_IOCTL ||
        (msg.message == WM_FOTAVI_READEXEC && !(msg.lParam & kReadAgain))) {
      auto* p = reinterpret_cast<CRequestItem*>(msg.wParam);
      p->m_bResult = FALSE;
      p->m_dwError = ERR_FOTAVI_NOOPEN;
      bCompleteRequest(msg.message == WM_FOTAVI_READEXEC ? WM_FOTAVI_READ : msg.message, p);
    }
  });
}

void CInterface::OnDispatchMessage(const MSG& msg) {
  auto* pItem = reinterpret_cast<CRequestItem*>(msg.wParam);
  DWORD dwError = 0;
  switch (msg.message) {
    case WM_FOTAVI_OPEN:
      pItem->m_bResult = m_Device.bOpenSub(&dwError);
      pItem->m_dwError = dwError;
      pItem->Set();
      break;
    case WM_FOTAVI_CLOSE:
      pItem->m_bResult = m_Device.bCloseSub(&dwError);
      pItem->m_dwError = dwError;
      pItem->Set();
      break;
    case WM_FOTAVI_READ:
      if (pItem->m_pBuffer) std::memset(pItem->m_pBuffer, 0, std::min<DWORD>(pItem->m_dwLength, 16));
      theApp.bPostMessage(nullptr, WM_FOTAVI_READEXEC, msg.wParam, msg.lParam);
      break;
    case WM_FOTAVI_READEXEC: {
      // A repeated read only goes on while its reader is still waiting.
      if ((msg.lParam & kReadAgain) && !m_Device.IsPending(pItem)) break;
      CRequestItem* pCompleted = nullptr;
      m_Device.bReadPacket(pItem, &dwError, &pCompleted);
      bool bStillQueued = pCompleted != pItem;
      bool bSyncReader = !pItem->m_bAsync;
      bCompleteRequest(WM_FOTAVI_READ, pCompleted);
      if (bStillQueued && bSyncReader) {
        // The packet went to another waiting read; a synchronous reader
        // would otherwise wait for ever, so read again for it.
        theApp.bPostMessage(nullptr, WM_FOTAVI_READEXEC, msg.wParam, msg.lParam | kReadAgain);
      }
      break;
    }
    case WM_FOTAVI_WRITE: {
      if (pItem->m_dwLength >= 4) std::memcpy(pItem->m_pDataCopy + 2, &pItem->m_wSequence, 2);
      DWORD dwWritten = 0;
      WORD wSequence = 0;
      pItem->m_bResult = m_Device.bWriteSub(pItem->m_pDataCopy, pItem->m_dwLength, &dwWritten, &wSequence, &dwError);
      pItem->m_dwError = dwError;
      pItem->m_dwDone = dwWritten;
      bCompleteRequest(WM_FOTAVI_WRITE, pItem);
      break;
    }
    case WM_FOTAVI_IOCTL: {
      DWORD dwReturned = 0;
      pItem->m_bResult =
          m_Device.bIoctlSub(pItem->m_dwControlCode, pItem->m_pDataCopy, pItem->m_dwLength, &dwReturned, &dwError);
      pItem->m_dwError = dwError;
      pItem->m_dwDone = dwReturned;
      bCompleteRequest(WM_FOTAVI_IOCTL, pItem);
      break;
    }
    case WM_FOTAVI_READSTOP: {
      CRequestItem* pStopped = nullptr;
      while (m_Device.bPopPendingRead(&pStopped)) bCompleteRequest(WM_FOTAVI_READ, pStopped);
      break;
    }
    case WM_FOTAVI_RELASERSP: {
      auto* pRsp = reinterpret_cast<DEVICE_RSP*>(msg.lParam);
      if (pRsp == nullptr) break;
      if (RemoveOutstanding(pRsp)) {
        delete pRsp;
      } else {
        theApp.m_Log.WriteTrace("WM_FOTAVI_RELASERSP error(%lx)", static_cast<unsigned long>(msg.lParam));
      }
      break;
    }
    default:
      break;
  }
}

void CInterface::RequestThreadProc() {
  theApp.bPostMessage(nullptr, WM_FOTAVI_OPEN, reinterpret_cast<WPARAM>(m_pOpenItem), 0);
  RunMessageLoop([this](const MSG& msg) { OnRequestMessage(msg); });
  DrainAll([this](const MSG& msg) {
    if (msg.message == WM_FOTAVI_REQUEST) {
      auto* p = reinterpret_cast<CRequestItem*>(msg.lParam);
      p->m_bResult = FALSE;
      p->m_dwError = ERR_FOTAVI_NOOPEN;
      if (p->m_bAsync && p->m_phDataSlot == nullptr) p->m_phDataSlot = &p->m_hAsyncData;
      bCompleteRequest(WM_FOTAVI_REQUEST, p);
    }
  });
}

void CInterface::OnRequestMessage(const MSG& msg) {
  if (msg.message == WM_FOTAVI_OPEN) {
    reinterpret_cast<CRequestItem*>(msg.wParam)->Set();
    return;
  }
  if (msg.message != WM_FOTAVI_REQUEST) return;
  auto* pItem = reinterpret_cast<CRequestItem*>(msg.lParam);
  if (pItem->m_phDataSlot == nullptr) pItem->m_phDataSlot = &pItem->m_hAsyncData;
  DWORD dwError = 0;
  pItem->m_bResult = m_Device.bRequestSub(pItem, &dwError);
  pItem->m_dwError = dwError;
  bCompleteRequest(WM_FOTAVI_REQUEST, pItem);
}

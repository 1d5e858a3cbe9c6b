// The library's implementation of CDeviceInterface: each operation becomes
// one operation record carried out on the dispatcher thread (all pipe I/O)
// or the request thread (whole device commands).
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "Class/Device.h"
#include "FotaviZ5.h"
#include "Platform/Messages.h"
#include "Platform/Sync.h"

// Thread messages inside the library.
constexpr UINT WM_FOTAVI_OPEN = WM_USER + 3000;
constexpr UINT WM_FOTAVI_CLOSE = WM_USER + 3100;
constexpr UINT WM_FOTAVI_READEXEC = WM_USER + 3200;
constexpr UINT WM_FOTAVI_READSTOP = WM_USER + 3201;

constexpr LPARAM FOTAVI_MODE_SYNC = 0;
constexpr LPARAM FOTAVI_MODE_ASYNC = 1;

// One operation on its way to a worker thread. Synchronous callers wait on
// the record's event.
class CRequestItem : public CEvent {
 public:
  CRequestItem() : CEvent(false, false) {}
  ~CRequestItem();

  BOOL m_bResult = FALSE;
  DWORD m_dwError = 0;
  WORD m_wSequence = 0;
  DWORD m_dwStatus = FOTAVI_STATUS_NORESPONSE;
  HWND m_hTarget = nullptr;
  void* m_pBuffer = nullptr;
  DWORD m_dwLength = 0;
  DWORD m_dwDone = 0;
  BYTE* m_pDataCopy = nullptr;
  DWORD m_dwControlCode = 0;
  DEVICE_CMD m_Command{};
  char m_Path[FOTAVI_PATH_BUFFER_SIZE] = {};
  BYTE* m_pRequestData = nullptr;   // sub-header + data
  DWORD m_dwRequestDataLength = 0;  // data bytes behind the sub-header
  HGLOBAL* m_phDataSlot = nullptr;  // NULL: asynchronous request
  // Own additions: the mode the record was made for, and the slot a request
  // without a caller's slot (asynchronous, or the request-object form) writes
  // its data handle into.
  bool m_bAsync = false;
  HGLOBAL m_hAsyncData = nullptr;

  // The library's own copy of write or I/O-control data (zeros without data).
  BOOL bCopyData(const void* pData, DWORD dwLength);
  BOOL bCopyRequestData(DWORD dwLength, const void* pData, DWORD* pdwError);
};

class CDeviceWnd;

class CInterface : public CDeviceInterface {
 public:
  CInterface();
  ~CInterface() override;

  BOOL bSetNotifyWindow(HWND hWnd) override;
  DWORD bIsConnected() override;
  BOOL bOpen(HWND hNotifyWnd, DWORD* pdwError) override;
  BOOL bClose(DWORD* pdwError) override;
  BOOL bIoctlAsync(HWND hTarget, DWORD dwCode, const void* pData, DWORD dwLength, WORD* pwSequence,
                   DWORD* pdwError) override;
  BOOL bIoctl(DWORD dwCode, void* pBuffer, DWORD dwLength, DWORD* pdwReturned, WORD* pwSequence,
              DWORD* pdwError) override;
  BOOL bReadAsync(HWND hTarget, void* pBuffer, DWORD dwLength, WORD* pwSequence, DWORD* pdwError) override;
  BOOL bRead(void* pBuffer, DWORD dwLength, DWORD* pdwRead, WORD* pwSequence, DWORD* pdwError) override;
  BOOL bWriteAsync(HWND hTarget, const void* pData, DWORD dwLength, WORD* pwSequence, DWORD* pdwError) override;
  BOOL bWrite(const void* pData, DWORD dwLength, DWORD* pdwWritten, WORD* pwSequence, DWORD* pdwError) override;
  BOOL bRequestAsync(HWND hTarget, CRequestParam* pRequest, WORD* pwSequence, DWORD* pdwError) override;
  BOOL bRequestAsync(HWND hTarget, const DEVICE_CMD* pCommand, WORD* pwSequence, DWORD* pdwError) override;
  BOOL bRequest(CRequestParam* pRequest, DWORD* pdwError) override;
  BOOL bRequest(const DEVICE_CMD* pCommand, HGLOBAL* phData, DWORD* pdwSize, DWORD* pdwError) override;

  // Internal operations.
  BOOL bCloseSelf(DWORD* pdwError);
  BOOL bReadStop();
  void bGetDriverLog(char* pBuffer, DWORD dwSize, DWORD* pdwLength);
  BOOL IsOpened() const { return m_Device.IsOpened(); }
  CDevice& Device() { return m_Device; }
  CCriticalSection& InterfaceLock() { return m_InterfaceLock; }
  size_t OutstandingCount();

 private:
  WORD NextSequence();
  BOOL bCloseSequence(const char* pszName, DWORD* pdwError);
  BOOL bCheckOpenMutex(DWORD* pdwError);
  BOOL bPostToDispatcher(UINT uMsg, CRequestItem* pItem, LPARAM lMode);
  BOOL bPostToRequestThread(CRequestItem* pItem, LPARAM lMode);
  BOOL bGetResult(CRequestItem* pItem, DWORD* pdwError);
  BOOL bFail(const char* pszName, DWORD dwError, DWORD* pdwError);
  BOOL bRequestWait(CRequestItem* pItem, DWORD* pdwError);
  BOOL bRequestPost(HWND hTarget, CRequestItem* pItem, WORD* pwSequence, DWORD* pdwError);
  void bCompleteRequest(UINT uMsg, CRequestItem* pItem);
  DEVICE_RSP* MakeReply(UINT uMsg, const CRequestItem* pItem);
  void AddOutstanding(DEVICE_RSP* pRsp);
  bool RemoveOutstanding(DEVICE_RSP* pRsp);
  void StopThread(std::unique_ptr<CPlatformThread>& pThread);

  void DispatchThreadProc();
  void OnDispatchMessage(const MSG& msg);
  void RequestThreadProc();
  void OnRequestMessage(const MSG& msg);

  CRequestItem* m_pOpenItem = nullptr;
  CDevice m_Device;
  CCriticalSection m_InterfaceLock;
  // Held by bOpen and the close sequence from start to end (the worker
  // threads never take it): the close releases the interface lock before it
  // stops the request thread and closes the open-check mutex, and an open on
  // another thread must not start in between.
  CCriticalSection m_OpenCloseLock;
  CCriticalSection m_OutstandingLock;
  std::vector<DEVICE_RSP*> m_Outstanding;
  // Records taken back by a close: kept until the object goes, so that their
  // addresses are never handed out again and a late hand-back of one is
  // recognised as unknown instead of freeing a newer record.
  std::vector<DEVICE_RSP*> m_Retired;
  std::atomic<WORD> m_wSequence{0};
  std::unique_ptr<CPlatformThread> m_pDispatchThread;
  std::unique_ptr<CPlatformThread> m_pRequestThread;
  std::atomic<DWORD> m_dwDispatchThreadId{0};
  std::atomic<DWORD> m_dwRequestThreadId{0};
  std::unique_ptr<CNamedMutex> m_pOpenMutex;
};

// Library-wide pointers for the library's own use.
extern CInterface* g_pInterface;
extern CDeviceWnd* g_pDeviceWnd;

// Version rule of the open check: the "Global\" prefix applies from
// Windows NT 5.0 on. The platform reports an NT 5.1 system.
bool bCheckOSVersion(DWORD dw9xMajor, DWORD dw9xMinor, DWORD dwNTMajor, DWORD dwNTMinor, DWORD dwNTServicePack);

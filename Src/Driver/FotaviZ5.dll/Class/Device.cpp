#include "Class/Device.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <strings.h>

#include "Class/Interface.h"
#include "DeviceWnd.h"
#include "FotaviZ5App.h"
#include "Platform/Paths.h"
#include "Platform/Settings.h"
#include "TimeLimits.h"

namespace {

constexpr const char* kDeviceKey = "SOFTWARE\\Tiryx\\Z5\\Device Parameters";
constexpr const char* kInstallKey = "SOFTWARE\\Tiryx\\Utility Software (K27)\\Parameters";
constexpr size_t kInstallPathMaxChars = 260;  // 522 bytes of wide text with its terminator
constexpr size_t kPipePathMax = 1024;

BOOL Fail(DWORD dwError, DWORD* pdwError) {
  *pdwError = dwError;
  theApp.m_Log.WriteInfo(FALSE, dwError, LOG_SRC_DEVICE, 0);
  return FALSE;
}

// Maps a transfer's outcome to the direction's codes.
BOOL TransferResult(DeviceIoResult r, DWORD dwFailure, DWORD dwTimeout, DWORD* pdwError) {
  switch (r) {
    case DeviceIoResult::Ok: return TRUE;
    // The platform's transfer is not left pending after its wait, and a pipe
    // transfer that ran out of time drops its connection, so that a late
    // answer never reaches a later read.
    case DeviceIoResult::Timeout: return Fail(dwTimeout, pdwError);
    default: return Fail(dwFailure, pdwError);
  }
}

}  // namespace

std::string CDeviceSettings::LogFolder() const {
  if (strcasecmp(installPath.c_str(), "C:") == 0) return GetFallbackRoot();
  return installPath + "/Logs/";
}

CDeviceSettings ReadDeviceSettings() {
  CDeviceSettings s;
  s.dwMaxTransferSize = SettingsGetDword(HKEY_LOCAL_MACHINE, kDeviceKey, "MaxTransferSize", 64);
  s.dwLogFileSize = SettingsGetDword(HKEY_LOCAL_MACHINE, kDeviceKey, "LogFileSize", 1024);
  s.dwLogLevel = SettingsGetDword(HKEY_LOCAL_MACHINE, kDeviceKey, "LogLevel", 1);
  std::string path;
  if (SettingsReadString(HKEY_LOCAL_MACHINE, kInstallKey, "InstallPath", &path) &&
      path.size() <= kInstallPathMaxChars) {
    s.installPath = path;
  }
  return s;
}

CRequestItem* FindPacketOwner(const std::deque<CRequestItem*>& pending, CRequestItem* pPosted, WORD wSequence) {
  if (wSequence == 0) return pPosted;
  for (CRequestItem* p : pending) {
    if (p->m_wSequence == wSequence) return p;
  }
  return nullptr;
}

CDevice::CDevice() {
  CDeviceSettings s = ReadDeviceSettings();
  uint64_t bytes = static_cast<uint64_t>(s.dwMaxTransferSize) * 1024;
  m_dwTransferSize = bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(bytes);
  uint64_t limit = static_cast<uint64_t>(s.dwLogFileSize) * 1024;
  theApp.m_Log.SetSettings(limit > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(limit), s.dwLogLevel,
                           s.LogFolder());
}

CDevice::~CDevice() = default;

std::unique_ptr<CDeviceHandle> CDevice::bOpenDevice(DWORD dwMember, DWORD* pdwError) {
  *pdwError = 0;
  std::string refusal;
  auto set = CDeviceInfoSet::GetPresent(FOTAVI_DEVICE_CLASS_GUID, &refusal);
  if (!set) {
    if (!refusal.empty()) theApp.m_Log.WriteLineF("INFO\t\t:%s", refusal.c_str());
    Fail(ERR_FOTAVI_INITDEVICE, pdwError);
    return nullptr;
  }
  std::string devicePath;
  DWORD dwEnum = set->EnumMember(dwMember, &devicePath);
  if (dwEnum != ERROR_SUCCESS) {
    Fail(dwEnum == ERROR_NO_MORE_ITEMS ? ERR_FOTAVI_NODEVICE : ERR_FOTAVI_INITDEVICE, pdwError);
    return nullptr;
  }
  std::string pipePath = devicePath + "/" + DEVICE_PIPE_SOCKET;
  if (pipePath.size() > kPipePathMax) {
    Fail(ERR_FOTAVI_INITDEVICE, pdwError);
    return nullptr;
  }
  auto handle = CDeviceHandle::Open(pipePath);
  if (!handle) Fail(ERR_FOTAVI_CREATEDEVICE, pdwError);
  return handle;
}

BOOL CDevice::bOpenSub(DWORD* pdwError) {
  theApp.m_Log.WriteStart("bOpenSub");
  BOOL bResult = FALSE;
  auto handle = bOpenDevice(0, pdwError);
  if (handle) {
    if (m_Request.bLoadJpegHeader(pdwError)) {
      try {
        m_PacketBuffer.assign(m_dwTransferSize, 0);
        m_Request.SetPacketSize(m_dwTransferSize);
        std::lock_guard<CCriticalSection> lock(m_DeviceLock);
        m_pDevice = std::move(handle);
        m_bOpened.store(TRUE);
        if (g_pDeviceWnd) g_pDeviceWnd->SetOpened(TRUE, m_pDevice->HoldMember());
        bResult = TRUE;
      } catch (const std::bad_alloc&) {
        m_Request.FreeJpegHeader();
        Fail(ERR_FOTAVI_NOMEMORY, pdwError);
      }
    }
  }
  theApp.m_Log.WriteEnd(bResult, "bOpenSub");
  return bResult;
}

BOOL CDevice::bCloseSub(DWORD* pdwError) {
  theApp.m_Log.WriteStart("bCloseSub");
  *pdwError = 0;
  {
    std::lock_guard<CCriticalSection> lock(m_DeviceLock);
    m_pDevice.reset();
    m_bOpened.store(FALSE);
  }
  std::vector<BYTE>().swap(m_PacketBuffer);
  m_Request.FreeJpegHeader();
  if (g_pDeviceWnd) g_pDeviceWnd->SetOpened(FALSE);
  theApp.m_Log.WriteEnd(TRUE, "bCloseSub");
  return TRUE;
}

BOOL CDevice::bIoctlSub(DWORD dwCode, void* pBuffer, DWORD dwSize, DWORD* pdwReturned, DWORD* pdwError) {
  *pdwReturned = 0;
  *pdwError = 0;
  std::lock_guard<CCriticalSection> lock(m_DeviceLock);
  if (!m_pDevice) return Fail(ERR_FOTAVI_IOCTLFAILUER, pdwError);
  return TransferResult(m_pDevice->IoControl(dwCode, pBuffer, dwSize, pdwReturned, TimeLimits().dwTransferMs),
                        ERR_FOTAVI_IOCTLFAILUER, ERR_FOTAVI_IOCTLTIMEOUT, pdwError);
}

DWORD CDevice::GetDriverText(char* pBuffer, DWORD dwSize) {
  std::lock_guard<CCriticalSection> lock(m_DeviceLock);
  if (!m_pDevice) return 0;
  DWORD dwReturned = 0;
  if (m_pDevice->IoControl(IOCTL_FOTAVI_GET_DRIVER_LOG, pBuffer, dwSize, &dwReturned, TimeLimits().dwTransferMs) !=
      DeviceIoResult::Ok) {
    return 0;
  }
  return static_cast<DWORD>(strnlen(pBuffer, dwReturned));
}

BOOL CDevice::bReadSub(DWORD* pdwRead, DWORD* pdwError) {
  theApp.m_Log.WriteStart("bReadSub");
  *pdwRead = 0;
  *pdwError = 0;
  BOOL bResult = FALSE;
  theApp.m_Log.WriteTrace("ReadFile()");
  if (!m_pDevice) {
    Fail(ERR_FOTAVI_READFAILUER, pdwError);
  } else {
    bResult = TransferResult(
        m_pDevice->Read(m_PacketBuffer.data(), m_dwTransferSize, pdwRead, TimeLimits().dwTransferMs),
        ERR_FOTAVI_READFAILUER, ERR_FOTAVI_READTIMEOUT, pdwError);
  }
  theApp.m_Log.WriteTrace(bResult ? "ReadFile() [TRUE]" : "ReadFile() [FALSE]");
  if (bResult) theApp.m_Log.WriteDump(m_PacketBuffer.data(), std::min<DWORD>(*pdwRead, 16), true);
  theApp.m_Log.WriteEnd(bResult, "bReadSub");
  return bResult;
}

BOOL CDevice::bWriteSub(const void* pData, DWORD dwLength, DWORD* pdwWritten, WORD* pwSequence, DWORD* pdwError) {
  theApp.m_Log.WriteStart("bWriteSub");
  *pdwWritten = 0;
  *pdwError = 0;
  BOOL bResult = FALSE;
  theApp.m_Log.WriteDump(pData, std::min<DWORD>(dwLength, 16), false);
  theApp.m_Log.WriteTrace("WriteFile()");
  if (!m_pDevice) {
    Fail(ERR_FOTAVI_WRITEFAILUER, pdwError);
  } else {
    bResult = TransferResult(m_pDevice->Write(pData, dwLength, pdwWritten, TimeLimits().dwTransferMs),
                             ERR_FOTAVI_WRITEFAILUER, ERR_FOTAVI_WRITETIMEOUT, pdwError);
  }
  theApp.m_Log.WriteTrace(bResult ? "WriteFile() [TRUE]" : "WriteFile() [FALSE]");
  if (bResult && pwSequence && dwLength >= 4) std::memcpy(pwSequence, static_cast<const BYTE*>(pData) + 2, 2);
  theApp.m_Log.WriteEnd(bResult, "bWriteSub");
  return bResult;
}

bool CDevice::IsPending(const CRequestItem* pItem) const {
  return std::find(m_PendingReads.begin(), m_PendingReads.end(), pItem) != m_PendingReads.end();
}

BOOL CDevice::bReadPacket(CRequestItem* pPosted, DWORD* pdwError, CRequestItem** ppCompleted) {
  if (!IsPending(pPosted)) m_PendingReads.push_back(pPosted);
  auto leave = [this](CRequestItem* p) {
    auto it = std::find(m_PendingReads.begin(), m_PendingReads.end(), p);
    if (it != m_PendingReads.end()) m_PendingReads.erase(it);
  };
  *ppCompleted = pPosted;
  DWORD dwRead = 0;
  if (!bReadSub(&dwRead, pdwError)) {
    pPosted->m_bResult = FALSE;
    pPosted->m_dwError = *pdwError;
    pPosted->m_dwDone = dwRead;
    leave(pPosted);
    return FALSE;
  }
  if (dwRead == 0) {
    pPosted->m_bResult = FALSE;
    pPosted->m_dwError = *pdwError = ERR_FOTAVI_READZERO;
    pPosted->m_dwDone = 0;
    leave(pPosted);
    theApp.m_Log.WriteInfo(FALSE, ERR_FOTAVI_READZERO, LOG_SRC_DEVICE, 0);
    return FALSE;
  }
  WORD wSequence = 0;
  if (dwRead >= 4) std::memcpy(&wSequence, m_PacketBuffer.data() + 2, 2);
  CRequestItem* pOwner = FindPacketOwner(m_PendingReads, pPosted, wSequence);
  if (pOwner == nullptr) {
    pPosted->m_bResult = FALSE;
    pPosted->m_dwError = *pdwError = ERR_FOTAVI_READSEQ;
    pPosted->m_dwDone = dwRead;
    leave(pPosted);
    theApp.m_Log.WriteInfo(FALSE, ERR_FOTAVI_READSEQ, LOG_SRC_DEVICE, 0);
    return FALSE;
  }
  pOwner->m_bResult = TRUE;
  pOwner->m_dwError = 0;
  pOwner->m_dwDone = dwRead;
  if (pOwner->m_pBuffer) std::memcpy(pOwner->m_pBuffer, m_PacketBuffer.data(), std::min(dwRead, pOwner->m_dwLength));
  leave(pOwner);
  *ppCompleted = pOwner;
  return TRUE;
}

BOOL CDevice::bPopPendingRead(CRequestItem** ppItem) {
  if (m_PendingReads.empty()) return FALSE;
  CRequestItem* p = m_PendingReads.front();
  m_PendingReads.pop_front();
  p->m_bResult = FALSE;
  p->m_dwDone = 0;
  p->m_dwError = ERR_FOTAVI_READSTOP;
  *ppItem = p;
  return TRUE;
}

BOOL CDevice::bRequestSub(CRequestItem* pItem, DWORD* pdwError) {
  theApp.m_Log.WriteStart("bRequestSub");
  *pdwError = 0;
  BOOL bResult = FALSE;
  bool bRan = false;
  {
    std::lock_guard<CCriticalSection> lock(g_pInterface->InterfaceLock());
    if (!m_bOpened.load()) {
      // Closed while the request was queued: nothing to send, nothing to reset.
      Fail(ERR_FOTAVI_NOOPEN, pdwError);
    } else {
      bRan = true;
      switch (pItem->m_Command.wCommand) {
        case 0x808E:
          bResult = m_Request.bRequest(pItem, pdwError);
          break;
        case 0xE0: case 0xE1: case 0xE2: case 0xEA: case 0xFA: case 0x108: case 0x8101:
        case 0x201: case 0x202: case 0x203: case 0x204: case 0x205: case 0x206: case 0x207:
        case 0x208: case 0x209: case 0x20A: case 0x20B: case 0x20C: case 0x20D: case 0x20E:
          bResult = m_Request.bRequest2(pItem, pdwError);
          break;
        case 0x8102:
          bResult = m_Request.bRequest3(pItem, pdwError);
          break;
        case 0x8104: case 0x8107:
          bResult = m_Request.bRequest4(pItem, pdwError);
          break;
        case 0x105: case 0x106:
          bResult = m_Request.bRequest5(pItem, pdwError);
          break;
        case 0x104: case 0x107:
          bResult = m_Request.bRequest6(pItem, pdwError);
          break;
        case 0x8105:
          bResult = m_Request.bRequest7(pItem, pdwError);
          break;
        default:
          Fail(ERR_FOTAVI_REQUEST, pdwError);
          break;
      }
    }
  }
  if (!bResult && bRan) {
    DWORD dwResetError = 0;
    m_Request.bReset(&dwResetError);
  }
  theApp.m_Log.WriteEnd(bResult, "bRequestSub");
  return bResult;
}

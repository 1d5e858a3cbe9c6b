#include "Class/Request.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Class/Interface.h"
#include "FotaviZ5App.h"
#include "JpegHeaderResource.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Sync.h"
#include "Platform/Time.h"
#include "TimeLimits.h"

namespace {

constexpr const char* kResponseMutex = "Wait for Response";
constexpr const char* kJpegHeaderType = "RT_CTM_JPEGHEAD";
constexpr const char* kJpegHeaderName = "IDR_JPEGHEAD1024";
constexpr DWORD kStatusPlaylistPending = 32;

DWORD GetDword(const BYTE* p) {
  DWORD v;
  std::memcpy(&v, p, 4);
  return v;
}

void PutDword(BYTE* p, DWORD v) { std::memcpy(p, &v, 4); }

void PutHeader(BYTE* p, WORD wType, WORD wSequence, DWORD dwLength) {
  std::memcpy(p, &wType, 2);
  std::memcpy(p + 2, &wSequence, 2);
  PutDword(p + 4, dwLength);
}

// START and END lines of one protocol step, and its INFO line on failure.
class CStep {
 public:
  CStep(const char* pszName, DWORD* pdwError) : m_pszName(pszName), m_pdwError(pdwError) {
    theApp.m_Log.WriteStart(pszName, true);
  }
  ~CStep() {
    theApp.m_Log.WriteInfo(m_bResult, *m_pdwError, LOG_SRC_REQUEST, 0);
    theApp.m_Log.WriteEnd(m_bResult, m_pszName, true);
  }
  BOOL Done(BOOL bResult) {
    m_bResult = bResult;
    return bResult;
  }
  BOOL Fail(DWORD dwError) {
    *m_pdwError = dwError;
    return Done(FALSE);
  }

 private:
  const char* m_pszName;
  DWORD* m_pdwError;
  BOOL m_bResult = FALSE;
};

HGLOBAL AllocGlobal(uint64_t nBytes, BYTE** ppData) {
  *ppData = nullptr;
  if (nBytes > 0xFFFFFFFFull) return nullptr;
  HGLOBAL h = GlobalAlloc(GHND, static_cast<size_t>(nBytes));
  if (h == nullptr) return nullptr;
  *ppData = static_cast<BYTE*>(GlobalLock(h));
  if (*ppData == nullptr) {
    GlobalFree(h);
    return nullptr;
  }
  return h;
}

}  // namespace

static const CModuleResource g_Resources[] = {
    {kJpegHeaderType, kJpegHeaderName, g_JpegHead1024, g_JpegHead1024Size},
};

const CModuleResource* FindModuleResource(const char* pszName, const char* pszType) {
  for (const CModuleResource& r : g_Resources) {
    if (std::strcmp(r.pszName, pszName) == 0 && std::strcmp(r.pszType, pszType) == 0) return &r;
  }
  return nullptr;
}

// ------------------------------------------------------------ CCommandPacket

CCommandPacket::CCommandPacket() {
  std::memset(m_Command, 0, sizeof m_Command);
  std::memset(m_Response, 0, sizeof m_Response);
}

void CCommandPacket::SetCommand(WORD wSequence, const DEVICE_CMD& command) {
  std::memset(m_Command, 0, sizeof m_Command);
  PutHeader(m_Command, FOTAVI_PACKET_COMMAND, wSequence, sizeof(DEVICE_CMD));
  std::memcpy(m_Command + FOTAVI_PACKET_HEADER_SIZE, &command, sizeof(DEVICE_CMD));
}

// ------------------------------------------------------------------ CRequest

CRequest::CRequest() = default;
CRequest::~CRequest() = default;

BOOL CRequest::bLoadJpegHeader(DWORD* pdwError) {
  const CModuleResource* pRes = FindModuleResource(kJpegHeaderName, kJpegHeaderType);
  if (pRes == nullptr || pRes->pData == nullptr || pRes->nSize == 0) {
    *pdwError = ERR_FOTAVI_SYSCALL;
    theApp.m_Log.WriteInfo(FALSE, *pdwError, LOG_SRC_REQUEST, 0);
    return FALSE;
  }
  try {
    m_JpegHeader.assign(pRes->pData, pRes->pData + pRes->nSize);
  } catch (const std::bad_alloc&) {
    *pdwError = ERR_FOTAVI_NOMEMORY;
    theApp.m_Log.WriteInfo(FALSE, *pdwError, LOG_SRC_REQUEST, 0);
    return FALSE;
  }
  m_dwJpegHeaderSize = static_cast<DWORD>(pRes->nSize);
  return TRUE;
}

void CRequest::FreeJpegHeader() {
  std::vector<BYTE>().swap(m_JpegHeader);
  m_dwJpegHeaderSize = 0;
}

void CRequest::SetData(CRequestItem* pItem, HGLOBAL hData, DWORD dwLength) {
  if (pItem->m_phDataSlot) *pItem->m_phDataSlot = hData;
  pItem->m_dwDone = dwLength;
}

BOOL CRequest::bReadPacket(CRequestItem* pItem, BYTE* pBuffer, DWORD dwLength, DWORD* pdwRead, DWORD* pdwError) {
  WORD wSequence = pItem->m_wSequence;
  return g_pInterface->bRead(pBuffer, dwLength, pdwRead, &wSequence, pdwError);
}

BOOL CRequest::bWritePacket(CRequestItem* pItem, const void* pData, DWORD dwLength, DWORD* pdwError) {
  WORD wSequence = pItem->m_wSequence;
  DWORD dwWritten = 0;
  if (!g_pInterface->bWrite(pData, dwLength, &dwWritten, &wSequence, pdwError)) return FALSE;
  if (dwWritten != dwLength) {
    *pdwError = ERR_FOTAVI_WRITEFAILUER;
    return FALSE;
  }
  return TRUE;
}

void CRequest::WaitInterval() {
  DWORD dwNow = GetTickCount();
  if (dwNow >= m_dwLastFrameTick) {
    DWORD dwElapsed = dwNow - m_dwLastFrameTick;
    if (dwElapsed < FOTAVI_FRAME_SPACING_MS) Sleep(FOTAVI_FRAME_SPACING_MS - dwElapsed);
  }
  m_dwLastFrameTick = GetTickCount();
}

BOOL CRequest::bWriteCommand(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError) {
  CStep step("bWriteCommand", pdwError);
  return step.Done(bWritePacket(pItem, pPacket->m_Command, FOTAVI_COMMAND_PACKET_SIZE, pdwError));
}

BOOL CRequest::bReadResponse(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError) {
  CStep step("bReadResponse", pdwError);
  std::memset(pPacket->m_Response, 0, sizeof pPacket->m_Response);
  DWORD dwRead = 0;
  if (!bReadPacket(pItem, pPacket->m_Response, FOTAVI_COMMAND_PACKET_SIZE, &dwRead, pdwError)) return step.Done(FALSE);
  if (dwRead == 0) return step.Fail(ERR_FOTAVI_READZERO);
  // Cut short of its three words: the camera sent no status.
  if (dwRead < FOTAVI_RESPONSE_MIN_SIZE) return step.Fail(ERR_FOTAVI_READFAILUER);
  return step.Done(TRUE);
}

BOOL CRequest::bCommandAndResponse(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError) {
  CStep step("bCommandAndResponse", pdwError);
  pPacket->SetCommand(pItem->m_wSequence, pItem->m_Command);
  CNamedMutex::Outcome outcome;
  std::unique_ptr<CNamedMutex> pMutex = CNamedMutex::Create(kResponseMutex, false, &outcome);
  if (!pMutex) {
    // Its lock folder is missing or not the user's own (never trusted then).
    theApp.m_Log.WriteTrace("CreateMutex(%s) failed, lock folder [%s]", kResponseMutex, NamedMutexFolder().c_str());
  }
  // The exchange goes on even when the mutex cannot be had in time.
  bool bOwned = pMutex && pMutex->Wait(TimeLimits().dwMutexWaitMs) == WAIT_OBJECT_0;
  BOOL bResult = bWriteCommand(pItem, pPacket, pdwError);
  if (bResult) {
    pItem->m_dwStatus = FOTAVI_STATUS_NORESPONSE;
    bResult = bReadResponse(pItem, pPacket, pdwError);
    if (bResult) {
      if (pItem->m_Command.wCommand == FOTAVI_CMD_GET_JPEG) {
        pItem->m_dwStatus = GetDword(pPacket->m_Response + 8) & 0xFFFF;
      } else {
        pItem->m_dwStatus = GetDword(pPacket->m_Response + 12);
      }
    }
  }
  if (bOwned) pMutex->Release();
  return step.Done(bResult);
}

DWORD CRequest::AppendPackets(CRequestItem* pItem, std::vector<BYTE>& buffer, BYTE* pDest, uint64_t nGot,
                              uint64_t nWanted, DWORD* pdwError) {
  // Payloads are stored up to the wanted length and never beyond it; a
  // surplus, like a shortfall, fails the transfer.
  while (nGot < nWanted) {
    DWORD dwRead = 0;
    if (!bReadPacket(pItem, buffer.data(), m_dwPacketSize, &dwRead, pdwError)) return *pdwError;
    if (dwRead == 0) return ERR_FOTAVI_READZERO;
    dwRead = std::min(dwRead, m_dwPacketSize);
    if (dwRead < FOTAVI_PACKET_HEADER_SIZE) return ERR_FOTAVI_READFAILUER;
    uint64_t nPayload = dwRead - FOTAVI_PACKET_HEADER_SIZE;
    std::memcpy(pDest + nGot, buffer.data() + FOTAVI_PACKET_HEADER_SIZE,
                static_cast<size_t>(std::min(nPayload, nWanted - nGot)));
    nGot += nPayload;
  }
  return nGot == nWanted ? 0 : ERR_FOTAVI_READFAILUER;
}

DWORD CRequest::ReadFirstPacket(CRequestItem* pItem, std::vector<BYTE>& buffer, DWORD dwMinimum, DWORD* pdwRead,
                                DWORD* pdwError) {
  try {
    buffer.assign(m_dwPacketSize, 0);
  } catch (const std::bad_alloc&) {
    return ERR_FOTAVI_NOMEMORY;
  }
  if (!bReadPacket(pItem, buffer.data(), m_dwPacketSize, pdwRead, pdwError)) return *pdwError;
  if (*pdwRead == 0) return ERR_FOTAVI_READZERO;
  *pdwRead = std::min(*pdwRead, m_dwPacketSize);
  // Shorter than its fixed fields: not a packet of this exchange.
  if (*pdwRead < dwMinimum) return ERR_FOTAVI_READFAILUER;
  return 0;
}

BOOL CRequest::bReadDataPackets(CRequestItem* pItem, BYTE* pDest, DWORD dwLength, DWORD* pdwError) {
  CStep step("bReadDataPackets", pdwError);
  std::vector<BYTE> buffer;
  try {
    buffer.resize(m_dwPacketSize);
  } catch (const std::bad_alloc&) {
    return step.Fail(ERR_FOTAVI_NOMEMORY);
  }
  DWORD dwError = AppendPackets(pItem, buffer, pDest, 0, dwLength, pdwError);
  return dwError ? step.Fail(dwError) : step.Done(TRUE);
}

BOOL CRequest::bReadJpegData(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError) {
  CStep step("bReadJpegData", pdwError);
  DWORD dwFrame = GetDword(pPacket->m_Response + 12);
  if (dwFrame == 0) {
    SetData(pItem, nullptr, 0);
    return step.Done(TRUE);
  }
  if (dwFrame > FOTAVI_MAX_FRAME_LENGTH) return step.Fail(ERR_FOTAVI_READFAILUER);
  uint64_t nTotal = static_cast<uint64_t>(m_dwJpegHeaderSize) + dwFrame;
  BYTE* pData = nullptr;
  HGLOBAL hData = AllocGlobal(nTotal, &pData);
  if (hData == nullptr) return step.Fail(ERR_FOTAVI_NOMEMORY);
  if (!bReadDataPackets(pItem, pData + m_dwJpegHeaderSize, dwFrame, pdwError)) {
    GlobalUnlock(hData);
    GlobalFree(hData);
    return step.Done(FALSE);
  }
  std::memcpy(pData, m_JpegHeader.data(), m_dwJpegHeaderSize);
  GlobalUnlock(hData);
  SetData(pItem, hData, static_cast<DWORD>(nTotal));
  return step.Done(TRUE);
}

BOOL CRequest::bReadPathData(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError) {
  CStep step("bReadPathData", pdwError);
  const DWORD dwEntries = GetDword(pPacket->m_Response + 16);
  if (dwEntries > FOTAVI_MAX_LIST_ENTRIES) return step.Fail(ERR_FOTAVI_READFAILUER);
  uint64_t nBytes = static_cast<uint64_t>(dwEntries) * FOTAVI_ENTRY_SIZE;
  BYTE* pData = nullptr;
  HGLOBAL hData = AllocGlobal(nBytes, &pData);
  if (hData == nullptr) return step.Fail(ERR_FOTAVI_NOMEMORY);
  if (!bReadDataPackets(pItem, pData, static_cast<DWORD>(nBytes), pdwError)) {
    GlobalUnlock(hData);
    GlobalFree(hData);
    return step.Done(FALSE);
  }
  GlobalUnlock(hData);
  SetData(pItem, hData, static_cast<DWORD>(nBytes));
  return step.Done(TRUE);
}

BOOL CRequest::bWritePathData(CRequestItem* pItem, DWORD* pdwError) {
  CStep step("bWritePathData", pdwError);
  BYTE packet[FOTAVI_PATH_PACKET_SIZE] = {};
  PutHeader(packet, FOTAVI_PACKET_DATA, pItem->m_wSequence, FOTAVI_PATH_BUFFER_SIZE);
  std::memcpy(packet + 8, pItem->m_Path, 32);
  PutDword(packet + 40, 0);
  return step.Done(bWritePacket(pItem, packet, sizeof packet, pdwError));
}

BOOL CRequest::bWriteInDirData(CRequestItem* pItem, DWORD dwFirst, DWORD* pdwError) {
  CStep step("bWriteInDirData", pdwError);
  BYTE packet[FOTAVI_RANGE_PACKET_SIZE] = {};
  PutHeader(packet, FOTAVI_PACKET_DATA, pItem->m_wSequence, FOTAVI_PATH_BUFFER_SIZE);
  std::memcpy(packet + 8, pItem->m_Path, 32);
  PutDword(packet + 40, 0);
  PutDword(packet + 44, dwFirst);
  PutDword(packet + 48, dwFirst + FOTAVI_FOLDER_PORTION - 1);
  return step.Done(bWritePacket(pItem, packet, sizeof packet, pdwError));
}

BOOL CRequest::bReadRspData(CRequestItem* pItem, CCommandPacket* pPacket, DWORD* pdwError) {
  CStep step("bReadRspData", pdwError);
  DWORD dwRead = 0;
  if (DWORD dwError = ReadFirstPacket(pItem, pPacket->m_Reply, 16, &dwRead, pdwError)) return step.Fail(dwError);
  pItem->m_dwStatus = GetDword(pPacket->m_Reply.data() + 12);
  return step.Done(TRUE);
}

BOOL CRequest::bReadFileDataPackets(CRequestItem* pItem, HGLOBAL* phData, DWORD* pdwLength, DWORD* pdwError) {
  CStep step("bReadFileDataPackets", pdwError);
  std::vector<BYTE> buffer;
  DWORD dwRead = 0;
  if (DWORD dwError = ReadFirstPacket(pItem, buffer, 20, &dwRead, pdwError)) return step.Fail(dwError);
  DWORD dwFile = GetDword(buffer.data() + 12);
  if (dwFile > FOTAVI_MAX_FILE_LENGTH) return step.Fail(ERR_FOTAVI_READFAILUER);
  BYTE* pData = nullptr;
  HGLOBAL hData = AllocGlobal(dwFile, &pData);
  if (hData == nullptr) return step.Fail(ERR_FOTAVI_NOMEMORY);
  auto fail = [&](DWORD dwError) {
    GlobalUnlock(hData);
    GlobalFree(hData);
    return step.Fail(dwError);
  };
  uint64_t nGot = dwRead - 20;
  std::memcpy(pData, buffer.data() + 20, static_cast<size_t>(std::min<uint64_t>(nGot, dwFile)));
  // A first packet that holds the whole file is enough.
  if (nGot < dwFile) {
    if (DWORD dwError = AppendPackets(pItem, buffer, pData, nGot, dwFile, pdwError)) return fail(dwError);
  }
  GlobalUnlock(hData);
  *phData = hData;
  *pdwLength = dwFile;
  return step.Done(TRUE);
}

BOOL CRequest::bReadFileData(CRequestItem* pItem, DWORD* pdwError) {
  CStep step("bReadFileData", pdwError);
  HGLOBAL hData = nullptr;
  DWORD dwLength = 0;
  if (!bReadFileDataPackets(pItem, &hData, &dwLength, pdwError)) return step.Done(FALSE);
  SetData(pItem, hData, dwLength);
  return step.Done(TRUE);
}

BOOL CRequest::bWriteFileData(CRequestItem* pItem, DWORD* pdwError) {
  CStep step("bWriteFileData", pdwError);
  if (m_dwPacketSize <= FOTAVI_PACKET_HEADER_SIZE) return step.Fail(ERR_FOTAVI_WRITEFAILUER);
  BYTE emptyData[FOTAVI_SUBHEADER_SIZE] = {};
  const BYTE* pSource = pItem->m_pRequestData;
  if (pSource == nullptr) {
    // No data given: the camera still gets the sub-header with length 0.
    PutDword(emptyData, FOTAVI_SUBHEADER_MARK);
    pSource = emptyData;
  }
  std::vector<BYTE> packet;
  try {
    packet.resize(m_dwPacketSize);
  } catch (const std::bad_alloc&) {
    return step.Fail(ERR_FOTAVI_NOMEMORY);
  }
  uint64_t nRemaining = static_cast<uint64_t>(pItem->m_dwRequestDataLength) + FOTAVI_SUBHEADER_SIZE;
  const DWORD dwMaxPayload = m_dwPacketSize - FOTAVI_PACKET_HEADER_SIZE;
  while (nRemaining > 0) {
    DWORD dwPayload = static_cast<DWORD>(std::min<uint64_t>(nRemaining, dwMaxPayload));
    PutHeader(packet.data(), FOTAVI_PACKET_DATA, pItem->m_wSequence, dwPayload);
    std::memcpy(packet.data() + FOTAVI_PACKET_HEADER_SIZE, pSource, dwPayload);
    if (!bWritePacket(pItem, packet.data(), dwPayload + FOTAVI_PACKET_HEADER_SIZE, pdwError)) {
      return step.Done(FALSE);
    }
    pSource += dwPayload;
    nRemaining -= dwPayload;
  }
  return step.Done(TRUE);
}

BOOL CRequest::bReadFileList(CRequestItem* pItem, HGLOBAL* phList, DWORD* pdwCount, DWORD* pdwError) {
  CStep step("bReadFileList", pdwError);
  std::vector<BYTE> buffer;
  DWORD dwRead = 0;
  if (DWORD dwError = ReadFirstPacket(pItem, buffer, 16, &dwRead, pdwError)) return step.Fail(dwError);
  if (GetDword(buffer.data() + 8) != 0) return step.Fail(ERR_FOTAVI_REQUESTRSP);
  DWORD dwCount = GetDword(buffer.data() + 12);
  // The host asked for one portion: more is no answer to it.
  if (dwCount > FOTAVI_FOLDER_PORTION) return step.Fail(ERR_FOTAVI_READFAILUER);
  uint64_t nEntries = static_cast<uint64_t>(dwCount) * FOTAVI_ENTRY_SIZE;
  BYTE* pData = nullptr;
  HGLOBAL hList = AllocGlobal(8 + nEntries, &pData);
  if (hList == nullptr) return step.Fail(ERR_FOTAVI_NOMEMORY);
  auto fail = [&](DWORD dwError) {
    GlobalUnlock(hList);
    GlobalFree(hList);
    return step.Fail(dwError);
  };
  uint64_t nGot = dwRead - 16;  // entry bytes of the first packet
  std::memcpy(pData, buffer.data() + 8, static_cast<size_t>(8 + std::min(nGot, nEntries)));
  if (DWORD dwError = AppendPackets(pItem, buffer, pData + 8, nGot, nEntries, pdwError)) return fail(dwError);
  GlobalUnlock(hList);
  *phList = hList;
  *pdwCount = dwCount;
  return step.Done(TRUE);
}

// ------------------------------------------------------------------ variants

BOOL CRequest::bRequest(CRequestItem* pItem, DWORD* pdwError) {
  CStep step("bRequest", pdwError);
  CCommandPacket packet;
  WaitInterval();
  if (!bCommandAndResponse(pItem, &packet, pdwError)) return step.Done(FALSE);
  return step.Done(bReadJpegData(pItem, &packet, pdwError));
}

BOOL CRequest::bRequest2(CRequestItem* pItem, DWORD* pdwError) {
  CStep step("bRequest2", pdwError);
  CCommandPacket packet;
  return step.Done(bCommandAndResponse(pItem, &packet, pdwError));
}

BOOL CRequest::bRequest3(CRequestItem* pItem, DWORD* pdwError) {
  CStep step("bRequest3", pdwError);
  CCommandPacket packet;
  if (!bCommandAndResponse(pItem, &packet, pdwError)) return step.Done(FALSE);
  return step.Done(bReadPathData(pItem, &packet, pdwError));
}

BOOL CRequest::bRequest4(CRequestItem* pItem, DWORD* pdwError) {
  CStep step("bRequest4", pdwError);
  CCommandPacket packet;
  if (!bCommandAndResponse(pItem, &packet, pdwError)) return step.Done(FALSE);
  if (!bWritePathData(pItem, pdwError)) return step.Done(FALSE);
  return step.Done(bReadFileData(pItem, pdwError));
}

BOOL CRequest::bRequest5(CRequestItem* pItem, DWORD* pdwError) {
  CStep step("bRequest5", pdwError);
  CCommandPacket packet;
  if (!bCommandAndResponse(pItem, &packet, pdwError)) return step.Done(FALSE);
  if (!bWritePathData(pItem, pdwError)) return step.Done(FALSE);
  return step.Done(bReadRspData(pItem, &packet, pdwError));
}

BOOL CRequest::bRequest6(CRequestItem* pItem, DWORD* pdwError) {
  CStep step("bRequest6", pdwError);
  CCommandPacket packet;
  if (!bCommandAndResponse(pItem, &packet, pdwError)) return step.Done(FALSE);
  if (!bWritePathData(pItem, pdwError)) return step.Done(FALSE);
  if (!bReadRspData(pItem, &packet, pdwError)) return step.Done(FALSE);
  const bool bPlaylist = pItem->m_Command.wCommand == FOTAVI_CMD_SD_WRITEPLAYLIST;
  DWORD dwFirst = pItem->m_dwStatus;
  if (dwFirst != 0 && !(bPlaylist && dwFirst == kStatusPlaylistPending)) {
    // The camera refused; nothing is sent and the caller judges the status.
    return step.Done(TRUE);
  }
  if (!bWriteFileData(pItem, pdwError)) return step.Done(FALSE);
  if (!bReadRspData(pItem, &packet, pdwError)) return step.Done(FALSE);
  if (bPlaylist && pItem->m_dwStatus == kStatusPlaylistPending) pItem->m_dwStatus = 0;
  return step.Done(TRUE);
}

BOOL CRequest::bRequest7(CRequestItem* pItem, DWORD* pdwError) {
  CStep step("bRequest7", pdwError);
  CCommandPacket packet;
  std::vector<BYTE> list;
  DWORD dwFirst = 0;
  for (;;) {
    if (!bCommandAndResponse(pItem, &packet, pdwError)) return step.Done(FALSE);
    if (!bWriteInDirData(pItem, dwFirst, pdwError)) return step.Done(FALSE);
    HGLOBAL hPortion = nullptr;
    DWORD dwCount = 0;
    if (!bReadFileList(pItem, &hPortion, &dwCount, pdwError)) return step.Done(FALSE);
    const BYTE* pPortion = static_cast<const BYTE*>(GlobalLock(hPortion));
    try {
      if (list.empty()) {
        list.assign(pPortion, pPortion + GlobalSize(hPortion));
      } else {
        list.insert(list.end(), pPortion + 8, pPortion + 8 + static_cast<size_t>(dwCount) * FOTAVI_ENTRY_SIZE);
        PutDword(list.data() + 4, GetDword(list.data() + 4) + dwCount);
      }
    } catch (const std::bad_alloc&) {
      GlobalUnlock(hPortion);
      GlobalFree(hPortion);
      return step.Fail(ERR_FOTAVI_NOMEMORY);
    }
    GlobalUnlock(hPortion);
    GlobalFree(hPortion);
    if (dwCount != FOTAVI_FOLDER_PORTION) break;
    dwFirst += FOTAVI_FOLDER_PORTION;
    // Full portions past what a card folder can hold: the listing would never end.
    if (dwFirst >= FOTAVI_MAX_LIST_ENTRIES) return step.Fail(ERR_FOTAVI_READFAILUER);
  }
  BYTE* pData = nullptr;
  HGLOBAL hData = AllocGlobal(list.size(), &pData);
  if (hData == nullptr) return step.Fail(ERR_FOTAVI_NOMEMORY);
  std::memcpy(pData, list.data(), list.size());
  GlobalUnlock(hData);
  SetData(pItem, hData, static_cast<DWORD>(list.size()));
  return step.Done(TRUE);
}

BOOL CRequest::bReset(DWORD* pdwError) {
  CStep step("bReset", pdwError);
  DWORD dwReturned = 0;
  WORD wSequence = 0;
  if (!g_pInterface->bIoctl(IOCTL_FOTAVI_RESET, nullptr, 0, &dwReturned, &wSequence, pdwError)) {
    return step.Done(FALSE);
  }
  Sleep(TimeLimits().dwResetPauseMs);
  return step.Done(TRUE);
}

#include "SDAccess.h"

#include <QString>

#include <cstring>

#include "AnsiText.h"
#include "Text/FotaviStrings.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Messages.h"

// ------------------------------------------------------------ CSDRequest

void CSDRequest::SetCommand(DWORD code) {
  m_Param.m_dwCommand = code;
  if (!m_Param.m_pCommand) m_Param.m_pCommand = new DEVICE_CMD;
  *m_Param.m_pCommand = FotaviMakeCommand(static_cast<WORD>(code));
}

BOOL CSDRequest::SetPath(const std::string& path) {
  if (!m_Param.m_pPath) m_Param.m_pPath = new char[FOTAVI_PATH_BUFFER_SIZE];
  std::memset(m_Param.m_pPath, 0, FOTAVI_PATH_BUFFER_SIZE);
  std::string ansi;
  if (!Utf8ToAnsi(path, &ansi) || ansi.size() > FOTAVI_PATH_MAX_CHARS) return FALSE;
  std::memcpy(m_Param.m_pPath, ansi.data(), ansi.size());
  return TRUE;
}

void CSDRequest::SetData(const void* data, DWORD length) {
  m_Param.m_pData = data;
  m_Param.m_dwDataLength = length;
}

int CSDRequest::ReleaseReply() {
  DEVICE_RSP* reply = m_Param.m_pReply;
  if (!reply) return 0;
  m_Reply = *reply;
  m_bReplied = true;
  m_Param.m_dwCommand = reply->wCommand;
  const int result = ReadReply();
  // The record goes back to the library; only the copy is used from here on.
  PostThreadMessage(m_Param.m_dwReleaseThread, WM_FOTAVI_RELASERSP, 0, reinterpret_cast<LPARAM>(reply));
  m_Param.m_pReply = nullptr;
  return result;
}

int CSDRequest::ReadReply() {
  switch (m_Param.m_dwCommand & 0xFFFF) {
    case 0x104: case 0x105: case 0x106: case 0x107: case 0x108: case 0x8101:
      m_Param.m_dwStatus = m_Reply.dwStatus;
      break;
    case 0x808E: case 0x8104: case 0x8107:
      m_Param.m_dwStatus = m_Reply.dwStatus;
      m_Param.m_hReplyData = static_cast<HGLOBAL>(m_Reply.pData);
      m_Param.m_dwReplyLength = m_Reply.dwLength;
      break;
    case 0x8102:
      m_Param.m_dwStatus = m_Reply.dwStatus;
      m_Param.m_hReplyData = static_cast<HGLOBAL>(m_Reply.pData);
      m_Param.m_dwReplyLength = m_Reply.dwLength;
      return ReadEntries(m_Reply.dwLength);
    case 0x8105:
      m_Param.m_dwStatus = m_Reply.dwStatus;
      m_Param.m_hReplyData = static_cast<HGLOBAL>(m_Reply.pData);
      m_Param.m_dwReplyLength = m_Reply.dwLength;
      return ReadFileList(m_Reply.dwLength);
    default:
      break;
  }
  return 1;
}

// The entries are read only within the block, whatever the reply claims.
int CSDRequest::ReadEntries(DWORD length) {
  m_Param.m_EntryList.clear();
  HGLOBAL block = m_Param.m_hReplyData;
  if (!block) return 0;
  const auto* p = static_cast<const char*>(GlobalLock(block));
  if (!p) return 0;
  const size_t bytes = std::min<size_t>(length, GlobalSize(block));
  for (size_t i = 0; i + FOTAVI_ENTRY_SIZE <= bytes; i += FOTAVI_ENTRY_SIZE) m_Param.m_EntryList.push_back(p + i);
  GlobalUnlock(block);
  return 1;
}

int CSDRequest::ReadFileList(DWORD length) {
  m_Param.m_EntryList.clear();
  HGLOBAL block = m_Param.m_hReplyData;
  if (!block) return 0;
  const auto* p = static_cast<const char*>(GlobalLock(block));
  if (!p) return 0;
  const size_t bytes = std::min<size_t>(length, GlobalSize(block));
  if (bytes >= 8) {
    DWORD count = 0;
    std::memcpy(&count, p + 4, sizeof count);
    const size_t fit = (bytes - 8) / FOTAVI_ENTRY_SIZE;
    const size_t n = std::min<size_t>(count, fit);
    for (size_t i = 0; i < n; ++i) m_Param.m_EntryList.push_back(p + 8 + i * FOTAVI_ENTRY_SIZE);
  }
  GlobalUnlock(block);
  return 1;
}

// ------------------------------------------------------------ CSDAccess

CSDAccess::CSDAccess(CDeviceInterface* device) : m_pDevice(device) {}

CSDAccess::~CSDAccess() { FreeAll(); }

BOOL CSDAccess::Run(CSDRequest* request) {
  if (!m_pDevice) {
    NoReply();
    return FALSE;
  }
  DWORD error = 0;
  if (!m_pDevice->bRequest(request->Param(), &error)) {
    NoReply();
    m_dwLastError = error;
    // A failed call may still have lent a record: it goes back too.
    if (request->Param()->m_pReply) {
      request->ReleaseReply();
      if (HGLOBAL data = request->Param()->m_hReplyData) GlobalFree(data);
      request->Param()->m_hReplyData = nullptr;
    }
    return FALSE;
  }
  request->ReleaseReply();
  m_dwLastStatus = request->Param()->m_dwStatus;
  m_dwLastError = error;
  return TRUE;
}

BOOL CSDAccess::RunStatusOnly(DWORD code, const char* path, const void* data, DWORD length) {
  CSDRequest request;
  m_dwLastError = 0;
  request.SetCommand(code);
  if (path && !request.SetPath(path)) {
    NoReply();
    return FALSE;
  }
  if (data) request.SetData(data, length);
  return Run(&request) && m_dwLastStatus == FOTAVI_SD_DONE;
}

BOOL CSDAccess::SD_GetStatus() { return RunStatusOnly(FOTAVI_CMD_SD_STATUS, nullptr, nullptr, 0); }

const SD_DATA* CSDAccess::ReadData(CSDRequest* request) {
  FreeData();
  if (!Run(request)) return nullptr;
  HGLOBAL reply = request->GetData();
  const DWORD length = request->GetDataLength();
  request->Param()->m_hReplyData = nullptr;
  if (m_dwLastStatus != FOTAVI_SD_DONE) {
    if (reply) GlobalFree(reply);  // every reply block goes, whatever the status
    return nullptr;
  }
  m_pData = new SD_DATA;
  // The reply's block becomes the service's: it holds exactly the file.
  if (reply && GlobalSize(reply) >= length) {
    m_pData->hData = reply;
  } else {
    if (reply) GlobalFree(reply);
    m_pData->hData = GlobalAlloc(GHND, length);
    if (!m_pData->hData) {
      delete m_pData;
      m_pData = nullptr;
      return nullptr;
    }
  }
  m_pData->dwLength = length;
  return m_pData;
}

const std::vector<std::string>* CSDAccess::ReadListing(CSDRequest* request) {
  FreeList();
  const BOOL replied = Run(request);
  if (replied && m_dwLastStatus == FOTAVI_SD_DONE) {
    for (const char* entry : request->Entries()) {
      if (!m_pList) m_pList = new std::vector<std::string>;
      m_pList->push_back(AnsiToUtf8(entry, FOTAVI_ENTRY_SIZE));
    }
  }
  if (HGLOBAL block = request->Param()->m_hReplyData) GlobalFree(block);
  request->Param()->m_hReplyData = nullptr;
  return m_pList;
}

const std::vector<std::string>* CSDAccess::SD_GetFolderList() {
  CSDRequest request;
  m_dwLastError = 0;
  request.SetCommand(FOTAVI_CMD_SD_ROOTLIST);
  request.SetPath("");
  return ReadListing(&request);
}

const std::vector<std::string>* CSDAccess::SD_GetFileList(const std::string& folder) {
  CSDRequest request;
  m_dwLastError = 0;
  request.SetCommand(FOTAVI_CMD_SD_FOLDERLIST);
  if (!request.SetPath(folder)) {
    FreeList();
    NoReply();
    return nullptr;
  }
  return ReadListing(&request);
}

const SD_DATA* CSDAccess::SD_GetJpegFile(const std::string& path) {
  CSDRequest request;
  m_dwLastError = 0;
  request.SetCommand(FOTAVI_CMD_SD_READFILE);
  if (!request.SetPath(path)) {
    FreeData();
    NoReply();
    return nullptr;
  }
  return ReadData(&request);
}

const SD_DATA* CSDAccess::SD_GetPlayList() {
  CSDRequest request;
  m_dwLastError = 0;
  request.SetCommand(FOTAVI_CMD_SD_READPLAYLIST);
  request.SetPath(SD_PLAYLIST_PATH);
  return ReadData(&request);
}

BOOL CSDAccess::SD_GetJpegFileAsync(const std::string& path, WORD* sequence) {
  m_dwLastError = 0;
  CSDRequest request;
  request.SetCommand(FOTAVI_CMD_SD_READFILE);
  if (!request.SetPath(path) || !m_pDevice) return FALSE;
  WORD seq = 0;
  DWORD error = 0;
  // The library copies the command block and the path before it returns.
  const BOOL ok = m_pDevice->bRequestAsync(m_hAsyncTarget, request.Param(), &seq, &error);
  m_dwLastError = error;
  if (sequence) *sequence = seq;
  return ok;
}

DWORD CSDAccess::SD_SetJpegFile(const std::string& name, const void* data, DWORD length) {
  m_dwLastError = 0;
  CSDRequest request;
  request.SetCommand(FOTAVI_CMD_SD_WRITEFILE);
  if (name.empty() || !request.SetPath(name)) {
    NoReply();
    return FOTAVI_STATUS_NORESPONSE;
  }
  request.SetData(data, length);
  Run(&request);
  return m_dwLastStatus;
}

BOOL CSDAccess::SD_DeleteFolder(const char* path) {
  if (!path) return FALSE;
  return RunStatusOnly(FOTAVI_CMD_SD_DELETE, path, nullptr, 0);
}

BOOL CSDAccess::SD_CreateFolder(const char* path) {
  if (!path) return FALSE;
  return RunStatusOnly(FOTAVI_CMD_SD_MKDIR, path, nullptr, 0);
}

BOOL CSDAccess::SD_SetPlayList(const void* text, DWORD length) {
  return RunStatusOnly(FOTAVI_CMD_SD_WRITEPLAYLIST, SD_PLAYLIST_PATH, text, length);
}

BOOL CSDAccess::SD_EndTransfer() {
  CSDRequest request;
  m_dwLastError = 0;
  request.SetCommand(FOTAVI_CMD_SD_END);
  if (!m_pDevice) {
    NoReply();
    return FALSE;
  }
  DWORD error = 0;
  m_pDevice->bRequest(request.Param(), &error);
  request.ReleaseReply();
  m_dwLastError = error;
  NoReply();
  return TRUE;
}

void CSDAccess::SD_GetRootFolder(std::string* buffer) {
  if (!buffer) return;
  std::u32string current = QString::fromStdString(*buffer).toStdU32String();
  auto namesDcimRoot = [](const std::u32string& text) {
    if (text.size() < 7) return false;
    const QString part = QString::fromStdU32String(text.substr(3, 4));
    return part.compare(QStringLiteral("DCIM"), Qt::CaseInsensitive) == 0;
  };
  // Another root path is never overwritten.
  if (!current.empty() && !namesDcimRoot(current)) return;
  if (const std::vector<std::string>* list = SD_GetFolderList()) {
    for (const std::string& entry : *list) {
      const std::u32string text = QString::fromStdString(entry).toStdU32String();
      if (!namesDcimRoot(text)) continue;
      if (current.size() < 7) current.resize(7);
      current.replace(0, 7, text.substr(0, 7));
      *buffer = QString::fromStdU32String(current).toStdString();
      break;
    }
  }
  FreeAll();
}

void CSDAccess::FreeData() {
  if (!m_pData) return;
  if (m_pData->hData) GlobalFree(m_pData->hData);
  delete m_pData;
  m_pData = nullptr;
}

void CSDAccess::FreeList() {
  delete m_pList;
  m_pList = nullptr;
}

void CSDAccess::FreeAll() {
  FreeData();
  FreeList();
}

UINT CardFailureText(DWORD status) { return status == FOTAVI_SD_NOCARD ? IDS_NO_SDCARD : IDS_SD_ACCESS; }

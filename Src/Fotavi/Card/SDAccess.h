// The card access service: one operation per card command of the device
// library. Each operation fills a request object, runs it through the
// device interface, decodes the reply, hands the reply record back to the
// library and keeps the camera's status word for the caller. Every user
// owns its own service; services share nothing but the device interface.
//
// Card paths are UTF-8 here and Windows-1252 on the wire; a path the code
// page cannot carry, or one longer than 32 bytes, is refused before anything
// is sent (the operation fails with status 0x80000000 and device error 0).
#pragma once

#include <string>
#include <vector>

#include "Driver/FotaviZ5.dll/FotaviZ5.h"
#include "Platform/Types.h"

// The client side of a request object: command block, path, data, decoding
// of the reply and its hand-back.
class CSDRequest {
 public:
  CSDRequest() = default;
  CSDRequest(const CSDRequest&) = delete;
  CSDRequest& operator=(const CSDRequest&) = delete;

  void SetCommand(DWORD code);
  // Zero-fills the 36-byte buffer and stores the path's Windows-1252 bytes
  // in its first 32 bytes. FALSE (buffer left zero) when the path cannot be
  // encoded or needs more than 32 bytes.
  BOOL SetPath(const std::string& path);
  void SetData(const void* data, DWORD length);
  HGLOBAL GetData() const { return HasReply() ? m_Param.m_hReplyData : nullptr; }
  DWORD GetDataLength() const { return HasReply() ? m_Param.m_dwReplyLength : 0; }
  bool HasReply() const { return m_bReplied || m_Param.m_pReply; }
  // Decodes the attached reply and hands its record back to the library.
  // 0 when no reply is attached (and for a listing without data block).
  int ReleaseReply();
  CRequestParam* Param() { return &m_Param; }
  // Entries found by the last listing, inside the reply's data block.
  const std::vector<const char*>& Entries() const { return m_Param.m_EntryList; }

 private:
  int ReadReply();
  int ReadEntries(DWORD length);
  int ReadFileList(DWORD length);

  CRequestParam m_Param;
  DEVICE_RSP m_Reply{};  // copy of the handed-back record
  bool m_bReplied = false;
};

// A file's bytes read from the card: a global block and its length.
struct SD_DATA {
  HGLOBAL hData = nullptr;
  DWORD dwLength = 0;
};

class CSDAccess {
 public:
  explicit CSDAccess(CDeviceInterface* device);
  ~CSDAccess();
  CSDAccess(const CSDAccess&) = delete;
  CSDAccess& operator=(const CSDAccess&) = delete;

  // Card present and usable (command 0x8101, status 0).
  BOOL SD_GetStatus();
  // Root list (0x8102): the card paths of the DCIM folder and its folders, in
  // the card's order; NULL when nothing was listed.
  const std::vector<std::string>* SD_GetFolderList();
  // Reads a file (0x8104); NULL when the read failed.
  const SD_DATA* SD_GetJpegFile(const std::string& path);
  // Asks for a file (0x8104); the reply comes to the async target as
  // WM_FOTAVI_REQUEST. *sequence (when given) gets the request's number.
  BOOL SD_GetJpegFileAsync(const std::string& path, WORD* sequence = nullptr);
  // Files of a folder (0x8105) as full card paths; NULL when none was listed.
  const std::vector<std::string>* SD_GetFileList(const std::string& folder);
  const SD_DATA* SD_GetPlayList();
  // Writes a file (0x104); the camera's status, 0x80000000 when no reply
  // came or the name was refused (empty, over 32 bytes, not encodable).
  DWORD SD_SetJpegFile(const std::string& name, const void* data, DWORD length);
  BOOL SD_DeleteFolder(const char* path);
  BOOL SD_CreateFolder(const char* path);
  BOOL SD_SetPlayList(const void* text, DWORD length);
  // End of a batch (0x108); TRUE when there is a device interface. The last
  // status stays 0x80000000: the reply is not examined.
  BOOL SD_EndTransfer();
  // Puts the card's root folder ("C:\DCIM" in the card's letter case) over
  // the first 7 characters of *buffer, when the buffer is empty or already
  // names the DCIM root (characters 3 to 6 "DCIM", any case).
  void SD_GetRootFolder(std::string* buffer);

  void FreeData();
  void FreeList();
  void FreeAll();

  DWORD GetLastStatus() const { return m_dwLastStatus; }
  DWORD GetLastDeviceError() const { return m_dwLastError; }
  void SetAsyncTarget(HWND target) { m_hAsyncTarget = target; }
  HWND GetAsyncTarget() const { return m_hAsyncTarget; }

 private:
  // Steps shared by the synchronous operations; TRUE when a reply came.
  BOOL Run(CSDRequest* request);
  BOOL RunStatusOnly(DWORD code, const char* path, const void* data, DWORD length);
  const SD_DATA* ReadData(CSDRequest* request);
  const std::vector<std::string>* ReadListing(CSDRequest* request);
  void NoReply() { m_dwLastStatus = FOTAVI_STATUS_NORESPONSE; }

  CDeviceInterface* m_pDevice;
  DWORD m_dwLastError = 0;
  DWORD m_dwLastStatus = FOTAVI_STATUS_NORESPONSE;
  SD_DATA* m_pData = nullptr;
  std::vector<std::string>* m_pList = nullptr;
  HWND m_hAsyncTarget = nullptr;
};

// The path of the playlist file on the card.
constexpr const char* SD_PLAYLIST_PATH = "C:\\PLAYLIST.TXT";

// The text for a card request that failed with `status`: "SD memory card is
// not inserted." for status 1 (no card), else "Unable to access to SD
// memory.". Each caller shows it with the icon of its own window.
UINT CardFailureText(DWORD status);

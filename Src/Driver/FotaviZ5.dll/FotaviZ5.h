// Public interface of the device-access library FotaviZ5.
//
// A client loads the module "FotaviZ5.dll" by name, binds CreateInstance and
// ReleaseInstance, and talks to the camera through the CDeviceInterface it
// gets. Everything in this header crosses the border between the library and
// its clients; nothing of the library's insides is here.
#pragma once

#include <cstring>
#include <vector>

#include "Platform/Types.h"

// ------------------------------------------------------------------ records

#pragma pack(push, 1)
// The 24-byte command block, copied unchanged into the command packet.
struct DEVICE_CMD {
  WORD wCommand;    // command code (table below)
  WORD wReserved;   // 0
  DWORD dwParam;    // parameter (remote-control value; 0 for commands without one)
  BYTE reserved[16];
};
#pragma pack(pop)
static_assert(sizeof(DEVICE_CMD) == 24, "DEVICE_CMD travels to the camera and must stay 24 bytes");

// The completion record. On 64-bit builds the data field is pointer-sized,
// so the record is larger than 24 bytes; field order and meaning are kept.
struct DEVICE_RSP {
  BOOL bResult;     // TRUE when the operation succeeded
  DWORD dwError;    // device error code, 0 on success
  WORD wSequence;   // the operation's sequence number
  WORD wCommand;    // the request's command code (requests only)
  DWORD dwStatus;   // camera status word; 0x80000000 when no response was read
  DWORD dwLength;   // bytes moved; for requests the length of the data block
  void* pData;      // WM_FOTAVI_READ: the caller's buffer; requests: HGLOBAL of the data block or NULL
};

constexpr DWORD FOTAVI_STATUS_NORESPONSE = 0x80000000u;

// Request object of the request-object forms of bRequest/bRequestAsync. The
// client owns it and fills it; the library reads the command block, the path
// and the data, and (synchronous form only) writes the status, the data
// handle, the reply record and the release thread.
class CRequestParam {
 public:
  CRequestParam() = default;
  ~CRequestParam() {
    delete m_pCommand;
    delete[] m_pPath;
  }
  CRequestParam(const CRequestParam&) = delete;
  CRequestParam& operator=(const CRequestParam&) = delete;

  DWORD m_dwCommand = 0xFFFFFFFFu;   // command code, -1 when empty
  DEVICE_CMD* m_pCommand = nullptr;  // 24-byte command block
  DEVICE_RSP* m_pReply = nullptr;    // reply record lent by the library (synchronous form)
  char* m_pPath = nullptr;           // 36-byte ANSI path buffer, NULL when the command has no path
  DWORD m_dwDataLength = 0;          // bytes of data to send
  const void* m_pData = nullptr;     // data to send (the caller keeps ownership)
  DWORD m_dwStatus = FOTAVI_STATUS_NORESPONSE;  // camera status word
  DWORD m_dwReplyLength = 0;         // length of the reply's data block (client copy)
  HGLOBAL m_hReplyData = nullptr;    // data block of the reply
  std::vector<const char*> m_EntryList;  // client-side: entries inside the reply's block
  DWORD m_dwReleaseThread = 0;       // thread that takes the reply record back
};

constexpr size_t FOTAVI_PATH_BUFFER_SIZE = 36;
constexpr size_t FOTAVI_PATH_MAX_CHARS = 32;
constexpr size_t FOTAVI_ENTRY_SIZE = 36;
constexpr size_t FOTAVI_JPEG_HEADER_SIZE = 575;

// --------------------------------------------------------------- interface

// The device interface. The virtual slot order below is fixed: clients
// compiled separately rely on it.
class CDeviceInterface {
 public:
  virtual ~CDeviceInterface() = default;                                        // slot 0
  virtual BOOL bSetNotifyWindow(HWND hWnd) = 0;                                 // slot 1
  virtual DWORD bIsConnected() = 0;                                             // slot 2
  virtual BOOL bOpen(HWND hNotifyWnd, DWORD* pdwError) = 0;                     // slot 3
  virtual BOOL bClose(DWORD* pdwError) = 0;                                     // slot 4
  virtual BOOL bIoctlAsync(HWND hTarget, DWORD dwCode, const void* pData, DWORD dwLength, WORD* pwSequence,
                           DWORD* pdwError) = 0;                                // slot 5
  virtual BOOL bIoctl(DWORD dwCode, void* pBuffer, DWORD dwLength, DWORD* pdwReturned, WORD* pwSequence,
                      DWORD* pdwError) = 0;                                     // slot 6
  virtual BOOL bReadAsync(HWND hTarget, void* pBuffer, DWORD dwLength, WORD* pwSequence,
                          DWORD* pdwError) = 0;                                 // slot 7
  virtual BOOL bRead(void* pBuffer, DWORD dwLength, DWORD* pdwRead, WORD* pwSequence, DWORD* pdwError) = 0;  // slot 8
  virtual BOOL bWriteAsync(HWND hTarget, const void* pData, DWORD dwLength, WORD* pwSequence,
                           DWORD* pdwError) = 0;                                // slot 9
  virtual BOOL bWrite(const void* pData, DWORD dwLength, DWORD* pdwWritten, WORD* pwSequence,
                      DWORD* pdwError) = 0;                                     // slot 10
  virtual BOOL bRequestAsync(HWND hTarget, CRequestParam* pRequest, WORD* pwSequence,
                             DWORD* pdwError) = 0;                              // slot 11
  virtual BOOL bRequestAsync(HWND hTarget, const DEVICE_CMD* pCommand, WORD* pwSequence,
                             DWORD* pdwError) = 0;                              // slot 12
  virtual BOOL bRequest(CRequestParam* pRequest, DWORD* pdwError) = 0;          // slot 13
  virtual BOOL bRequest(const DEVICE_CMD* pCommand, HGLOBAL* phData, DWORD* pdwSize,
                        DWORD* pdwError) = 0;                                   // slot 14
};

// Exported functions (bound by name).
extern "C" {
typedef BOOL (*PFN_CREATEINSTANCE)(CDeviceInterface** ppInterface);
typedef void (*PFN_RELEASEINSTANCE)(CDeviceInterface** ppInterface);
}
constexpr const char* FOTAVI_DEVICE_LIBRARY = "FotaviZ5.dll";
constexpr const char* FOTAVI_CREATEINSTANCE = "CreateInstance";
constexpr const char* FOTAVI_RELEASEINSTANCE = "ReleaseInstance";

// ---------------------------------------------------------------- messages

constexpr UINT WM_FOTAVI_READ = WM_USER + 100;         // 0x464
constexpr UINT WM_FOTAVI_WRITE = WM_USER + 200;        // 0x4C8
constexpr UINT WM_FOTAVI_IOCTL = WM_USER + 300;        // 0x52C
constexpr UINT WM_FOTAVI_REQUEST = WM_USER + 400;      // 0x590
constexpr UINT WM_FOTAVI_DEVICESTATE = WM_USER + 1000; // 0x7E8, wParam 1 present, 2 gone
constexpr UINT WM_FOTAVI_RELASERSP = WM_USER + 2000;   // 0xBD0, thread message, lParam the record

constexpr WPARAM FOTAVI_DEVICE_PRESENT = 1;
constexpr WPARAM FOTAVI_DEVICE_GONE = 2;

// ------------------------------------------------------------- error codes

constexpr DWORD ERR_FOTAVI_NOOPEN = 0x81010001;
constexpr DWORD ERR_FOTAVI_ALREADYOPEN = 0x81010002;
constexpr DWORD ERR_FOTAVI_NODEVICE = 0x81010003;
constexpr DWORD ERR_FOTAVI_INITDEVICE = 0x81010004;
constexpr DWORD ERR_FOTAVI_CREATEDEVICE = 0x81010005;
constexpr DWORD ERR_FOTAVI_ALREADYUSE = 0x81010006;
constexpr DWORD ERR_FOTAVI_IOCTLFAILUER = 0x81020001;
constexpr DWORD ERR_FOTAVI_IOCTLRESET = 0x81020002;
constexpr DWORD ERR_FOTAVI_IOCTLTIMEOUT = 0x81020003;
constexpr DWORD ERR_FOTAVI_READFAILUER = 0x81030001;
constexpr DWORD ERR_FOTAVI_READLENGTH = 0x81030002;
constexpr DWORD ERR_FOTAVI_READTIMEOUT = 0x81030003;
constexpr DWORD ERR_FOTAVI_READZERO = 0x81030004;
constexpr DWORD ERR_FOTAVI_READSEQ = 0x81030005;
constexpr DWORD ERR_FOTAVI_READSTOP = 0x81030006;
constexpr DWORD ERR_FOTAVI_WRITEFAILUER = 0x81040001;
constexpr DWORD ERR_FOTAVI_WRITETIMEOUT = 0x81040002;
constexpr DWORD ERR_FOTAVI_REQUEST = 0x810E0001;
constexpr DWORD ERR_FOTAVI_REQUESTRSP = 0x810E0002;
constexpr DWORD ERR_FOTAVI_NOMEMORY = 0x810F0001;
constexpr DWORD ERR_FOTAVI_FUNCPARAM = 0x810F0002;
constexpr DWORD ERR_FOTAVI_FILE = 0x810F0003;
constexpr DWORD ERR_FOTAVI_SYSCALL = 0x810F0004;

// ------------------------------------------------------------ command codes

constexpr WORD FOTAVI_CMD_GET_JPEG = 0x808E;        // one JPEG frame (1024x768)
constexpr WORD FOTAVI_CMD_SD_STATUS = 0x8101;       // card status
constexpr WORD FOTAVI_CMD_SD_ROOTLIST = 0x8102;     // root list of the card
constexpr WORD FOTAVI_CMD_SD_READFILE = 0x8104;     // read the file named by the path
constexpr WORD FOTAVI_CMD_SD_FOLDERLIST = 0x8105;   // list of the folder named by the path
constexpr WORD FOTAVI_CMD_SD_READPLAYLIST = 0x8107; // read the playlist file
constexpr WORD FOTAVI_CMD_SD_WRITEFILE = 0x104;     // write the file named by the path
constexpr WORD FOTAVI_CMD_SD_DELETE = 0x105;        // delete the folder or file named by the path
constexpr WORD FOTAVI_CMD_SD_MKDIR = 0x106;         // create the folder named by the path
constexpr WORD FOTAVI_CMD_SD_WRITEPLAYLIST = 0x107; // write the playlist file
constexpr WORD FOTAVI_CMD_SD_END = 0x108;           // end of a batch of card operations
// Remote-control commands with a 32-bit parameter: 0xE0, 0xE1, 0xE2, 0xEA, 0xFA.
// Remote-control keys: 0x201 to 0x20E.
constexpr WORD FOTAVI_CMD_KEY_FIRST = 0x201;
constexpr WORD FOTAVI_CMD_KEY_LAST = 0x20E;

// Card status words.
constexpr DWORD FOTAVI_SD_DONE = 0;
constexpr DWORD FOTAVI_SD_NOCARD = 1;
constexpr DWORD FOTAVI_SD_LOCKED = 8;
constexpr DWORD FOTAVI_SD_PLAYLIST_PENDING = 32;
constexpr DWORD FOTAVI_SD_FULL = 512;

inline DEVICE_CMD FotaviMakeCommand(WORD code, DWORD param = 0) {
  DEVICE_CMD cmd;
  std::memset(&cmd, 0, sizeof cmd);
  cmd.wCommand = code;
  cmd.dwParam = param;
  return cmd;
}

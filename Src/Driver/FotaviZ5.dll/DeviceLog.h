// The device log: one line per step of every operation, formatted on the
// calling thread and written by the log thread into one of ten rotating files
// "Device%d.log".
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/Messages.h"
#include "Platform/Sync.h"
#include "Platform/Types.h"

constexpr UINT WM_FOTAVI_LOGOPEN = WM_USER + 5000;
constexpr UINT WM_FOTAVI_LOGWRITE = WM_USER + 5100;

constexpr DWORD FOTAVI_LOG_BUFFER_SIZE = 4096;
// How long the log thread, woken for a line, lets further lines gather
// before it writes them all at once.
constexpr DWORD FOTAVI_LOG_GATHER_MS = 20;
constexpr size_t FOTAVI_LOG_LINE_MAX = 255;  // time, text and line end of one line

// Source names of INFO lines.
constexpr const char* LOG_SRC_DEVICE = "Device";
constexpr const char* LOG_SRC_INTERFACE = "Interface";
constexpr const char* LOG_SRC_REQUEST = "Request";

// Name of a device error code, " " for a code that has none.
const char* FotaviErrorName(DWORD dwError);

class CDeviceLog {
 public:
  CDeviceLog();
  ~CDeviceLog();
  CDeviceLog(const CDeviceLog&) = delete;
  CDeviceLog& operator=(const CDeviceLog&) = delete;

  // Settings read by the interface object: limit in bytes, level, folder
  // (names are the folder followed directly by "Device%d.log").
  void SetSettings(DWORD dwSizeLimit, DWORD dwLevel, const std::string& folder);
  DWORD Level() const { return m_dwLevel.load(std::memory_order_relaxed); }
  DWORD SizeLimit() const { return m_dwSizeLimit.load(std::memory_order_relaxed); }
  std::string Folder() const;

  // Starts the log thread and waits until its first file is open; with a
  // thread running, opens the next file.
  void Start();
  // Ends the log thread (waited for at most the thread time limit) and forgets it.
  void Stop();

  void WriteLine(const char* pszText);
  void WriteLineF(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
  // LOG line: only at level 2 or more.
  void WriteTrace(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
  void WriteDump(const void* pData, DWORD dwCount, bool bRead);
  void WriteInfo(BOOL bResult, DWORD dwError, const char* pszSource, int nLine);
  // START and END lines; bProtocolStep selects level 2.
  void WriteStart(const char* pszName, bool bProtocolStep = false);
  void WriteEnd(BOOL bResult, const char* pszName, bool bProtocolStep = false);

  // Name of the file being written ("" when none).
  std::string CurrentFile() const;

 private:
  // A line buffer with the driver's text at its start (its length in
  // *pnDriver); NULL when the line is not written.
  char* NewLineBuffer(size_t* pnDriver);
  // Puts a line into the batch; the first line of an empty batch wakes the
  // log thread. A line that cannot reach the thread is dropped.
  void Post(char* pBuffer, size_t nLength);
  struct Line {
    char* pBuffer;
    size_t nLength;
  };
  std::vector<Line> TakeBatch();
  void FreeLines(std::vector<Line>& lines);
  void WriteLines(std::vector<Line>& lines);
  size_t PrefixDriverText(char* pBuffer);
  void ThreadProc();
  void OpenFile();
  std::string SelectFile() const;
  void WriteBuffer(const char* pBuffer, size_t nLength);
  void CloseFile();

  CEvent m_StartEvent;
  std::atomic<DWORD> m_dwSizeLimit{1048576};
  std::atomic<DWORD> m_dwLevel{1};
  mutable std::mutex m_FolderLock;
  std::string m_Folder;
  DWORD m_dwWritten = 0;
  std::mutex m_ThreadLock;
  std::unique_ptr<CPlatformThread> m_pThread;
  std::atomic<DWORD> m_dwThreadId{0};
  std::atomic<long> m_lPending{0};
  // Lines formatted and not yet taken by the log thread, oldest first: a
  // burst of lines costs the thread one wake-up and one file write, not one
  // of each per line. Closed when the thread has ended.
  std::mutex m_BatchLock;
  std::vector<Line> m_Batch;
  bool m_bBatchClosed = false;
  int m_hFile = -1;
  mutable std::mutex m_FileNameLock;
  std::string m_CurrentFile;
};

#include "DeviceLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "Class/Interface.h"
#include "FotaviZ5.h"
#include "FotaviZ5App.h"
#include "Platform/Paths.h"
#include "Platform/Time.h"
#include "TimeLimits.h"

namespace {

// Set while the driver text of a line is fetched, so that a failure inside
// that fetch does not write a line of its own.
thread_local bool t_bInDriverText = false;

// The log destroyed last, at the library's end (the application object's
// destruction at exit): a stop that comes after it (a host's exit-time
// destructor closing the device) finds nothing left to stop. Trivially
// destructible, so it still holds then.
std::atomic<const CDeviceLog*> g_pEndedLog{nullptr};

size_t FormatTime(char* pOut, size_t nSize) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  int n = std::snprintf(pOut, nSize, "%02d:%02d:%02d.%03d\t", st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
  return n < 0 ? 0 : std::min(static_cast<size_t>(n), nSize - 1);
}

// Opens (creating it when missing) and empties the log file `name`, or
// refuses it with `why` set. The name is never followed: a link planted
// under it would have the log empty and fill whatever it points to. Opened
// without blocking, so a FIFO or device there cannot hold the open (and the
// library's start); emptied only once the descriptor is known to be a
// regular file of this user.
int OpenLogFile(const std::string& name, std::string* why) {
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) {
    // A FIFO without a reader answers ENXIO to an open that does not block.
    *why = errno == ELOOP   ? "it is a symbolic link"
           : errno == ENXIO ? "it is not a regular file"
                            : std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    *why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    *why = "it is not a regular file";
  } else if (st.st_uid != ::geteuid()) {
    *why = "it is not the user's own";
  } else if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
    *why = std::strerror(errno);
  } else {
    return fd;
  }
  ::close(fd);
  return -1;
}

}  // namespace

const char* FotaviErrorName(DWORD dwError) {
  switch (dwError) {
    case ERR_FOTAVI_NOOPEN: return "ERR_FOTAVI_NOOPEN";
    case ERR_FOTAVI_ALREADYOPEN: return "ERR_FOTAVI_ALREADYOPEN";
    case ERR_FOTAVI_NODEVICE: return "ERR_FOTAVI_NODEVICE";
    case ERR_FOTAVI_INITDEVICE: return "ERR_FOTAVI_INITDEVICE";
    case ERR_FOTAVI_CREATEDEVICE: return "ERR_FOTAVI_CREATEDEVICE";
    case ERR_FOTAVI_ALREADYUSE: return "ERR_FOTAVI_ALREADYUSE";
    case ERR_FOTAVI_IOCTLFAILUER: return "ERR_FOTAVI_IOCTLFAILUER";
    case ERR_FOTAVI_IOCTLRESET: return "ERR_FOTAVI_IOCTLRESET";
    case ERR_FOTAVI_IOCTLTIMEOUT: return "ERR_FOTAVI_IOCTLTIMEOUT";
    case ERR_FOTAVI_READFAILUER: return "ERR_FOTAVI_READFAILUER";
    case ERR_FOTAVI_READLENGTH: return "ERR_FOTAVI_READLENGTH";
    case ERR_FOTAVI_READTIMEOUT: return "ERR_FOTAVI_READTIMEOUT";
    case ERR_FOTAVI_READZERO: return "ERR_FOTAVI_READZERO";
    case ERR_FOTAVI_READSEQ: return "ERR_FOTAVI_READSEQ";
    case ERR_FOTAVI_READSTOP: return "ERR_FOTAVI_READSTOP";
    case ERR_FOTAVI_WRITEFAILUER: return "ERR_FOTAVI_WRITEFAILUER";
    case ERR_FOTAVI_WRITETIMEOUT: return "ERR_FOTAVI_WRITETIMEOUT";
    case ERR_FOTAVI_REQUEST: return "ERR_FOTAVI_REQUEST";
    case ERR_FOTAVI_REQUESTRSP: return "ERR_FOTAVI_REQUESTRSP";
    case ERR_FOTAVI_NOMEMORY: return "ERR_FOTAVI_NOMEMORY";
    case ERR_FOTAVI_FUNCPARAM: return "ERR_FOTAVI_FUNCPARAM";
    case ERR_FOTAVI_FILE: return "ERR_FOTAVI_FILE";
    case ERR_FOTAVI_SYSCALL: return "ERR_FOTAVI_SYSCALL";
    default: return " ";
  }
}

CDeviceLog::CDeviceLog() {
  const CDeviceLog* self = this;
  g_pEndedLog.compare_exchange_strong(self, nullptr);  // a new log where an ended one was
}

CDeviceLog::~CDeviceLog() {
  // The log's thread ends with it: nothing of the library runs once the
  // library has ended, so it may be unloaded after.
  Stop();
  std::vector<Line> rest = TakeBatch();
  FreeLines(rest);
  CloseFile();
  g_pEndedLog.store(this);
}

void CDeviceLog::SetSettings(DWORD dwSizeLimit, DWORD dwLevel, const std::string& folder) {
  m_dwSizeLimit.store(dwSizeLimit);
  m_dwLevel.store(dwLevel);
  std::lock_guard<std::mutex> lock(m_FolderLock);
  m_Folder = folder;
}

std::string CDeviceLog::Folder() const {
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(m_FolderLock);
    folder = m_Folder.empty() ? GetFallbackRoot() : m_Folder;
  }
  // A folder this user cannot write into (an installation's, owned by root)
  // sends the log to the user's own log folder, as the programs' trace logs.
  const std::string chosen = ChooseLogFolder(folder);
  return chosen.empty() ? folder : chosen;
}

std::string CDeviceLog::CurrentFile() const {
  std::lock_guard<std::mutex> lock(m_FileNameLock);
  return m_CurrentFile;
}

void CDeviceLog::Start() {
  std::lock_guard<std::mutex> lock(m_ThreadLock);
  if (m_pThread) {
    // A signal left from an open that came after its wait had given up does
    // not stand for this one.
    m_StartEvent.Reset();
    theApp.bPostThreadMessage(m_pThread->id(), WM_FOTAVI_LOGOPEN, 0, 0, false);
    m_StartEvent.Wait(TimeLimits().dwLogOpenMs);
    return;
  }
  m_StartEvent.Reset();
  {
    std::lock_guard<std::mutex> batch(m_BatchLock);
    m_bBatchClosed = false;
  }
  m_pThread = std::make_unique<CPlatformThread>([this] { ThreadProc(); }, false, "FotaviZ5 log");
  m_dwThreadId.store(m_pThread->id());
  // Lines that come before the file is open wait in the batch and are
  // written once it is; a folder that takes long to answer holds the start
  // of the library no longer than this.
  m_StartEvent.Wait(TimeLimits().dwLogOpenMs);
}

void CDeviceLog::Stop() {
  if (g_pEndedLog.load() == this) return;
  std::lock_guard<std::mutex> lock(m_ThreadLock);
  if (!m_pThread) return;
  m_dwThreadId.store(0);
  theApp.bPostThreadMessage(m_pThread->id(), WM_QUIT, 0, 0, false);
  m_pThread->Join(TimeLimits().dwThreadEndMs);
  m_pThread.reset();
}

void CDeviceLog::ThreadProc() {
  PostThreadMessage(GetCurrentThreadId(), WM_FOTAVI_LOGOPEN, 0, 0);
  RunMessageLoop([this](const MSG& msg) {
    if (msg.message == WM_FOTAVI_LOGOPEN) {
      // The lines written before the rotation go to the file they were meant for.
      std::vector<Line> lines = TakeBatch();
      WriteLines(lines);
      CloseFile();
      OpenFile();
      m_StartEvent.Set();
    } else if (msg.message == WM_FOTAVI_LOGWRITE) {
      Sleep(FOTAVI_LOG_GATHER_MS);
      std::vector<Line> lines = TakeBatch();
      WriteLines(lines);
    }
  });
  // The lines that came before the end are written; from now on lines are
  // dropped.
  std::vector<Line> lines;
  {
    std::lock_guard<std::mutex> batch(m_BatchLock);
    m_bBatchClosed = true;
    lines.swap(m_Batch);
  }
  WriteLines(lines);
  CloseFile();
}

std::vector<CDeviceLog::Line> CDeviceLog::TakeBatch() {
  std::vector<Line> lines;
  std::lock_guard<std::mutex> batch(m_BatchLock);
  lines.swap(m_Batch);
  return lines;
}

void CDeviceLog::FreeLines(std::vector<Line>& lines) {
  for (const Line& l : lines) {
    --m_lPending;
    delete[] l.pBuffer;
  }
  lines.clear();
}

void CDeviceLog::WriteLines(std::vector<Line>& lines) {
  // Consecutive lines go out in one write as long as the file takes them
  // all. The gathered lines are written before a line that would pass the
  // size limit, so that WriteBuffer rolls over to the next file before that
  // line, as it does for a single line.
  std::string chunk;
  for (const Line& l : lines) {
    if (m_hFile < 0) break;
    if (!chunk.empty() && m_dwWritten + chunk.size() + l.nLength > SizeLimit()) {
      WriteBuffer(chunk.data(), chunk.size());
      chunk.clear();
    }
    chunk.append(l.pBuffer, l.nLength);
  }
  if (!chunk.empty()) WriteBuffer(chunk.data(), chunk.size());
  FreeLines(lines);
}

std::string CDeviceLog::SelectFile() const {
  const std::string fallback = GetFallbackRoot() + "Device.log";
  const std::string folder = Folder();
  std::string chosen;
  struct timespec oldest {};
  char name[64];
  for (int n = 0; n < 10; ++n) {
    std::snprintf(name, sizeof name, "Device%d.log", n);
    std::string path = folder + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return path;
  }
  for (int n = 0; n < 10; ++n) {
    std::snprintf(name, sizeof name, "Device%d.log", n);
    std::string path = folder + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      if (n == 0) return fallback;
      continue;
    }
    bool older = st.st_mtim.tv_sec < oldest.tv_sec ||
                 (st.st_mtim.tv_sec == oldest.tv_sec && st.st_mtim.tv_nsec < oldest.tv_nsec);
    if (chosen.empty() || older) {
      chosen = path;
      oldest = st.st_mtim;
    }
  }
  return chosen.empty() ? fallback : chosen;
}

void CDeviceLog::OpenFile() {
  m_dwWritten = 0;
  std::string name = SelectFile();
  if (Level() != 0) {
    std::string why;
    m_hFile = OpenLogFile(name, &why);
    // With no file there is no log to say it in: the refusal goes to the
    // process's standard error, in the form of the log's other refusals.
    // A file that could not be opened at all (the user's log folder is used
    // where the installation's cannot be written, so this is a log lost
    // everywhere) is said once per process, not at every open.
    const bool refused =
        why == "it is a symbolic link" || why == "it is not a regular file" || why == "it is not the user's own";
    static std::atomic<bool> told{false};
    if (m_hFile < 0 && refused) {
      std::fprintf(stderr, "FotaviZ5: device log %s refused: %s\n", name.c_str(), why.c_str());
    } else if (m_hFile < 0 && !told.exchange(true)) {
      std::fprintf(stderr, "FotaviZ5: the device log cannot be written (%s: %s)\n", name.c_str(), why.c_str());
    }
  }
  std::lock_guard<std::mutex> lock(m_FileNameLock);
  m_CurrentFile = m_hFile >= 0 ? name : std::string();
}

void CDeviceLog::CloseFile() {
  if (m_hFile >= 0) ::close(m_hFile);
  m_hFile = -1;
}

void CDeviceLog::WriteBuffer(const char* pBuffer, size_t nLength) {
  if (m_hFile < 0) return;
  if (m_dwWritten + nLength > SizeLimit()) {
    CloseFile();
    OpenFile();
    if (m_hFile < 0) return;
  }
  ssize_t n = ::write(m_hFile, pBuffer, nLength);
  if (n > 0) m_dwWritten += static_cast<DWORD>(n);
}

size_t CDeviceLog::PrefixDriverText(char* pBuffer) {
  if (t_bInDriverText || g_pInterface == nullptr) return 0;
  t_bInDriverText = true;
  DWORD dwLength = 0;
  g_pInterface->bGetDriverLog(pBuffer, FOTAVI_LOG_BUFFER_SIZE - FOTAVI_LOG_LINE_MAX - 1, &dwLength);
  t_bInDriverText = false;
  return dwLength;
}

void CDeviceLog::Post(char* pBuffer, size_t nLength) {
  bool bWake = false;
  {
    std::lock_guard<std::mutex> batch(m_BatchLock);
    if (!m_bBatchClosed && m_dwThreadId.load() != 0) {
      bWake = m_Batch.empty();
      m_Batch.push_back(Line{pBuffer, nLength});
      pBuffer = nullptr;
    }
  }
  if (pBuffer) {
    --m_lPending;
    delete[] pBuffer;
    return;
  }
  if (!bWake) return;  // the thread has been woken for the lines before
  DWORD dwThread = m_dwThreadId.load();
  if (dwThread == 0 || !theApp.bPostThreadMessage(dwThread, WM_FOTAVI_LOGWRITE, 0, 0, false)) {
    std::vector<Line> lines = TakeBatch();
    FreeLines(lines);
  }
}

char* CDeviceLog::NewLineBuffer(size_t* pnDriver) {
  if (Level() == 0 || m_dwThreadId.load() == 0) return nullptr;
  if (++m_lPending > 10) Sleep(0);
  char* pBuffer = new (std::nothrow) char[FOTAVI_LOG_BUFFER_SIZE];
  if (pBuffer == nullptr) {
    --m_lPending;
    return nullptr;
  }
  *pnDriver = PrefixDriverText(pBuffer);
  return pBuffer;
}

void CDeviceLog::WriteLine(const char* pszText) {
  size_t nDriver = 0;
  char* pBuffer = NewLineBuffer(&nDriver);
  if (pBuffer == nullptr) return;
  char* pLine = pBuffer + nDriver;
  size_t nTime = FormatTime(pLine, FOTAVI_LOG_LINE_MAX);
  size_t nText = std::min(std::strlen(pszText), FOTAVI_LOG_LINE_MAX - 2 - nTime);
  std::memcpy(pLine + nTime, pszText, nText);
  std::memcpy(pLine + nTime + nText, "\r\n", 2);
  Post(pBuffer, nDriver + nTime + nText + 2);
}

void CDeviceLog::WriteLineF(const char* pszFormat, ...) {
  if (Level() == 0) return;
  char text[FOTAVI_LOG_LINE_MAX + 1];
  va_list args;
  va_start(args, pszFormat);
  std::vsnprintf(text, sizeof text, pszFormat, args);
  va_end(args);
  WriteLine(text);
}

void CDeviceLog::WriteTrace(const char* pszFormat, ...) {
  if (Level() < 2) return;
  char text[FOTAVI_LOG_LINE_MAX + 1];
  std::memcpy(text, "LOG  \t\t:", 8);
  va_list args;
  va_start(args, pszFormat);
  std::vsnprintf(text + 8, sizeof text - 8, pszFormat, args);
  va_end(args);
  WriteLine(text);
}

void CDeviceLog::WriteDump(const void* pData, DWORD dwCount, bool bRead) {
  size_t n = 0;
  char* pBuffer = NewLineBuffer(&n);
  if (pBuffer == nullptr) return;
  static const char kLead[] = "\t\t\t\t\t\t\t [ ";
  std::memcpy(pBuffer + n, kLead, sizeof kLead - 1);
  n += sizeof kLead - 1;
  const BYTE* p = static_cast<const BYTE*>(pData);
  static const char hex[] = "0123456789abcdef";
  for (DWORD i = 0; i < dwCount && i < 16; ++i) {
    pBuffer[n++] = hex[p[i] >> 4];
    pBuffer[n++] = hex[p[i] & 15];
    pBuffer[n++] = ' ';
  }
  pBuffer[n++] = ']';
  pBuffer[n++] = bRead ? '<' : '>';
  pBuffer[n++] = '\r';
  pBuffer[n++] = '\n';
  Post(pBuffer, n);
}

void CDeviceLog::WriteInfo(BOOL bResult, DWORD dwError, const char* pszSource, int nLine) {
  if (bResult) return;
  WriteLineF("INFO\t\t:0x%08x(%s), [%s:%d]", dwError, FotaviErrorName(dwError), pszSource, nLine);
}

void CDeviceLog::WriteStart(const char* pszName, bool bProtocolStep) {
  if (Level() < (bProtocolStep ? 2u : 1u)) return;
  WriteLineF("START\t\t:%s%s", bProtocolStep ? "CRequest::" : "", pszName);
}

void CDeviceLog::WriteEnd(BOOL bResult, const char* pszName, bool bProtocolStep) {
  if (Level() < (bProtocolStep ? 2u : 1u)) return;
  WriteLineF("END\t\t %s:%s%s", bResult ? "(1)" : "(0)", bProtocolStep ? "CRequest::" : "", pszName);
}

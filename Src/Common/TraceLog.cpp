#include "TraceLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "CommonFunc.h"
#include "Platform/Ini.h"
#include "Platform/Paths.h"
#include "Platform/Time.h"

namespace {

std::mutex& LogLock() {
  static std::mutex lock;
  return lock;
}

// Cuts a UTF-8 text to at most `limit` bytes without splitting a character.
// A character has at most three continuation bytes, so the cut moves back at
// most three bytes: text that is not UTF-8 is cut at the limit, not emptied.
void CutUtf8(std::string* text, size_t limit) {
  if (text->size() <= limit) return;
  size_t end = limit;
  while (end > 0 && limit - end < 3 && (static_cast<unsigned char>((*text)[end]) & 0xC0) == 0x80) --end;
  if ((static_cast<unsigned char>((*text)[end]) & 0xC0) == 0x80) end = limit;
  text->resize(end);
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Opens the log for appending one line of `lineLength` bytes, rolling it
// over first when the line would pass `limit`. Returns the descriptor, which
// holds an exclusive file lock, or -1.
int OpenTraceLog(const std::string& logPath, const std::string& rollPath, DWORD limit, size_t lineLength) {
  int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  ::flock(fd, LOCK_EX);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return -1;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size + lineLength > limit && size > 0) {
    // Another process may have rolled the file over while we waited for the
    // lock: only the file still at the log's name is renamed.
    struct stat named;
    const bool same = ::stat(logPath.c_str(), &named) == 0 && named.st_ino == st.st_ino && named.st_dev == st.st_dev;
    if (same && ::rename(logPath.c_str(), rollPath.c_str()) == 0) {
      // No truncation: another process may already have started the new file.
      const int fresh = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (fresh >= 0) {
        ::flock(fresh, LOCK_EX);
        ::close(fd);
        return fresh;
      }
    }
    // The roll-over could not be made: append to the file we have rather
    // than lose what it holds.
  }
  return fd;
}

int WriteLine(int selector, const char* function, std::string message) {
  std::string logPath, rollPath;
  DWORD limit = 0;
  if (!GetTraceLogPath(selector, &logPath, &rollPath, &limit)) return 0;
  if (!function) return 0;

  SYSTEMTIME t;
  GetLocalTime(&t);
  char time[64];
  std::snprintf(time, sizeof time, "%04d/%02d/%02d %02d:%02d:%02d.%03d", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds);
  CutUtf8(&message, TRACE_MESSAGE_MAX);
  message += "\r\n";
  const std::string line = FormatTraceHeader(time, function) + message;

  // A logs folder this user cannot write into (missing, or an
  // installation's owned by root) sends the lines to the user's own log
  // folder under the same names.
  const size_t slash = logPath.rfind('/');
  const std::string folder = ChooseLogFolder(logPath.substr(0, slash));
  if (!folder.empty() && folder != logPath.substr(0, slash + 1)) {
    logPath = folder + logPath.substr(slash + 1);
    rollPath = folder + rollPath.substr(rollPath.rfind('/') + 1);
  }

  std::lock_guard<std::mutex> guard(LogLock());
  const int fd = OpenTraceLog(logPath, rollPath, limit, line.size());
  if (fd < 0) {
    // Said once per log and process: a log lost everywhere is not lost
    // without a word.
    const int error = errno;
    static bool told[TRC_MOV + 1] = {};
    if (selector >= 0 && selector <= TRC_MOV && !told[selector]) {
      told[selector] = true;
      std::fprintf(stderr, "Fotavi: the trace log cannot be written (%s: %s)\n", logPath.c_str(), std::strerror(error));
    }
    return 0;
  }
  const bool ok = WriteAll(fd, line);
  ::close(fd);
  return ok ? 1 : 0;
}

}  // namespace

std::string GetTraceBaseFolder() {
  std::string base = GetInstallPath();
  if (base.empty()) base = GetProgramFolder();
  if (base.empty()) return {};
  return AddBackslash(base);
}

BOOL GetTraceLogPath(int selector, std::string* logPath, std::string* rollPath, DWORD* limit) {
  const char* name = nullptr;
  const char* ini = nullptr;
  if (selector == TRC_PRE) {
    name = "FotaviPreTrc";
    ini = "Fotavi.ini";
  } else if (selector == TRC_MOV) {
    name = "FotaviMovTrc";
    ini = "FotaviMov.ini";
  }
  if (logPath) logPath->clear();
  if (rollPath) rollPath->clear();
  if (!name) return FALSE;
  const std::string base = GetTraceBaseFolder();
  if (base.empty()) return FALSE;
  const std::string folder = base + TRACE_LOGS_FOLDER + "/";
  if (logPath) *logPath = folder + name + ".log";
  if (rollPath) *rollPath = folder + name + "1.log";
  if (limit) {
    const int units = static_cast<int>(IniReadInt(base + ini, "Config", "TRACESIZE", 1));
    *limit = (units >= 1 && units <= 10) ? TRACE_SIZE_UNIT * static_cast<DWORD>(units) : TRACE_SIZE_UNIT;
  }
  return TRUE;
}

std::string FormatTraceHeader(const std::string& time, const char* function) {
  std::string name = function ? function : "";
  if (name.size() > TRACE_NAME_WIDTH) name.resize(TRACE_NAME_WIDTH);
  name.append(TRACE_NAME_WIDTH - name.size(), ' ');
  return "[" + time + "] [" + name + "] ";
}

int TraceLog(int selector, const char* function, const char* format, ...) {
  if (!function || !format) return 0;
  // One byte beyond the limit is kept, so that the cut below can see
  // whether the limit falls inside a multi-byte character.
  std::string message(TRACE_MESSAGE_MAX + 2, '\0');
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(message.data(), message.size(), format, args);
  va_end(args);
  if (n < 0) return 0;
  message.resize(std::min(static_cast<size_t>(n), TRACE_MESSAGE_MAX + 1));
  return WriteLine(selector, function, std::move(message));
}

int TraceLogText(int selector, const char* function, const std::string& text) {
  return WriteLine(selector, function, text);
}

int TraceLogMemory(int selector, const char* function, const char* what) {
  return TraceLog(selector, function, "Memory is insufficient. %s", what ? what : "");
}

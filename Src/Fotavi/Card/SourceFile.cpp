#include "SourceFile.h"

#include <unistd.h>

#include <cerrno>

#include "CardLimits.h"
#include "Common/RegularFile.h"
#include "Platform/GlobalMemory.h"

SourceFileRead ReadCardSourceFile(const std::string& path, HGLOBAL* block, DWORD* size) {
  long long fileSize = 0;
  const int fd = OpenRegularFile(path, &fileSize);
  if (fd < 0) return SourceFileRead::OpenFailed;
  if (fileSize >= static_cast<long long>(CARD_FILE_SIZE_LIMIT)) {
    close(fd);
    return SourceFileRead::TooLarge;
  }
  const auto bytes = static_cast<DWORD>(fileSize);
  HGLOBAL mem = GlobalAlloc(GHND, bytes);
  BYTE* p = mem ? static_cast<BYTE*>(GlobalLock(mem)) : nullptr;
  if (!p) {
    if (mem) GlobalFree(mem);
    close(fd);
    return SourceFileRead::NoMemory;
  }
  DWORD got = 0;
  while (got < bytes) {
    const ssize_t n = read(fd, p + got, bytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<DWORD>(n);
  }
  close(fd);
  GlobalUnlock(mem);
  if (got != bytes) {
    // A file that shrank under us is never sent zero-filled.
    GlobalFree(mem);
    return SourceFileRead::ShortRead;
  }
  *block = mem;
  *size = bytes;
  return SourceFileRead::Ok;
}

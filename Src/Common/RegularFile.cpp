#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenRegularFile(const std::string& path, long long* sizeOut) {
  if (path.empty()) return -1;
  // O_NONBLOCK keeps the opening of a FIFO from waiting for a writer; on a
  // regular file it changes nothing.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  if (sizeOut) *sizeOut = static_cast<long long>(st.st_size);
  return fd;
}

FILE* OpenRegularFileStream(const std::string& path) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return nullptr;
  FILE* file = ::fdopen(fd, "rb");
  if (!file) ::close(fd);
  return file;
}

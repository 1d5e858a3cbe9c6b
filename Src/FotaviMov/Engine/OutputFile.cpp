#include "OutputFile.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

std::string FileUrl(const std::string& path) { return "file:" + path; }

bool FreeSpaceFor(const std::string& path, uint64_t* bytes, std::string* error) {
  std::string folder = path;
  struct statvfs st {};
  for (;;) {
    const size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? std::string() : folder.substr(0, slash == 0 ? 1 : slash);
    if (folder.empty()) {
      if (error) *error = "no folder";
      return false;
    }
    if (::statvfs(folder.c_str(), &st) == 0) break;
    // A folder not made yet: its parent's file system takes the output.
    if ((errno != ENOENT && errno != ENOTDIR) || folder == "/") {
      if (error) *error = std::strerror(errno);
      return false;
    }
  }
  const uint64_t blocks = st.f_bavail, size = st.f_frsize;
  *bytes = size != 0 && blocks > std::numeric_limits<uint64_t>::max() / size ? std::numeric_limits<uint64_t>::max()
                                                                             : blocks * size;
  return true;
}

void RemoveEmptyOutput(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
}

// Helpers of the fuzz targets: the input as a file the code under test opens
// by name, as the program opens a file a user picked.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <vector>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <string>

namespace fotavi::fuzz {

// An in-memory regular file holding the input, named by its /proc path.
class InputFile {
 public:
  InputFile(const uint8_t* data, size_t size) {
    fd_ = memfd_create("fuzz-input", MFD_CLOEXEC);
    if (fd_ < 0) std::abort();
    size_t done = 0;
    while (done < size) {
      ssize_t n = write(fd_, data + done, size - done);
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~InputFile() { close(fd_); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// A private folder for the run's own files, made once and removed with all
// it holds when the run exits.
inline const std::string& RunFolder() {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/fotavi-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    return std::string(tmpl);
  }();
  static const bool removedAtExit = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    });
    return true;
  }();
  (void)removedAtExit;
  return folder;
}

// Seeds: with FOTAVI_FUZZ_WRITE_SEEDS=<folder> set, a target writes its seed
// inputs there (made by the project's own writers or by the layouts it
// reads) and exits instead of fuzzing.
using Seeds = std::vector<std::string>;
Seeds MakeSeeds();

inline void WriteSeedsIfAsked() {
  const char* folder = std::getenv("FOTAVI_FUZZ_WRITE_SEEDS");
  if (!folder || !*folder) return;
  const Seeds seeds = MakeSeeds();
  for (size_t i = 0; i < seeds.size(); ++i) {
    const std::string path = std::string(folder) + "/seed-" + std::to_string(i);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(seeds[i].data(), 1, seeds[i].size(), f) != seeds[i].size() || std::fclose(f) != 0) std::exit(1);
  }
  std::exit(0);
}

}  // namespace fotavi::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fotavi::fuzz::WriteSeedsIfAsked();
  return 0;
}

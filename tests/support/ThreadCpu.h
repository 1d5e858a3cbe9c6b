// CPU seconds of each thread of this process, read from /proc, for the
// benchmarks' per-thread figures; of the whole process and of the calling
// thread.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <ctime>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fotavi::test {

inline std::vector<std::pair<std::string, double>> ThreadCpu() {
  std::vector<std::pair<std::string, double>> out;
  // Name and thread id, so that threads of the same name stay apart.
  const long tick = sysconf(_SC_CLK_TCK);
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name;
    if (FILE* f = std::fopen((e.path() / "comm").c_str(), "r")) {
      char buf[64] = {};
      if (std::fgets(buf, sizeof buf, f)) name = buf;
      std::fclose(f);
    }
    if (!name.empty() && name.back() == '\n') name.pop_back();
    name += "/" + e.path().filename().string();
    if (FILE* f = std::fopen((e.path() / "stat").c_str(), "r")) {
      char buf[1024] = {};
      const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
      std::fclose(f);
      std::string stat(buf, n);
      const size_t close = stat.rfind(')');
      unsigned long utime = 0, stime = 0;
      if (close != std::string::npos &&
          std::sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                      &stime) == 2)
        out.emplace_back(name, double(utime + stime) / tick);
    }
  }
  return out;
}

// Whole-process CPU (user and system, every thread, ended ones too).
inline double ProcessCpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

inline double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

}  // namespace fotavi::test

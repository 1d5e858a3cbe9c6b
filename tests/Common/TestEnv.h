// Test support: a private temporary folder per test program, with the
// settings files, the named-mutex folder, the work folders and the fallback
// root all pointed into it, so tests never touch the user's own files.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fotavi_test {

inline std::string MakeTempFolder(const char* tag) {
  std::string pattern = (std::filesystem::temp_directory_path() / (std::string("fotavi-") + tag + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) std::abort();
  return pattern;
}

// Points the platform's settings and folders at a fresh temporary folder.
inline std::string IsolateEnvironment(const char* tag) {
  const std::string root = MakeTempFolder(tag);
  ::setenv("FOTAVI_MACHINE_SETTINGS", (root + "/machine.conf").c_str(), 1);
  ::setenv("FOTAVI_USER_SETTINGS", (root + "/user.conf").c_str(), 1);
  std::filesystem::create_directories(root + "/mutex");
  ::setenv("FOTAVI_MUTEX_ROOT", (root + "/mutex").c_str(), 1);
  std::filesystem::create_directories(root + "/work");
  ::setenv("FOTAVI_WORK_DIR", (root + "/work").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
  std::filesystem::create_directories(root + "/fallback");
  ::setenv("FOTAVI_FALLBACK_ROOT", (root + "/fallback/").c_str(), 1);
  ::setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
  return root;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

}  // namespace fotavi_test

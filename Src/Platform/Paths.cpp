#include "Paths.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (passwd* pw = getpwuid(geteuid())) return pw->pw_dir;
  return "/";
}

std::string envOr(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// A folder of ours that only we may enter: create it 0700, refuse a link or
// someone else's folder.
bool ensurePrivate(const std::string& path) {
  if (!MakeFolders(path, 0700)) return false;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
  if ((st.st_mode & 077) != 0) chmod(path.c_str(), 0700);
  return true;
}

std::string withSlash(std::string s) {
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

}  // namespace

std::string GetProgramPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

namespace {
void ModuleAnchor() {}
}  // namespace

std::string GetModuleFolder() {
  // The library does not move while it is loaded: looked up once, and kept
  // to the end, for threads still running at the process's exit.
  static const std::string& folder = *new std::string([] {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleAnchor), &info) && info.dli_fname && info.dli_fname[0] == '/') {
      std::string self = info.dli_fname;
      self = self.substr(0, self.rfind('/'));
      char real[PATH_MAX];
      if (realpath(self.c_str(), real)) return std::string(real);
      return self;
    }
    // Linked into the program itself (or loaded by a relative name): the
    // program's folder.
    return GetProgramFolder();
  }());
  return folder;
}

std::string GetProgramFolder() {
  std::string path = GetProgramPath();
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool IsTrustedFolder(const std::string& path, std::string* why) {
  std::string reason;
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) != 0) {
    reason = "it does not exist";
  } else if (!S_ISDIR(st.st_mode)) {
    reason = S_ISLNK(st.st_mode) ? "it is a symbolic link" : "it is not a folder";
  } else if (st.st_uid != geteuid()) {
    reason = "it belongs to user " + std::to_string(st.st_uid);
  } else if ((st.st_mode & 022) != 0) {
    reason = "other users can write to it";
  }
  if (why) *why = reason;
  return reason.empty();
}

bool MakeFolders(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  std::string current;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    current = path.substr(0, pos);
    if (current.empty()) continue;
    if (mkdir(current.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string GetPrivateWorkFolder() {
  std::string dir = envOr("FOTAVI_WORK_DIR");
  if (dir.empty()) {
    std::string runtime = envOr("XDG_RUNTIME_DIR");
    dir = runtime.empty() ? homeFolder() + "/.cache/fotavi/tmp" : runtime + "/fotavi";
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return ensurePrivate(dir) ? withSlash(dir) : std::string();
}

namespace {

// A folder of the user's own that nobody else can write to, made 0700 when
// missing; "" otherwise: a folder someone else made, or could have written
// into, is not ours to fill, its contents may have been planted.
std::string privateCacheFolder(const std::string& dir) {
  if (!MakeFolders(dir, 0700) || !IsTrustedFolder(dir)) return {};
  struct stat st;
  if (lstat(dir.c_str(), &st) == 0 && (st.st_mode & 077) != 0) chmod(dir.c_str(), 0700);
  return withSlash(dir);
}

}  // namespace

std::string GetUserLogFolder() {
  std::string state = envOr("XDG_STATE_HOME");
  if (state.empty() || state.front() != '/') state = homeFolder() + "/.local/state";
  while (state.size() > 1 && state.back() == '/') state.pop_back();
  return privateCacheFolder(state + "/fotavi/Logs");
}

std::string ChooseLogFolder(const std::string& folder) {
  struct stat st;
  if (!folder.empty() && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
      faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
    return withSlash(folder);
  }
  return GetUserLogFolder();
}

std::string GetPrivateCacheFolder() {
  std::string dir = envOr("FOTAVI_CACHE_DIR");
  if (dir.empty()) {
    std::string cache = envOr("XDG_CACHE_HOME");
    if (cache.empty() || cache.front() != '/') cache = homeFolder() + "/.cache";
    dir = cache + "/fotavi";
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return privateCacheFolder(dir);
}

std::string GetLargeWorkFolder() {
  const std::string cache = GetPrivateCacheFolder();
  return cache.empty() ? std::string() : privateCacheFolder(cache + "work");
}

std::string GetDocumentsFolder() {
  std::string dir = envOr("XDG_DOCUMENTS_DIR");
  struct stat st;
  if (!dir.empty() && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  dir = homeFolder() + "/Documents";
  if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  return homeFolder();
}

std::string GetFallbackRoot() {
  std::string dir = envOr("FOTAVI_FALLBACK_ROOT");
  if (dir.empty()) dir = homeFolder() + "/.local/state/fotavi";
  MakeFolders(dir, 0700);
  return withSlash(dir);
}

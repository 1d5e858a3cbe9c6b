#include "Library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <strings.h>

#include <cctype>
#include <cstdlib>

#include "Paths.h"

namespace {
thread_local std::string t_loadError;

bool fileExists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

std::string moduleFileName(const std::string& name) {
  std::string file = name;
  auto dot = file.rfind('.');
  if (dot != std::string::npos) {
    std::string ext = file.substr(dot);
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".dll") file = file.substr(0, dot) + ".so";
  }
  return file;
}
}  // namespace

std::string ResolveModulePath(const std::string& name) {
  if (name.find('/') != std::string::npos) return fileExists(name) ? name : std::string();
  std::string file = moduleFileName(name);
  // The project's modules live with the platform library, so a program and
  // a data source under any host find the same ones.
  std::string candidate = GetModuleFolder() + "/" + file;
  if (fileExists(candidate)) return candidate;
  if (const char* extra = std::getenv("FOTAVI_MODULE_PATH")) {
    std::string list = extra;
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      std::string dir = list.substr(start, end - start);
      if (!dir.empty() && fileExists(dir + "/" + file)) return dir + "/" + file;
      start = end + 1;
    }
  }
  return file;  // left to the system's search path
}

namespace {
// The TWAIN manager of Windows programs. Here a source is loaded by a manager
// already in the process: the working group's manager (loaded privately by
// the application, so only a load by its name finds it), else the program
// itself when it provides DSM_Entry as the manager.
bool IsTwainManagerName(const std::string& name) { return strcasecmp(name.c_str(), "TWAIN_32.DLL") == 0; }

HMODULE LoadTwainManager() {
  void* handle = dlopen("libtwaindsm.so.2", RTLD_NOW | RTLD_NOLOAD);
  if (!handle) handle = dlopen(nullptr, RTLD_NOW);
  if (!handle) {
    t_loadError = "TWAIN_32.DLL: no manager in the process";
    SetLastError(ERROR_MOD_NOT_FOUND);
  }
  return reinterpret_cast<HMODULE>(handle);
}
}  // namespace

HMODULE LoadLibrary(const std::string& name) {
  if (IsTwainManagerName(name)) return LoadTwainManager();
  std::string path = ResolveModulePath(name);
  if (path.empty()) {
    t_loadError = name + ": no such file";
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* err = dlerror();
    t_loadError = err ? err : "unknown error";
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* symbol) {
  if (!module || !symbol) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  dlerror();
  void* sym = dlsym(reinterpret_cast<void*>(module), symbol);
  if (!sym) {
    const char* err = dlerror();
    t_loadError = err ? err : std::string(symbol) + ": not found";
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(sym);
}

BOOL FreeLibrary(HMODULE module) {
  if (!module) return FALSE;
  return dlclose(reinterpret_cast<void*>(module)) == 0 ? TRUE : FALSE;
}

std::string GetLoadErrorText() { return t_loadError; }

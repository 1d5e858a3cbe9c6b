#include "Settings.h"

#include <limits.h>
#include <stdlib.h>

#include <cstdlib>

#include "Paths.h"
#include "TextStore.h"

using fotavi::platform::TextStore;

namespace {

// Values are stored as "dword:<decimal>" or "sz:<text>".
constexpr const char* kDword = "dword:";
constexpr const char* kString = "sz:";

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  return home ? home : "/";
}

bool readRaw(SettingsRoot root, const std::string& key, const std::string& value, std::string* raw) {
  TextStore store;
  if (!store.Load(SettingsFilePath(root))) return false;
  return store.Get(key, value, raw);
}

bool writeRaw(SettingsRoot root, const std::string& key, const std::string& value, const std::string& raw) {
  if (key.empty() || value.find('=') != std::string::npos || raw.find('\n') != std::string::npos ||
      raw.find('\r') != std::string::npos || key.find('\n') != std::string::npos) {
    return false;
  }
  std::string path = SettingsFilePath(root);
  return fotavi::platform::WithFileLock(path, [&] {
    TextStore store;
    if (!store.Load(path)) return false;
    store.Set(key, value, raw);
    return store.Save(path);
  });
}

// The installer's settings, found from the module folder: in the build tree
// <build>/etc, beside <build>/bin; installed, <sysconfdir>/fotavi, at the
// path the install layout gives from <libdir>/fotavi.
std::string MachineSettingsBesideModules() {
  // Looked up once, and kept to the end, for threads still running at exit.
  static const std::string& path = *new std::string([] {
    const std::string modules = GetModuleFolder();
#ifdef FOTAVI_BUILD_MODULE_DIR
    char real[PATH_MAX];
    if (realpath(FOTAVI_BUILD_MODULE_DIR, real) && modules == real) return modules + "/../etc/fotavi-machine.conf";
#endif
#ifdef FOTAVI_MACHINE_SETTINGS_FROM_MODULES
    return modules + "/" FOTAVI_MACHINE_SETTINGS_FROM_MODULES;
#else
    return modules + "/../etc/fotavi-machine.conf";
#endif
  }());
  return path;
}

}  // namespace

std::string SettingsFilePath(SettingsRoot root) {
  if (root == SettingsRoot::LocalMachine) {
    const char* p = std::getenv("FOTAVI_MACHINE_SETTINGS");
    if (p && *p) return p;
    return MachineSettingsBesideModules();
  }
  const char* p = std::getenv("FOTAVI_USER_SETTINGS");
  if (p && *p) return p;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base = (config && *config) ? std::string(config) : homeFolder() + "/.config";
  return base + "/fotavi/user.conf";
}

bool SettingsKeyExists(SettingsRoot root, const std::string& key) {
  TextStore store;
  return store.Load(SettingsFilePath(root)) && store.HasSection(key);
}

bool SettingsReadString(SettingsRoot root, const std::string& key, const std::string& value, std::string* out) {
  std::string raw;
  if (!readRaw(root, key, value, &raw) || raw.rfind(kString, 0) != 0) return false;
  *out = raw.substr(3);
  return true;
}

bool SettingsReadDword(SettingsRoot root, const std::string& key, const std::string& value, DWORD* out) {
  std::string raw;
  if (!readRaw(root, key, value, &raw) || raw.rfind(kDword, 0) != 0) return false;
  std::string digits = TextStore::Trim(raw.substr(6));
  if (digits.empty()) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(digits.c_str(), &end, 0);
  if (*end != '\0' || v > 0xFFFFFFFFull) return false;
  *out = static_cast<DWORD>(v);
  return true;
}

bool SettingsWriteString(SettingsRoot root, const std::string& key, const std::string& value, const std::string& data) {
  return writeRaw(root, key, value, kString + data);
}

bool SettingsWriteDword(SettingsRoot root, const std::string& key, const std::string& value, DWORD data) {
  return writeRaw(root, key, value, kDword + std::to_string(data));
}

bool SettingsDeleteValue(SettingsRoot root, const std::string& key, const std::string& value) {
  std::string path = SettingsFilePath(root);
  return fotavi::platform::WithFileLock(path, [&] {
    TextStore store;
    if (!store.Load(path) || !store.Remove(key, value)) return false;
    return store.Save(path);
  });
}

DWORD SettingsGetDword(SettingsRoot root, const std::string& key, const std::string& value, DWORD defaultValue) {
  DWORD v = defaultValue;
  return SettingsReadDword(root, key, value, &v) ? v : defaultValue;
}

std::string SettingsGetString(SettingsRoot root, const std::string& key, const std::string& value,
                              const std::string& defaultValue) {
  std::string v;
  return SettingsReadString(root, key, value, &v) ? v : defaultValue;
}

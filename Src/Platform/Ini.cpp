#include "Ini.h"

#include "TextStore.h"

using fotavi::platform::TextStore;

std::string IniReadString(const std::string& path, const std::string& section, const std::string& key,
                          const std::string& defaultValue) {
  TextStore store;
  std::string raw;
  if (!store.Load(path) || !store.Get(section, key, &raw)) return defaultValue;
  std::string v = TextStore::Trim(raw);
  if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\''))) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

UINT IniReadInt(const std::string& path, const std::string& section, const std::string& key, int defaultValue) {
  TextStore store;
  std::string raw;
  if (!store.Load(path) || !store.Get(section, key, &raw)) return static_cast<UINT>(defaultValue);
  std::string v = TextStore::Trim(raw);
  bool negative = false;
  size_t i = 0;
  if (i < v.size() && (v[i] == '-' || v[i] == '+')) {
    negative = v[i] == '-';
    ++i;
  }
  uint32_t n = 0;
  for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) n = n * 10u + static_cast<uint32_t>(v[i] - '0');
  return negative ? static_cast<UINT>(0u - n) : static_cast<UINT>(n);
}

bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
  if (value.find('\n') != std::string::npos || key.find('=') != std::string::npos) return false;
  return fotavi::platform::WithFileLock(path, [&] {
    TextStore store;
    if (!store.Load(path)) return false;
    store.Set(section, key, value);
    return store.Save(path);
  });
}

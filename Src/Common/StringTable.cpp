#include "StringTable.h"

#include <map>
#include <mutex>

namespace {

struct Table {
  std::mutex lock;
  std::map<UINT, std::string> texts;
  std::string title;
};

Table& TheTable() {
  static Table table;
  return table;
}

}  // namespace

void SetStringTableEntries(std::initializer_list<std::pair<UINT, const char*>> entries) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  for (const auto& [id, text] : entries) t.texts[id] = text ? text : "";
}

void SetStringTableEntry(UINT id, const std::string& text) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.texts[id] = text;
}

std::string LoadStringText(UINT id, const std::string& fallback) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  const auto it = t.texts.find(id);
  return it == t.texts.end() ? fallback : it->second;
}

void ClearStringTable() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.texts.clear();
}

void SetApplicationTitle(const std::string& title) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.title = title;
}

std::string GetApplicationTitle() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  return t.title;
}

#include "ErrorEntry.h"

#include <cstring>

#include <QString>

#include "Platform/GlobalMemory.h"

namespace {

// Copies at most 259 UTF-16 units of `text` into a field, never splitting a
// surrogate pair; the rest of the field stays zero.
void FillField(char16_t* field, const std::string& text) {
  const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  qsizetype n = std::min<qsizetype>(s.size(), ERROR_ENTRY_FIELD_CHARS - 1);
  if (n > 0 && n < s.size() && s.at(n - 1).isHighSurrogate()) --n;
  std::memcpy(field, s.utf16(), static_cast<size_t>(n) * sizeof(char16_t));
}

std::string ReadField(HGLOBAL entry, size_t index) {
  if (GlobalSize(entry) != ERROR_ENTRY_SIZE) return {};
  const auto* base = static_cast<const char16_t*>(GlobalLock(entry));
  if (!base) return {};
  const char16_t* field = base + index * ERROR_ENTRY_FIELD_CHARS;
  size_t n = 0;
  while (n < ERROR_ENTRY_FIELD_CHARS && field[n] != 0) ++n;
  const std::string text = QString::fromUtf16(field, static_cast<qsizetype>(n)).toStdString();
  GlobalUnlock(entry);
  return text;
}

}  // namespace

BOOL AddErrorEntry(ErrorEntryList* list, const std::string& fileName, const std::string& message) {
  if (!list) return FALSE;
  HGLOBAL block = GlobalAlloc(GPTR, ERROR_ENTRY_SIZE);
  if (!block) return FALSE;
  auto* base = static_cast<char16_t*>(GlobalLock(block));
  if (!base) {
    GlobalFree(block);
    return FALSE;
  }
  FillField(base, fileName);
  FillField(base + ERROR_ENTRY_FIELD_CHARS, message);
  GlobalUnlock(block);
  try {
    list->push_back(block);
  } catch (...) {
    GlobalFree(block);
    return FALSE;
  }
  return TRUE;
}

std::string ErrorEntryFileName(HGLOBAL entry) { return ReadField(entry, 0); }
std::string ErrorEntryMessage(HGLOBAL entry) { return ReadField(entry, 1); }

void FreeErrorEntries(ErrorEntryList* list) {
  if (!list) return;
  for (HGLOBAL block : *list) GlobalFree(block);
  list->clear();
}

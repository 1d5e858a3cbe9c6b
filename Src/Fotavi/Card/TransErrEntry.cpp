#include "TransErrEntry.h"

#include <QString>

#include "Platform/GlobalMemory.h"

namespace {

void PutField(char16_t* field, const std::string& text) {
  const std::u16string wide = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdU16String();
  size_t n = std::min(wide.size(), TRANSERR_FIELD_CHARS - 1);
  // Never split a surrogate pair at the cut.
  if (n > 0 && n < wide.size() && wide[n - 1] >= 0xD800 && wide[n - 1] <= 0xDBFF) --n;
  for (size_t i = 0; i < n; ++i) field[i] = wide[i];
  field[n] = 0;
}

std::string GetField(HGLOBAL entry, size_t index) {
  if (!entry || GlobalSize(entry) < TRANSERR_ENTRY_SIZE) return {};
  const auto* p = static_cast<const char16_t*>(GlobalLock(entry));
  if (!p) return {};
  const char16_t* field = p + index * TRANSERR_FIELD_CHARS;
  size_t n = 0;
  while (n < TRANSERR_FIELD_CHARS && field[n]) ++n;
  const std::string text = QString::fromUtf16(field, static_cast<qsizetype>(n)).toStdString();
  GlobalUnlock(entry);
  return text;
}

}  // namespace

BOOL AddTransErrEntry(const std::string& message, const std::string& fileName, CErrorList* list) {
  if (!list) return FALSE;
  HGLOBAL entry = GlobalAlloc(GHND, TRANSERR_ENTRY_SIZE);
  if (!entry) return FALSE;
  auto* p = static_cast<char16_t*>(GlobalLock(entry));
  if (!p) {
    GlobalFree(entry);
    return FALSE;
  }
  PutField(p, fileName);
  PutField(p + TRANSERR_FIELD_CHARS, message);
  GlobalUnlock(entry);
  try {
    list->push_back(entry);
  } catch (...) {
    GlobalFree(entry);
    return FALSE;
  }
  return TRUE;
}

std::string TransErrFileName(HGLOBAL entry) { return GetField(entry, 0); }
std::string TransErrMessage(HGLOBAL entry) { return GetField(entry, 1); }

void FreeTransErrList(CErrorList* list) {
  if (!list) return;
  for (HGLOBAL entry : *list) GlobalFree(entry);
  list->clear();
}

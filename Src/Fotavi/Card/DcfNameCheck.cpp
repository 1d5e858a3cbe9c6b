#include "DcfNameCheck.h"

#include <strings.h>

namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

int DecimalValue(const std::string& digits) {
  int v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return v;
}

}  // namespace

// Bytes of UTF-8 text at or above 128 belong to characters outside ASCII,
// which fail both character checks; so the checks can work on bytes.
BOOL CDcfNameCheck::IsDigits(const std::string& text) const {
  for (unsigned char c : text)
    if (c >= 128 || c < '0' || c > '9') return FALSE;
  return TRUE;
}

BOOL CDcfNameCheck::IsAlnumOrUnderscore(const std::string& text) const {
  for (unsigned char c : text) {
    const bool ok = c < 128 && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_');
    if (!ok) return FALSE;
  }
  return TRUE;
}

BOOL CDcfNameCheck::IsFolderName(const char* name) const {
  if (!name) return FALSE;
  const std::string upper = Upper(name);
  if (upper.size() != 8) return FALSE;
  const std::string number = upper.substr(0, 3);
  if (!IsDigits(number) || DecimalValue(number) < 100) return FALSE;
  return IsAlnumOrUnderscore(upper.substr(3));
}

BOOL CDcfNameCheck::IsFileName(const char* name) const {
  if (!name) return FALSE;
  const std::string text = name;
  const size_t dot = text.find('.');
  if (dot == std::string::npos) return FALSE;
  const std::string stem = Upper(text.substr(0, dot));
  const std::string ext = text.substr(dot);
  if (strcasecmp(ext.c_str(), ".JPG") != 0 || stem.size() != 8) return FALSE;
  const std::string number = stem.substr(4);
  if (!IsDigits(number) || DecimalValue(number) == 0) return FALSE;
  return IsAlnumOrUnderscore(stem.substr(0, 4));
}

#include "FilePath.h"

#include <cctype>
#include <vector>

namespace {

// Decodes UTF-8 into code points. False for malformed text.
bool DecodeUtf8(const std::string& text, std::vector<char32_t>* out) {
  out->clear();
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (extra > 0 && i + static_cast<size_t>(extra) >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out->push_back(cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

bool IsForbidden(char32_t c) {
  if (c <= 31) return true;
  if (c >= 127 && c <= 160) return true;
  switch (c) {
    case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
      return true;
    default:
      return false;
  }
}

// Reserved device names, tried in this order; the last two only with digits.
const char* const kReserved[] = {"AUX", "CON", "PRN", "NUL", "CLOCK$", "COM", "LPT"};

}  // namespace

void CFilePath::SplitPath(const std::string& path, std::string* dir, std::string* name, std::string* ext) {
  const size_t slash = path.rfind('/');
  const size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
  *dir = path.substr(0, fileStart);
  const std::string file = path.substr(fileStart);
  const size_t dot = file.rfind('.');
  if (dot == std::string::npos) {
    *name = file;
    ext->clear();
  } else {
    *name = file.substr(0, dot);
    *ext = file.substr(dot);
  }
}

void CFilePath::SetPath(const std::string& path) {
  m_strPath = path;
  if (path.empty()) return;
  m_strDrive.clear();
  SplitPath(path, &m_strDir, &m_strName, &m_strExt);
}

BOOL CFilePath::IsValidFileName() {
  if (m_strPath.empty()) return FALSE;
  SetPath(m_strPath);
  return IsValidName(GetFileName());
}

BOOL CFilePath::IsValidName(const std::string& name) {
  if (name.empty() || name.size() > 255) return FALSE;
  if (name == "." || name == "..") return FALSE;
  std::vector<char32_t> cps;
  if (!DecodeUtf8(name, &cps)) return FALSE;
  for (const char32_t c : cps) {
    if (IsForbidden(c)) return FALSE;
  }
  for (const char32_t c : cps) {
    if (c >= 128) return TRUE;  // names in other scripts are never device names
  }
  if (cps.size() <= 2) return TRUE;

  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  int match = -1;
  size_t pos = 0;
  for (int i = 0; i < 7; ++i) {
    const std::string entry = kReserved[i];
    if (upper.compare(0, entry.size(), entry) == 0) {
      match = i;
      pos = entry.size();
      break;
    }
  }
  if (match < 0) return TRUE;
  if (match >= 5) {
    if (pos >= upper.size() || !std::isdigit(static_cast<unsigned char>(upper[pos]))) return TRUE;
    while (pos < upper.size() && std::isdigit(static_cast<unsigned char>(upper[pos]))) ++pos;
    if (pos < upper.size() && upper[pos] != ' ' && upper[pos] != '.') return TRUE;
  }
  while (pos < upper.size() && upper[pos] == ' ') ++pos;
  if (pos >= upper.size() || upper[pos] == '.') return FALSE;
  return TRUE;
}

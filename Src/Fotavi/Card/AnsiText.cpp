#include "AnsiText.h"

#include <cstdint>
#include <cstring>

#include "Driver/FotaviZ5.dll/FotaviZ5.h"

namespace {

// Code points of the bytes 0x80 to 0x9F; the five bytes the code page leaves
// open map to the C1 control of the same value, as the system's conversion does.
const char32_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                            0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool EncodeOne(char32_t cp, unsigned char* out) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
    *out = static_cast<unsigned char>(cp);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == cp) {
      *out = static_cast<unsigned char>(0x80 + i);
      return true;
    }
  }
  return false;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

bool Utf8ToAnsi(const std::string& utf8, std::string* ansi) {
  std::string out;
  out.reserve(utf8.size());
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  for (size_t i = 0; i < n;) {
    char32_t cp;
    size_t len;
    const unsigned char b = p[i];
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      len = 4;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Over-long forms and surrogates are not valid UTF-8.
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    unsigned char byte;
    if (!EncodeOne(cp, &byte)) return false;
    out += static_cast<char>(byte);
    i += len;
  }
  *ansi = std::move(out);
  return true;
}

std::string AnsiToUtf8(const char* bytes, size_t maxBytes) {
  std::string out;
  if (!bytes) return out;
  const size_t n = strnlen(bytes, maxBytes);
  for (size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0x80 && b < 0xA0) {
      AppendUtf8(kHigh[b - 0x80], &out);
    } else {
      AppendUtf8(b, &out);
    }
  }
  return out;
}

bool FitsCardPath(const std::string& utf8) {
  std::string ansi;
  return Utf8ToAnsi(utf8, &ansi) && ansi.size() <= FOTAVI_PATH_MAX_CHARS;
}

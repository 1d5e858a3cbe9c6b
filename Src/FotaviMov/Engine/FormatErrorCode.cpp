#include "FormatErrorCode.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/error.h>
}

std::string FormatErrorCode(long code) {
  char text[256] = {0};
  if (code < 0) {
    av_strerror(static_cast<int>(code), text, sizeof(text));
  } else {
    // strerror_r of glibc may return its own buffer.
    const char* message = strerror_r(static_cast<int>(code), text, sizeof(text));
    if (message != text) snprintf(text, sizeof(text), "%s", message);
  }
  for (char* p = text; *p; ++p) {
    if (*p == '\r' || *p == '\n') *p = ' ';
  }
  char line[320];
  snprintf(line, sizeof(line), "ErrorCode[0x%08X] Message[%s]", static_cast<unsigned>(code), text);
  return line;
}

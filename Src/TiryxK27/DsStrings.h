// The data source's string table: its caption, its identity texts and its
// messages, by number.
#pragma once

#include <cstdio>
#include <string>

#include "Platform/Types.h"

constexpr UINT IDS_DS_MANUFACTURER = 0;
constexpr UINT IDS_DS_CAPTION = 1;  // also the product name
constexpr UINT IDS_DS_FAMILY = 2;
constexpr UINT IDS_DS_VERSION_FORMAT = 3;
constexpr UINT IDS_DS_VERSION_MAJOR = 4;
constexpr UINT IDS_DS_VERSION_MINOR = 5;
constexpr UINT IDS_DS_LOWMEMORY = 2061;
constexpr UINT IDS_DS_INTERNAL_ERROR = 2062;
constexpr UINT IDS_DS_STILL_FAILED = 2063;
constexpr UINT IDS_DS_LOADLIB_ERROR = 2064;
constexpr UINT IDS_DS_ALREADY_USED = 2065;
constexpr UINT IDS_DS_LIVE_FAILED = 2067;
constexpr UINT IDS_DS_ALREADY_LAUNCHED = 2068;

inline std::string DsString(UINT id) {
  switch (id) {
    case IDS_DS_MANUFACTURER: return "Tiryx Corporation";
    case IDS_DS_CAPTION: return "Tiryx TWAIN DS (K27)";
    case IDS_DS_FAMILY: return "Tiryx Utility Software (K27)";
    case IDS_DS_VERSION_FORMAT: return "Version %d.%02d";
    case IDS_DS_VERSION_MAJOR: return "1";
    case IDS_DS_VERSION_MINOR: return "10";
    case IDS_DS_LOWMEMORY:
      return "Insufficient memory.  Please close all other applications and restart the Tiryx TWAIN DS (K27) "
             "driver again.";
    case IDS_DS_INTERNAL_ERROR: return "An internal error had occurred.";
    case IDS_DS_STILL_FAILED: return "Unable to acquire still image.";
    case IDS_DS_LOADLIB_ERROR: return "Unable to load %s.";
    case IDS_DS_ALREADY_USED: return "Fotavi or Tiryx TWAIN DS is already used by the other.";
    case IDS_DS_LIVE_FAILED: return "Unable to acquire live-monitor image.";
    case IDS_DS_ALREADY_LAUNCHED: return "Fotavi or Tiryx TWAIN DS is already launched.";
    default: return {};
  }
}

// `format` with its one %s replaced by `arg`.
inline std::string DsFormat(const std::string& format, const std::string& arg) {
  const size_t at = format.find("%s");
  if (at == std::string::npos) return format;
  return format.substr(0, at) + arg + format.substr(at + 2);
}

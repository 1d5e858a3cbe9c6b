// INI files with Windows semantics: section and key names compare without
// regard to case, values are taken verbatim (backslashes kept, surrounding
// blanks trimmed, one pair of surrounding quotes removed), numbers read their
// leading decimal digits ("12abc" is 12, "abc" is 0, a leading '-' negates).
#pragma once

#include <string>

#include "Types.h"

// The value, or `defaultValue` when the file, section or key is missing.
FOTAVI_PLATFORM_API std::string IniReadString(const std::string& path, const std::string& section,
                                              const std::string& key, const std::string& defaultValue);
FOTAVI_PLATFORM_API UINT IniReadInt(const std::string& path, const std::string& section, const std::string& key,
                                    int defaultValue);
// Writes or replaces a value (creating the file and section); true on success.
FOTAVI_PLATFORM_API bool IniWriteString(const std::string& path, const std::string& section,
                                        const std::string& key, const std::string& value);

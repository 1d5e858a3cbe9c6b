// A program's string table: message texts by number. Each program fills the
// table at start-up with its own texts; shared code looks texts up by number.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

#include "Platform/Types.h"

// Adds or replaces texts.
void SetStringTableEntries(std::initializer_list<std::pair<UINT, const char*>> entries);
void SetStringTableEntry(UINT id, const std::string& text);
// The text of `id`; `fallback` when the table has none.
std::string LoadStringText(UINT id, const std::string& fallback = {});
// Empties the table (tests).
void ClearStringTable();

// The program's title, used as the caption of its message boxes.
void SetApplicationTitle(const std::string& title);
std::string GetApplicationTitle();

// Texts of the shared components, filled into the program's table by number.
constexpr UINT IDS_FILE_NOT_AVAILABLE = 160;  // "The specified file is not available."

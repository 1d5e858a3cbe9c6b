// The movie program's string table: numbers and texts. The program fills
// the shared table with LoadFotaviMovStrings() at start-up; the engine looks
// its texts up with MovString(), which falls back to the text below when the
// table has none (tests, engines used on their own).
#pragma once

#include <string>

#include "Platform/Types.h"

constexpr UINT IDS_MOV_OPEN_ERROR = 131;        // "Unable to open file."
constexpr UINT IDS_MOV_SAVE_ERROR = 132;        // "Unable to save file."
constexpr UINT IDS_MOV_NO_RESOURCES = 133;      // "Insufficient system resources ..."
constexpr UINT IDS_MOV_INVALID_FILE = 136;      // "Invalid file type."
constexpr UINT IDS_MOV_PLAY_ERROR = 137;        // "Unable to play movie."
constexpr UINT IDS_MOV_PAUSE_ERROR = 138;       // "Unable to pause movie."
constexpr UINT IDS_MOV_STOP_ERROR = 139;        // "Unable to stop movie."
constexpr UINT IDS_MOV_PROFILE_ERROR = 140;     // "Unable to read profile file. ..."
constexpr UINT IDS_MOV_FILE_LIMIT = 148;        // "The number of files reached the upper bound. "
constexpr UINT IDS_MOV_INTERNAL_ERROR = 999;    // "An Internal Error has occurred."

// Fills the program's string table with the movie program's texts and sets
// its title.
void LoadFotaviMovStrings();
// The table's text of `id`, else this program's own text for it.
std::string MovString(UINT id);

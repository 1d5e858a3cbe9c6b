// The movie program's string table, its one home: the numbers and texts of
// every message, status text and field name. The program fills the shared
// table with LoadFotaviMovStrings() at start-up (title included); MovString()
// falls back to the text below when the table has none (tests, engines used
// on their own).
#pragma once

#include <string>

#include "Platform/Types.h"

constexpr UINT IDS_MOV_DOCSTRINGS = 128;      // "Fotavi for Movie Creation\n\nFotaviMov\n..."
constexpr UINT IDS_MOV_OPEN_ERROR = 131;      // "Unable to open file."
constexpr UINT IDS_MOV_SAVE_ERROR = 132;      // "Unable to save file."
constexpr UINT IDS_MOV_NO_RESOURCES = 133;    // "Insufficient system resources for execution. ..."
constexpr UINT IDS_MOV_OTHER_USER = 134;      // "Fotavi or Tiryx TWAIN DS is already used by the other user."
constexpr UINT IDS_MOV_INIT_ERROR = 135;      // "Unable to initialize.\nClosing this application."
constexpr UINT IDS_MOV_INVALID_FILE = 136;    // "Invalid file type."
constexpr UINT IDS_MOV_PLAY_ERROR = 137;      // "Unable to play movie."
constexpr UINT IDS_MOV_PAUSE_ERROR = 138;     // "Unable to pause movie."
constexpr UINT IDS_MOV_STOP_ERROR = 139;      // "Unable to stop movie."
constexpr UINT IDS_MOV_PROFILE_ERROR = 140;   // "Unable to read profile file. ..."
constexpr UINT IDS_MOV_LIVE_ERROR = 141;      // "Unable to acquire live-monitor image."
constexpr UINT IDS_MOV_LOADLIB_ERROR = 142;   // "Unable to load %s."
constexpr UINT IDS_MOV_RECORDING = 145;       // "Recording ..."
constexpr UINT IDS_MOV_STATUS_PANE = 146;     // blanks that set the status pane's width
constexpr UINT IDS_MOV_NO_DEVICE = 147;       // "Unable to use the main unit."
constexpr UINT IDS_MOV_FILE_LIMIT = 148;      // "The number of files reached the upper bound. "
constexpr UINT IDS_MOV_ALREADY_LAUNCHED = 149; // "Fotavi or Tiryx TWAIN DS is already launched."
constexpr UINT IDS_MOV_INVALID_VALUE = 201;   // "Invalid value (The value of %s is invalid.)"
constexpr UINT IDS_MOV_SPECIFY_VALUE = 202;   // "Please specify the value of %s. "
constexpr UINT IDS_MOV_SPLIT_TOO_SMALL = 203; // "The maximum size of the divided file is too small. ..."
constexpr UINT IDS_MOV_OVERWRITE = 205;       // "The specified file already exists. May I overwrite?"
constexpr UINT IDS_MOV_SPLIT_TOO_LARGE = 206; // "The maximum size of the divided file is too large. ..."
constexpr UINT IDS_MOV_FIELD_OUTPUT = 500;    // "Output file name"
constexpr UINT IDS_MOV_FIELD_SPLIT = 502;     // "Maximum divided file size"
constexpr UINT IDS_MOV_FIELD_RATE = 505;      // "Frame rate"
constexpr UINT IDS_MOV_FIELD_CAPACITY = 508;  // "Recording capacity"
constexpr UINT IDS_MOV_FIELD_QUALITY = 509;   // "Video quality"
constexpr UINT IDS_MOV_FIELD_MINUTES = 510;   // "Recording time (minutes)"
constexpr UINT IDS_MOV_FIELD_SECONDS = 511;   // "Recording time (seconds)"
constexpr UINT IDS_MOV_INTERNAL_ERROR = 999;  // "An Internal Error has occurred."
constexpr UINT IDS_MOV_TITLE = 57344;         // "Fotavi for Movie Creation"
constexpr UINT IDS_MOV_READY = 57345;         // "Ready"

// Fills the program's string table with the movie program's texts and sets
// its title.
void LoadFotaviMovStrings();
// The table's text of `id`, else this program's own text for it.
std::string MovString(UINT id);

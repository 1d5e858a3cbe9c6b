// The presentation program's string table: every text of the program and its
// areas (card tools, slide show, conversion, still pictures), one name for
// each number. The program loads the table at start-up; code that runs
// without it (the engines in tests) gets the same texts from here.
#pragma once

#include <string>

#include "Platform/Types.h"

constexpr UINT IDS_OPEN_ERROR = 131;               // "Unable to open file. "
constexpr UINT IDS_LOADLIB_ERROR = 132;            // "Unable to load %s. "
constexpr UINT IDS_INTERNAL_ERROR = 133;           // "An internal error had occurred."
constexpr UINT IDS_NO_MAIN_UNIT = 134;             // "Unable to use the main unit.  Please confirm ..."
constexpr UINT IDS_NO_SOURCE_FILE = 135;           // "The source file or folder is not specified."
constexpr UINT IDS_BAD_SOURCE_FILE = 136;          // "The source file or folder is not available."
constexpr UINT IDS_NO_DESTINATION = 137;           // "The destination is not specified."
constexpr UINT IDS_OTHER_USER = 138;               // "Fotavi or Tiryx TWAIN DS is already used by the other user."
constexpr UINT IDS_BAD_FOLDER_NAME = 139;          // "Unable to use the specified folder name."
constexpr UINT IDS_DELETE_FOLDER_QUESTION = 140;   // "Delete the folder '%s'?"
constexpr UINT IDS_LOCKED_IMAGE = 141;             // "Unable to read locked image."
constexpr UINT IDS_NO_SOURCE_FOLDER = 143;         // "The source folder is not specified."
constexpr UINT IDS_BAD_SOURCE_FOLDER = 144;        // "The source folder is not available."
constexpr UINT IDS_NO_DESTINATION_FOLDER = 145;    // "The destination folder is not specified."
constexpr UINT IDS_CREATE_FOLDER_QUESTION = 148;   // "The specified destination folder does not exist.\nCreate Folder?"
constexpr UINT IDS_FILE_EXISTS = 149;              // "File already exists in the output folder."
constexpr UINT IDS_INVALID_FILE_TYPE = 150;        // "Invalid file type."
constexpr UINT IDS_OUTPUT_FOLDER_NA = 151;         // "The output folder is not available."
constexpr UINT IDS_SAME_FOLDER = 154;              // "The input and output folder must not be the same."
constexpr UINT IDS_STILL_ERROR = 155;              // "Unable to acquire still image."
constexpr UINT IDS_LIVE_ERROR = 156;               // "Unable to acquire live-monitor image."
constexpr UINT IDS_NO_RESOURCE = 157;              // "Insufficient system resource for execution. ..."
constexpr UINT IDS_SAVE_ERROR = 158;               // "Unable to save file."
constexpr UINT IDS_SAVE_QUESTION = 159;            // "Save changes to the document %s before closing?"
// 160, "The specified file is not available.", is the shared components'
// IDS_FILE_NOT_AVAILABLE (Common/StringTable.h).
constexpr UINT IDS_LIVE_DRAW_ERROR = 161;          // "Unable to display live-monitor image."
constexpr UINT IDS_INIT_ERROR = 163;               // "Unable to initialize application.Closing application."
constexpr UINT IDS_CREATE_FOLDER_FAILED = 164;     // "Unable to create folder."
constexpr UINT IDS_DELETE_FOLDER_FAILED = 165;     // "Unable to delete folder."
constexpr UINT IDS_SD_TRANSFER_FAILED = 166;       // "Unable to transfer file to SD memory."
constexpr UINT IDS_NO_SDCARD = 167;                // "SD memory card is not inserted."
constexpr UINT IDS_SD_OVER_2M = 169;               // "Unable to transfer image over 2M to SD memory."
constexpr UINT IDS_SD_FULL = 170;                  // "Insufficient capacity of SD memory."
constexpr UINT IDS_CONVERT_FAILED = 171;           // "Unable to convert file."
constexpr UINT IDS_SD_BAD_FILE_NAME = 172;         // "Invalid file name in SD memory."
constexpr UINT IDS_PRESS_ESC = 173;                // "Press ESC key to cancel"
constexpr UINT IDS_SD_ACCESS = 174;                // "Unable to access to SD memory."
constexpr UINT IDS_NAME_TOO_LONG = 175;            // "The file name is too long."
constexpr UINT IDS_CANCELED = 176;                 // "Operation was canceled."
constexpr UINT IDS_NOTHING_TO_CONVERT = 177;       // "There is no file that can be converted."
constexpr UINT IDS_ALREADY_LAUNCHED = 178;         // "Fotavi or Tiryx TWAIN DS is already launched."
constexpr UINT IDS_NOTHING_TO_TRANSFER = 179;      // "There is no file that can be transferred."
constexpr UINT IDS_SAME_FILE_NAME = 180;           // "The same file name exists in '%s' and '%s'."
constexpr UINT IDS_APP_TITLE = 57344;              // "Fotavi for Presentation"
constexpr UINT IDS_READY = 57345;                  // "Ready"
constexpr UINT IDS_PROGRESS_SLOT = 59143;          // 39 blanks: the progress bar's slot in the status bar
constexpr UINT IDS_READING_IMAGES = 59144;         // "Reading Images..."
constexpr UINT IDS_COUNT_SLOT = 59145;             // "9999/9999"
constexpr UINT IDS_NO_DEVICE = 59147;              // "Unable to use the main unit."

// The text of `id`: the program's table, else the text above.
std::string FotaviText(UINT id);
// Fills the program's table with every text above (and sets the program's
// title).
void LoadFotaviStrings();
// printf-style "%s" replacement: at most two strings, taken literally.
std::string FormatFotaviText(const std::string& format, const std::string& first,
                             const std::string& second = {});

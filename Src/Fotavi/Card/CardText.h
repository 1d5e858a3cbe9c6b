// Texts, ids and messages of the card tools (browse, transfer, viewer,
// thumbnails). The texts live in the program's string table; the card tools
// add their own entries and fall back on them when the table lacks one.
#pragma once

#include <string>

#include "Platform/Types.h"

// ------------------------------------------------------------ strings
constexpr UINT IDS_CARD_OPEN_ERROR = 131;          // "Unable to open file. "
constexpr UINT IDS_CARD_INTERNAL_ERROR = 133;      // "An internal error had occurred."
constexpr UINT IDS_CARD_BAD_FOLDER_NAME = 139;     // "Unable to use the specified folder name."
constexpr UINT IDS_CARD_DELETE_QUESTION = 140;     // "Delete the folder '%s'?"
constexpr UINT IDS_CARD_LOCKED = 141;              // "Unable to read locked image."
constexpr UINT IDS_CARD_NO_SOURCE = 143;           // "The source folder is not specified."
constexpr UINT IDS_CARD_BAD_SOURCE = 144;          // "The source folder is not available."
constexpr UINT IDS_CARD_NO_DESTINATION = 145;      // "The destination folder is not specified."
constexpr UINT IDS_CARD_NO_RESOURCE = 157;         // "Insufficient system resource ..."
constexpr UINT IDS_CARD_CREATE_FAILED = 164;       // "Unable to create folder."
constexpr UINT IDS_CARD_DELETE_FAILED = 165;       // "Unable to delete folder."
constexpr UINT IDS_CARD_TRANSFER_FAILED = 166;     // "Unable to transfer file to SD memory."
constexpr UINT IDS_CARD_NOT_INSERTED = 167;        // "SD memory card is not inserted."
constexpr UINT IDS_CARD_TOO_LARGE = 169;           // "Unable to transfer image over 2M to SD memory."
constexpr UINT IDS_CARD_FULL = 170;                // "Insufficient capacity of SD memory."
constexpr UINT IDS_CARD_BAD_FILE_NAME = 172;       // "Invalid file name in SD memory."
constexpr UINT IDS_CARD_PRESS_ESC = 173;           // "Press ESC key to cancel"
constexpr UINT IDS_CARD_ACCESS = 174;              // "Unable to access to SD memory."
constexpr UINT IDS_CARD_NAME_TOO_LONG = 175;       // "The file name is too long."
constexpr UINT IDS_CARD_CANCELED = 176;            // "Operation was canceled."
constexpr UINT IDS_CARD_NOTHING_TO_SEND = 179;     // "There is no file that can be transferred."
constexpr UINT IDS_CARD_SAME_NAME = 180;           // "The same file name exists in '%s' and '%s'."
constexpr UINT IDS_CARD_PROGRESS_SLOT = 59143;     // 39 blanks: the progress bar's slot
constexpr UINT IDS_CARD_READING = 59144;           // "Reading Images..."
constexpr UINT IDS_CARD_COUNT_SLOT = 59145;        // "9999/9999"
constexpr UINT IDS_CARD_APP_TITLE = 57344;

// ------------------------------------------------------------ messages
constexpr UINT WM_SDTREE_INIT = 0x420;
constexpr UINT WM_SDTREE_REFRESH = 0x422;
constexpr UINT WM_THUMB_LOAD = 0x450;      // wParam: fresh start (the tree's refresh flag)
constexpr UINT WM_THUMB_BEGIN = 0x451;     // wParam: count
constexpr UINT WM_THUMB_PROGRESS = 0x452;  // wParam: count, lParam: done
constexpr UINT WM_THUMB_END = 0x453;
constexpr UINT WM_THUMB_CANCEL = 0x454;

// ------------------------------------------------------------ limits
// Files written to the card stay below this size.
constexpr DWORD CARD_FILE_SIZE_LIMIT = 0x200000;  // 2,097,152 bytes
// Thumbnails: size and cache quality.
constexpr int THUMB_WIDTH = 100;
constexpr int THUMB_HEIGHT = 75;
constexpr int THUMB_CACHE_QUALITY = 75;
// The work folder's name under the user's private work folder.
constexpr const char* CARD_WORK_FOLDER_NAME = "FotaviK27_Cache";

// The text of a string id of the card tools (the program's table first).
std::string CardString(UINT id);
// Adds the card tools' texts to the program's string table (ids it lacks).
void LoadCardStrings();
// printf-style "%s" replacement, at most two strings, taken literally.
std::string CardFormat(const std::string& format, const std::string& first, const std::string& second = {});

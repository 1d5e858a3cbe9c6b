// Texts of the conversion, by string number. They come from the program's
// string table when it holds them, else from the texts here.
#pragma once

#include <string>

#include "Platform/Types.h"

constexpr UINT IDS_CNV_INTERNAL_ERROR = 133;   // "An internal error had occurred."
constexpr UINT IDS_CNV_NO_MAIN_UNIT = 134;     // "Unable to use the main unit.  Please confirm ..."
constexpr UINT IDS_CNV_NO_SOURCE = 135;        // "The source file or folder is not specified."
constexpr UINT IDS_CNV_BAD_SOURCE = 136;       // "The source file or folder is not available."
constexpr UINT IDS_CNV_NO_DESTINATION = 137;   // "The destination is not specified."
constexpr UINT IDS_CNV_LOCKED_IMAGE = 141;     // "Unable to read locked image."
constexpr UINT IDS_CNV_CREATE_QUESTION = 148;  // "The specified destination folder does not exist.\nCreate Folder?"
constexpr UINT IDS_CNV_FILE_EXISTS = 149;      // "File already exists in the output folder."
constexpr UINT IDS_CNV_INVALID_TYPE = 150;     // "Invalid file type."
constexpr UINT IDS_CNV_OUTPUT_NA = 151;        // "The output folder is not available."
constexpr UINT IDS_CNV_SAME_FOLDER = 154;      // "The input and output folder must not be the same."
constexpr UINT IDS_CNV_NO_RESOURCE = 157;      // "Insufficient system resource for execution. ..."
constexpr UINT IDS_CNV_CREATE_FAILED = 164;    // "Unable to create folder."
constexpr UINT IDS_CNV_SD_TRANSFER = 166;      // "Unable to transfer file to SD memory."
constexpr UINT IDS_CNV_OVER_2M = 169;          // "Unable to transfer image over 2M to SD memory."
constexpr UINT IDS_CNV_SD_FULL = 170;          // "Insufficient capacity of SD memory."
constexpr UINT IDS_CNV_CONVERT_FAILED = 171;   // "Unable to convert file."
constexpr UINT IDS_CNV_NAME_TOO_LONG = 175;    // "The file name is too long."
constexpr UINT IDS_CNV_CANCELED = 176;         // "Operation was canceled."
constexpr UINT IDS_CNV_NO_FILES = 177;         // "There is no file that can be converted."

// The text of a conversion string: the table's, else the built-in one.
std::string ConvertText(UINT id);
// Puts the conversion's texts into the program's string table.
void LoadConvertStrings();

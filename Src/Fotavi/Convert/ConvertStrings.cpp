#include "ConvertStrings.h"

#include <utility>

#include "Common/StringTable.h"

namespace {

constexpr std::pair<UINT, const char*> kTexts[] = {
    {IDS_CNV_INTERNAL_ERROR, "An internal error had occurred."},
    {IDS_CNV_NO_MAIN_UNIT, "Unable to use the main unit.  Please confirm the power supply or the connection."},
    {IDS_CNV_NO_SOURCE, "The source file or folder is not specified."},
    {IDS_CNV_BAD_SOURCE, "The source file or folder is not available."},
    {IDS_CNV_NO_DESTINATION, "The destination is not specified."},
    {IDS_CNV_LOCKED_IMAGE, "Unable to read locked image."},
    {IDS_CNV_CREATE_QUESTION, "The specified destination folder does not exist.\nCreate Folder?"},
    {IDS_CNV_FILE_EXISTS, "File already exists in the output folder."},
    {IDS_CNV_INVALID_TYPE, "Invalid file type."},
    {IDS_CNV_OUTPUT_NA, "The output folder is not available."},
    {IDS_CNV_SAME_FOLDER, "The input and output folder must not be the same."},
    {IDS_CNV_NO_RESOURCE, "Insufficient system resource for execution.\nPlease close other applications and try again."},
    {IDS_CNV_CREATE_FAILED, "Unable to create folder."},
    {IDS_CNV_SD_TRANSFER, "Unable to transfer file to SD memory."},
    {IDS_CNV_OVER_2M, "Unable to transfer image over 2M to SD memory."},
    {IDS_CNV_SD_FULL, "Insufficient capacity of SD memory."},
    {IDS_CNV_CONVERT_FAILED, "Unable to convert file."},
    {IDS_CNV_NAME_TOO_LONG, "The file name is too long."},
    {IDS_CNV_CANCELED, "Operation was canceled."},
    {IDS_CNV_NO_FILES, "There is no file that can be converted."},
};

}  // namespace

std::string ConvertText(UINT id) {
  for (const auto& [number, text] : kTexts) {
    if (number == id) return LoadStringText(id, text);
  }
  return LoadStringText(id);
}

void LoadConvertStrings() {
  for (const auto& [number, text] : kTexts) {
    if (LoadStringText(number).empty()) SetStringTableEntry(number, text);
  }
}

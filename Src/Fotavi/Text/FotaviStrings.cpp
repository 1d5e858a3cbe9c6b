#include "FotaviStrings.h"

#include <utility>

#include "Common/StringTable.h"

namespace {

constexpr std::pair<UINT, const char*> kTexts[] = {
    {IDS_OPEN_ERROR, "Unable to open file. "},
    {IDS_LOADLIB_ERROR, "Unable to load %s. "},
    {IDS_INTERNAL_ERROR, "An internal error had occurred."},
    {IDS_NO_MAIN_UNIT, "Unable to use the main unit.  Please confirm the power supply or the connection."},
    {IDS_NO_SOURCE_FILE, "The source file or folder is not specified."},
    {IDS_BAD_SOURCE_FILE, "The source file or folder is not available."},
    {IDS_NO_DESTINATION, "The destination is not specified."},
    {IDS_OTHER_USER, "Fotavi or Tiryx TWAIN DS is already used by the other user."},
    {IDS_BAD_FOLDER_NAME, "Unable to use the specified folder name."},
    {IDS_DELETE_FOLDER_QUESTION, "Delete the folder '%s'?"},
    {IDS_LOCKED_IMAGE, "Unable to read locked image."},
    {IDS_NO_SOURCE_FOLDER, "The source folder is not specified."},
    {IDS_BAD_SOURCE_FOLDER, "The source folder is not available."},
    {IDS_NO_DESTINATION_FOLDER, "The destination folder is not specified."},
    {IDS_CREATE_FOLDER_QUESTION, "The specified destination folder does not exist.\nCreate Folder?"},
    {IDS_FILE_EXISTS, "File already exists in the output folder."},
    {IDS_INVALID_FILE_TYPE, "Invalid file type."},
    {IDS_OUTPUT_FOLDER_NA, "The output folder is not available."},
    {IDS_SAME_FOLDER, "The input and output folder must not be the same."},
    {IDS_STILL_ERROR, "Unable to acquire still image."},
    {IDS_LIVE_ERROR, "Unable to acquire live-monitor image."},
    {IDS_NO_RESOURCE, "Insufficient system resource for execution.\nPlease close other applications and try again."},
    {IDS_SAVE_ERROR, "Unable to save file."},
    {IDS_SAVE_QUESTION, "Save changes to the document %s before closing?"},
    {IDS_FILE_NOT_AVAILABLE, "The specified file is not available."},
    {IDS_LIVE_DRAW_ERROR, "Unable to display live-monitor image."},
    {IDS_INIT_ERROR, "Unable to initialize application.Closing application."},
    {IDS_CREATE_FOLDER_FAILED, "Unable to create folder."},
    {IDS_DELETE_FOLDER_FAILED, "Unable to delete folder."},
    {IDS_SD_TRANSFER_FAILED, "Unable to transfer file to SD memory."},
    {IDS_NO_SDCARD, "SD memory card is not inserted."},
    {IDS_SD_OVER_2M, "Unable to transfer image over 2M to SD memory."},
    {IDS_SD_FULL, "Insufficient capacity of SD memory."},
    {IDS_CONVERT_FAILED, "Unable to convert file."},
    {IDS_SD_BAD_FILE_NAME, "Invalid file name in SD memory."},
    {IDS_PRESS_ESC, "Press ESC key to cancel"},
    {IDS_SD_ACCESS, "Unable to access to SD memory."},
    {IDS_NAME_TOO_LONG, "The file name is too long."},
    {IDS_CANCELED, "Operation was canceled."},
    {IDS_NOTHING_TO_CONVERT, "There is no file that can be converted."},
    {IDS_ALREADY_LAUNCHED, "Fotavi or Tiryx TWAIN DS is already launched."},
    {IDS_NOTHING_TO_TRANSFER, "There is no file that can be transferred."},
    {IDS_SAME_FILE_NAME, "The same file name exists in '%s' and '%s'."},
    {IDS_APP_TITLE, "Fotavi for Presentation"},
    {IDS_READY, "Ready"},
    {IDS_PROGRESS_SLOT, "                                       "},
    {IDS_READING_IMAGES, "Reading Images..."},
    {IDS_COUNT_SLOT, "9999/9999"},
    {IDS_NO_DEVICE, "Unable to use the main unit."},
};

const char* BuiltIn(UINT id) {
  for (const auto& [number, text] : kTexts)
    if (number == id) return text;
  return "";
}

}  // namespace

std::string FotaviText(UINT id) { return LoadStringText(id, BuiltIn(id)); }

void LoadFotaviStrings() {
  SetApplicationTitle(BuiltIn(IDS_APP_TITLE));
  for (const auto& [number, text] : kTexts) SetStringTableEntry(number, text);
}

std::string FormatFotaviText(const std::string& format, const std::string& first, const std::string& second) {
  std::string out;
  int used = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && used < 2) {
      out += used == 0 ? first : second;
      ++used;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

#include "CardText.h"

#include <utility>

#include "Common/StringTable.h"

namespace {

const std::pair<UINT, const char*> kTexts[] = {
    {IDS_CARD_OPEN_ERROR, "Unable to open file. "},
    {IDS_CARD_INTERNAL_ERROR, "An internal error had occurred."},
    {IDS_CARD_BAD_FOLDER_NAME, "Unable to use the specified folder name."},
    {IDS_CARD_DELETE_QUESTION, "Delete the folder '%s'?"},
    {IDS_CARD_LOCKED, "Unable to read locked image."},
    {IDS_CARD_NO_SOURCE, "The source folder is not specified."},
    {IDS_CARD_BAD_SOURCE, "The source folder is not available."},
    {IDS_CARD_NO_DESTINATION, "The destination folder is not specified."},
    {IDS_CARD_NO_RESOURCE,
     "Insufficient system resource for execution.\nPlease close other applications and try again."},
    {IDS_CARD_CREATE_FAILED, "Unable to create folder."},
    {IDS_CARD_DELETE_FAILED, "Unable to delete folder."},
    {IDS_CARD_TRANSFER_FAILED, "Unable to transfer file to SD memory."},
    {IDS_CARD_NOT_INSERTED, "SD memory card is not inserted."},
    {IDS_CARD_TOO_LARGE, "Unable to transfer image over 2M to SD memory."},
    {IDS_CARD_FULL, "Insufficient capacity of SD memory."},
    {IDS_CARD_BAD_FILE_NAME, "Invalid file name in SD memory."},
    {IDS_CARD_PRESS_ESC, "Press ESC key to cancel"},
    {IDS_CARD_ACCESS, "Unable to access to SD memory."},
    {IDS_CARD_NAME_TOO_LONG, "The file name is too long."},
    {IDS_CARD_CANCELED, "Operation was canceled."},
    {IDS_CARD_NOTHING_TO_SEND, "There is no file that can be transferred."},
    {IDS_CARD_SAME_NAME, "The same file name exists in '%s' and '%s'."},
    {IDS_CARD_PROGRESS_SLOT, "                                       "},
    {IDS_CARD_READING, "Reading Images..."},
    {IDS_CARD_COUNT_SLOT, "9999/9999"},
    {IDS_CARD_APP_TITLE, "Fotavi for Presentation"},
};

const char* BuiltIn(UINT id) {
  for (const auto& [key, text] : kTexts)
    if (key == id) return text;
  return "";
}

}  // namespace

std::string CardString(UINT id) { return LoadStringText(id, BuiltIn(id)); }

void LoadCardStrings() {
  for (const auto& [key, text] : kTexts) {
    if (LoadStringText(key, "\x01") == "\x01") SetStringTableEntry(key, text);
  }
}

std::string CardFormat(const std::string& format, const std::string& first, const std::string& second) {
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

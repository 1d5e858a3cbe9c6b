#include "MovStrings.h"

#include <utility>

#include "Common/StringTable.h"

namespace {
constexpr std::pair<UINT, const char*> kMovTexts[] = {
    {IDS_MOV_OPEN_ERROR, "Unable to open file."},
    {IDS_MOV_SAVE_ERROR, "Unable to save file."},
    {IDS_MOV_NO_RESOURCES,
     "Insufficient system resources for execution.\nPlease close other applications and try again."},
    {IDS_MOV_INVALID_FILE, "Invalid file type."},
    {IDS_MOV_PLAY_ERROR, "Unable to play movie."},
    {IDS_MOV_PAUSE_ERROR, "Unable to pause movie."},
    {IDS_MOV_STOP_ERROR, "Unable to stop movie."},
    {IDS_MOV_PROFILE_ERROR, "Unable to read profile file.\nPlease check the environment."},
    {IDS_MOV_FILE_LIMIT, "The number of files reached the upper bound. "},
    {IDS_MOV_INTERNAL_ERROR, "An Internal Error has occurred."},
};

const char* OwnText(UINT id) {
  for (const auto& [number, text] : kMovTexts) {
    if (number == id) return text;
  }
  return "";
}
}  // namespace

void LoadFotaviMovStrings() {
  for (const auto& [number, text] : kMovTexts) SetStringTableEntry(number, text);
}

std::string MovString(UINT id) { return LoadStringText(id, OwnText(id)); }

#include "MovStrings.h"

#include <utility>

#include "Common/StringTable.h"

namespace {
constexpr std::pair<UINT, const char*> kMovTexts[] = {
    {IDS_MOV_DOCSTRINGS, "Fotavi for Movie Creation\n\nFotaviMov\n\n\nFotaviMov.Document\nFotaviMov.Document"},
    {IDS_MOV_OPEN_ERROR, "Unable to open file."},
    {IDS_MOV_SAVE_ERROR, "Unable to save file."},
    {IDS_MOV_NO_RESOURCES, "Insufficient system resources for execution.\nPlease close other applications and try again."},
    {IDS_MOV_OTHER_USER, "Fotavi or Tiryx TWAIN DS is already used by the other user."},
    {IDS_MOV_INIT_ERROR, "Unable to initialize.\nClosing this application."},
    {IDS_MOV_INVALID_FILE, "Invalid file type."},
    {IDS_MOV_PLAY_ERROR, "Unable to play movie."},
    {IDS_MOV_PAUSE_ERROR, "Unable to pause movie."},
    {IDS_MOV_STOP_ERROR, "Unable to stop movie."},
    {IDS_MOV_PROFILE_ERROR, "Unable to read profile file.\nPlease check the environment."},
    {IDS_MOV_LIVE_ERROR, "Unable to acquire live-monitor image."},
    {IDS_MOV_LOADLIB_ERROR, "Unable to load %s."},
    {IDS_MOV_RECORDING, "Recording ..."},
    {IDS_MOV_STATUS_PANE, "                                        "},
    {IDS_MOV_NO_DEVICE, "Unable to use the main unit."},
    {IDS_MOV_FILE_LIMIT, "The number of files reached the upper bound. "},
    {IDS_MOV_ALREADY_LAUNCHED, "Fotavi or Tiryx TWAIN DS is already launched."},
    {IDS_MOV_INVALID_VALUE, "Invalid value (The value of %s is invalid.)"},
    {IDS_MOV_SPECIFY_VALUE, "Please specify the value of %s. "},
    {IDS_MOV_SPLIT_TOO_SMALL, "The maximum size of the divided file is too small.\nPlease input a value of 100 or more."},
    {IDS_MOV_OVERWRITE, "The specified file already exists. May I overwrite?"},
    {IDS_MOV_SPLIT_TOO_LARGE, "The maximum size of the divided file is too large.\nPlease input a value of less than 1024."},
    {IDS_MOV_FIELD_OUTPUT, "Output file name"},
    {IDS_MOV_FIELD_SPLIT, "Maximum divided file size"},
    {IDS_MOV_FIELD_RATE, "Frame rate"},
    {IDS_MOV_FIELD_CAPACITY, "Recording capacity"},
    {IDS_MOV_FIELD_QUALITY, "Video quality"},
    {IDS_MOV_FIELD_MINUTES, "Recording time (minutes)"},
    {IDS_MOV_FIELD_SECONDS, "Recording time (seconds)"},
    {IDS_MOV_INTERNAL_ERROR, "An Internal Error has occurred."},
    {IDS_MOV_TITLE, "Fotavi for Movie Creation"},
    {IDS_MOV_READY, "Ready"},
};

const char* OwnText(UINT id) {
  for (const auto& [number, text] : kMovTexts) {
    if (number == id) return text;
  }
  return "";
}
}  // namespace

void LoadFotaviMovStrings() {
  SetApplicationTitle(OwnText(IDS_MOV_TITLE));
  for (const auto& [number, text] : kMovTexts) SetStringTableEntry(number, text);
}

std::string MovString(UINT id) { return LoadStringText(id, OwnText(id)); }

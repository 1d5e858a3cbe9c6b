// The movie program's string table.
#include "Common/StringTable.h"
#include "MovApp.h"

void LoadMovStrings() {
  SetApplicationTitle("Fotavi for Movie Creation");
  SetStringTableEntries({
      {128, "Fotavi for Movie Creation\n\nFotaviMov\n\n\nFotaviMov.Document\nFotaviMov.Document"},
      {131, "Unable to open file."},
      {132, "Unable to save file."},
      {133, "Insufficient system resources for execution.\nPlease close other applications and try again."},
      {134, "Fotavi or Tiryx TWAIN DS is already used by the other user."},
      {135, "Unable to initialize.\nClosing this application."},
      {136, "Invalid file type."},
      {137, "Unable to play movie."},
      {138, "Unable to pause movie."},
      {139, "Unable to stop movie."},
      {140, "Unable to read profile file.\nPlease check the environment."},
      {141, "Unable to acquire live-monitor image."},
      {142, "Unable to load %s."},
      {145, "Recording ..."},
      {146, "                                        "},
      {147, "Unable to use the main unit."},
      {148, "The number of files reached the upper bound. "},
      {149, "Fotavi or Tiryx TWAIN DS is already launched."},
      {160, "The specified file is not available."},
      {201, "Invalid value (The value of %s is invalid.)"},
      {202, "Please specify the value of %s. "},
      {203, "The maximum size of the divided file is too small.\nPlease input a value of 100 or more."},
      {205, "The specified file already exists. May I overwrite?"},
      {206, "The maximum size of the divided file is too large.\nPlease input a value of less than 1024."},
      {500, "Output file name"},
      {502, "Maximum divided file size"},
      {505, "Frame rate"},
      {508, "Recording capacity"},
      {509, "Video quality"},
      {510, "Recording time (minutes)"},
      {511, "Recording time (seconds)"},
      {999, "An Internal Error has occurred."},
      {57344, "Fotavi for Movie Creation"},
      {57345, "Ready"},
  });
}

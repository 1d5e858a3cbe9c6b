// The presentation program's string table.
#include "Common/StringTable.h"
#include "App/FotaviApp.h"

void LoadFotaviStrings() {
  SetApplicationTitle("Fotavi for Presentation");
  SetStringTableEntries({
      {57344, "Fotavi for Presentation"},
      {57345, "Ready"},
      {59147, "Unable to use the main unit."},
      {131, "Unable to open file. "},
      {132, "Unable to load %s. "},
      {133, "An internal error had occurred."},
      {138, "Fotavi or Tiryx TWAIN DS is already used by the other user."},
      {155, "Unable to acquire still image."},
      {156, "Unable to acquire live-monitor image."},
      {157, "Insufficient system resource for execution.\nPlease close other applications and try again."},
      {160, "The specified file is not available."},
      {161, "Unable to display live-monitor image."},
      {163, "Unable to initialize application.Closing application."},
      {167, "SD memory card is not inserted."},
      {174, "Unable to access to SD memory."},
      {178, "Fotavi or Tiryx TWAIN DS is already launched."},
  });
}

// The conversion's entry into the program (start-up, RegisterProgramParts):
// registers "File Conversion" with the main frame, which holds the live
// monitor around the modal dialog.
#pragma once

void RegisterConvertParts();

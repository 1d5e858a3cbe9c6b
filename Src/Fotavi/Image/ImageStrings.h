// The still-image windows' save modes and message box (their texts are the
// program's: Text/FotaviStrings.h).
#pragma once

#include "Platform/Types.h"
#include "Text/FotaviStrings.h"

// DoSaveFile modes.
constexpr int SAVEMODE_SAVE = 0;
constexpr int SAVEMODE_SAVEAS = 1;

// Shows a still-image message: the program's text of `id`.
int ImageMessageBox(UINT id);

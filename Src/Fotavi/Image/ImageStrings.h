// Texts of the still-image windows (string table numbers and the texts used
// when the table has none).
#pragma once

#include "Platform/Types.h"

constexpr UINT IDS_SAVE_ERROR = 158;
constexpr const char* kSaveErrorText = "Unable to save file.";
constexpr UINT IDS_SAVE_QUESTION = 159;
constexpr const char* kSaveQuestionText = "Save changes to the document %s before closing?";

// DoSaveFile modes.
constexpr int SAVEMODE_SAVE = 0;
constexpr int SAVEMODE_SAVEAS = 1;

// Shows a still-image message: the table's text of `id`, else `fallback`.
int ImageMessageBox(UINT id, const char* fallback);

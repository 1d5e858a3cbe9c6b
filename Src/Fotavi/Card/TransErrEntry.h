// Error entries of the batch operations (transfer, thumbnails, conversion):
// each is a zero-filled 1,040-byte global block with two 260-character wide
// fields, the file name and then the message. A list keeps them in the order
// they were added; the batch that made them frees them.
#pragma once

#include <string>
#include <vector>

#include "Platform/Types.h"

constexpr size_t TRANSERR_FIELD_CHARS = 260;
constexpr size_t TRANSERR_ENTRY_SIZE = 2 * TRANSERR_FIELD_CHARS * sizeof(char16_t);  // 1040

using CErrorList = std::vector<HGLOBAL>;

// Makes an entry and appends it. FALSE (nothing appended) when the block
// cannot be made. Each text is cut to 259 characters.
BOOL AddTransErrEntry(const std::string& message, const std::string& fileName, CErrorList* list);
std::string TransErrFileName(HGLOBAL entry);
std::string TransErrMessage(HGLOBAL entry);
// Frees every entry and empties the list.
void FreeTransErrList(CErrorList* list);

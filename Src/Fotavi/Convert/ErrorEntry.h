// Error entries of a batch (conversion, transfer, thumbnail loading): one
// zero-filled global memory block of 1,040 bytes per failed file, holding the
// file name and then the message, each a zero-terminated UTF-16 string in a
// field of 260 characters (so at most 259 characters each; longer texts are
// cut at a character boundary). The batch that makes the entries frees them.
#pragma once

#include <string>
#include <vector>

#include "Platform/Types.h"

constexpr size_t ERROR_ENTRY_FIELD_CHARS = 260;
constexpr size_t ERROR_ENTRY_SIZE = 2 * ERROR_ENTRY_FIELD_CHARS * sizeof(char16_t);  // 1040
static_assert(ERROR_ENTRY_SIZE == 1040);

// Entries in the order they were added.
using ErrorEntryList = std::vector<HGLOBAL>;

// Makes one entry and appends it. FALSE (list unchanged) when the block
// cannot be allocated.
BOOL AddErrorEntry(ErrorEntryList* list, const std::string& fileName, const std::string& message);
// The two texts of an entry (UTF-8); empty for an unknown block.
std::string ErrorEntryFileName(HGLOBAL entry);
std::string ErrorEntryMessage(HGLOBAL entry);
// Frees every entry's block and empties the list.
void FreeErrorEntries(ErrorEntryList* list);

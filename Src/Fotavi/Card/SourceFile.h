// Reading a file of this computer that is to be written to the card: the card
// transfer's and the conversion's one rule. Only a regular file is read, its
// opening never blocks, and it must be smaller than the card's 2 MB limit.
#pragma once

#include <string>

#include "Platform/Types.h"

enum class SourceFileRead { Ok, OpenFailed, TooLarge, NoMemory, ShortRead };

// The whole file in a new global block (*block, *size), or why not. On any
// result but Ok nothing is handed out.
SourceFileRead ReadCardSourceFile(const std::string& path, HGLOBAL* block, DWORD* size);

// The limits of what goes to and comes from the camera's card.
#pragma once

#include "Platform/Types.h"

// Files written to the card stay below this size.
constexpr DWORD CARD_FILE_SIZE_LIMIT = 0x200000;  // 2,097,152 bytes
// A card path is at most FOTAVI_PATH_MAX_CHARS (32) bytes in the card's code
// page: the device library's limit (Driver/FotaviZ5.dll/FotaviZ5.h).
// Thumbnails: size and cache quality.
constexpr int THUMB_WIDTH = 100;
constexpr int THUMB_HEIGHT = 75;
constexpr int THUMB_CACHE_QUALITY = 75;

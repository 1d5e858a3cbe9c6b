// The program's work folder and the thumbnail caches inside it, and the
// checks on the computer's folders that the card tools make.
#pragma once

#include <string>

#include "Platform/Types.h"

// The name of the work folder shared by the card tools and the conversion.
constexpr const char* CARD_WORK_FOLDER_NAME = "FotaviK27_Cache";
// The work folder "FotaviK27_Cache" under the user's private work folder;
// empty when the user has no private work folder (nothing is then cached:
// a shared temporary folder is never used).
std::string GetCardWorkFolder();
// The cache name of a card folder: its path without ":", "\" (and "/").
// "C:\DCIM\100ABCDE" gives "CDCIM100ABCDE".
std::string CacheNameOf(const std::string& sdFolder);
// True when a file or folder exists at `path` on this computer.
bool LocalPathExists(const std::string& path);
bool IsLocalFolder(const std::string& path);
// Removes a folder of this computer with everything in it (links removed, never followed); 1.
int RemoveLocalFolder(const std::string& path);
// Makes the folder (and its parent, the work folder) when missing, private
// to the user; true when it exists afterwards.
bool CreateCacheFolder(const std::string& root, const std::string& cacheName);

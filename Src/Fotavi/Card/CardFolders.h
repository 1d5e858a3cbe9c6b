// The program's work folder and the thumbnail caches inside it, and the
// checks on the computer's folders that the card tools make.
#pragma once

#include <string>

#include "Platform/Types.h"

// The work folder "FotaviK27_Cache" under the user's private work folder;
// empty when the user has no private work folder (nothing is then cached:
// a shared temporary folder is never used).
std::string GetCardWorkFolder();
// The cache name of a card folder: its path without ":", "\" (and "/").
// "C:\DCIM\100ABCDE" gives "CDCIM100ABCDE".
std::string CacheNameOf(const std::string& sdFolder);
// True when a file or folder exists at `path`.
bool CardPathExists(const std::string& path);
bool IsLocalFolder(const std::string& path);
// Removes the folder with everything in it (links removed, never followed); 1.
int RemoveCardFolder(const std::string& path);
// Makes the folder (and its parent, the work folder) when missing, private
// to the user; true when it exists afterwards.
bool CreateCacheFolder(const std::string& root, const std::string& cacheName);

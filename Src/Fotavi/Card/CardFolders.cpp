#include "CardFolders.h"

#include <sys/stat.h>

#include "Common/CommonFunc.h"
#include "Platform/Paths.h"

std::string GetCardWorkFolder() {
  const std::string base = GetPrivateWorkFolder();
  if (base.empty()) return {};
  return AddBackslash(base) + CARD_WORK_FOLDER_NAME;
}

std::string CacheNameOf(const std::string& sdFolder) {
  std::string name;
  for (char c : sdFolder)
    if (c != ':' && c != '\\' && c != '/') name += c;
  if (name == "." || name == "..") name.clear();
  return name;
}

bool LocalPathExists(const std::string& path) {
  struct stat st;
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

bool IsLocalFolder(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int RemoveLocalFolder(const std::string& path) {
  if (!path.empty()) DeleteFolder(path);
  return 1;
}

bool CreateCacheFolder(const std::string& root, const std::string& cacheName) {
  if (root.empty() || cacheName.empty()) return false;
  const std::string folder = root + "/" + cacheName;
  if (IsLocalFolder(folder)) return true;
  if (!IsLocalFolder(root) && mkdir(root.c_str(), 0700) != 0 && !IsLocalFolder(root)) return false;
  return mkdir(folder.c_str(), 0700) == 0 || IsLocalFolder(folder);
}

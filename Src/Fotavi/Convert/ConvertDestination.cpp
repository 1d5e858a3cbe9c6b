#include "ConvertDestination.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>

#include "Common/CommonFunc.h"
#include "Text/FotaviStrings.h"

namespace {

bool EqualsNoCase(const std::string& a, size_t pos, const char* b) {
  for (size_t i = 0; b[i]; ++i) {
    if (pos + i >= a.size()) return false;
    if (std::toupper(static_cast<unsigned char>(a[pos + i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

int TransferCodeForStatus(DWORD status) {
  switch (status) {
    case 0: return TRANSFER_OK;
    case 1: return TRANSFER_NO_UNIT;
    case 8: return TRANSFER_LOCKED;
    case 512: return TRANSFER_CARD_FULL;
    case 0x80000000u: return TRANSFER_NO_REPLY;
    default: return TRANSFER_UNKNOWN_STATUS;
  }
}

std::string ConvertFileName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "IMAG%04d.jpg", number);
  return name;
}

CLocalDestination::CLocalDestination(const std::string& folder) : m_strFolder(AddBackslash(folder)) {}

int CLocalDestination::GetMaxLocalNumber(const std::string& folder) {
  const std::string base = AddBackslash(folder);
  DIR* dir = ::opendir(base.c_str());
  if (!dir) return 0;
  int highest = 0;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() != 12 || !EqualsNoCase(name, 0, "IMAG") || !EqualsNoCase(name, 8, ".JPG")) continue;
    struct stat st;
    if (::stat((base + name).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    const int number = static_cast<int>(StringToUInt(name.substr(4, 4), 1, 9999));
    if (number > highest) highest = number;
  }
  ::closedir(dir);
  return highest;
}

bool CLocalDestination::GetMaxNumber(int* number, UINT*) {
  *number = GetMaxLocalNumber(m_strFolder);
  return true;
}

IConvertDestination::NameResult CLocalDestination::MakeOutputName(int number, std::string* path, UINT* message) {
  const std::string name = m_strFolder + ConvertFileName(number);
  if (WideLength(name) > OUTPUT_NAME_MAX) {
    *message = IDS_OUTPUT_FOLDER_NA;
    return NAME_STOP;
  }
  *path = name;
  return NAME_OK;
}

#include "RecSettings.h"

#include "Common/CommonFunc.h"
#include "Common/FilePath.h"
#include "Common/TraceLog.h"
#include "MovApp.h"
#include "MovResource.h"
#include "Platform/Paths.h"
#include "Platform/Settings.h"

namespace {
const std::string& RecKeyPath() {
  static const std::string path = CRegOperation::KeyPath(REG_KEY_MOVIE, REG_SECTION_RECORDING);
  return path;
}
}  // namespace

DWORD ReadRecInt(const char* name, DWORD defaultValue) {
  return CRegOperation().GetProfileInt(HKEY_CURRENT_USER, REG_KEY_MOVIE, REG_SECTION_RECORDING, name, defaultValue);
}

std::string ReadRecString(const char* name, const std::string& defaultValue) {
  return CRegOperation().GetProfileString(HKEY_CURRENT_USER, REG_KEY_MOVIE, REG_SECTION_RECORDING, name,
                                          defaultValue);
}

BOOL WriteRecInt(const char* name, DWORD value) {
  return SettingsWriteDword(HKEY_CURRENT_USER, RecKeyPath(), name, value) ? TRUE : FALSE;
}

BOOL WriteRecString(const char* name, const std::string& text) {
  return CRegOperation().WriteProfileString(HKEY_CURRENT_USER, REG_KEY_MOVIE, REG_SECTION_RECORDING, name, text);
}

uint64_t ComputeRecLimit(DWORD mode, DWORD minutes, DWORD seconds, DWORD capacityMB) {
  if (mode == RECCOND_TIME) return uint64_t{minutes} * 60 + seconds;
  if (mode == RECCOND_CAPACITY) return uint64_t{capacityMB} * MOV_MEGABYTE;
  return 0;
}

BOOL OutputSizeFor(DWORD videoSize, int cameraWidth, int cameraHeight, int* width, int* height) {
  int divisor = 0;
  switch (videoSize) {
    case VIDEOSIZE_25: divisor = 4; break;
    case VIDEOSIZE_50: divisor = 2; break;
    case VIDEOSIZE_100: divisor = 1; break;
    default: return FALSE;
  }
  *width = cameraWidth / divisor;
  *height = cameraHeight / divisor;
  return TRUE;
}

std::string GetProfilePath(DWORD videoSize) {
  static const char* const kNames[VIDEOSIZE_COUNT] = {"256-192", "512-384", "XGA"};
  if (videoSize >= VIDEOSIZE_COUNT) {
    TraceLog(TRC_MOV, "CFotaviMovDoc::GetProfile", "Invalid iVideoSize[%d]", static_cast<int>(videoSize));
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    return {};
  }
  const std::string install = GetInstallPath();
  const std::string base = install.empty() ? GetProgramPath().substr(0, MOV_PATH_MAX) : AddBackslash(install);
  std::string folder, name, ext;
  CFilePath::SplitPath(base, &folder, &name, &ext);
  return folder + "Profile/" + kNames[videoSize] + ".prx";
}

void CRecSettings::ReadFromRegistry() {
  using namespace recreg;
  strOutputFileName = ReadRecString(kOutputFileName, "output");
  strProfileFileName = ReadRecString(kProfileFileName, "SXGA-50");
  dwFrameRate = ReadRecInt(kCurrentRate, 1);
  for (int i = VIDEOSIZE_COUNT - 1; i >= 0; --i) dwAviRate[i] = ReadRecInt(kAviRate[i], 1);
  for (int i = VIDEOSIZE_COUNT - 1; i >= 0; --i) dwWmvRate[i] = ReadRecInt(kWmvRate[i], 1);
  dwMaxFileSize = ReadRecInt(kMaxFileSize, 1024);
  dwCompress = ReadRecInt(kCompress, COMPRESS_AVI);
  dwVideoSize = ReadRecInt(kVideoSize, VIDEOSIZE_50);
  dwRecCondition = ReadRecInt(kRecCondition, RECCOND_NONE);
  dwRecSecond = ReadRecInt(kRecSecond, 0);
  dwRecMinute = ReadRecInt(kRecMinute, 0);
  dwRecCapacity = ReadRecInt(kRecCapacity, 0);
  dwIsSetting = ReadRecInt(kIsSetting, 0);
  dwVideoWidth = ReadRecInt(kVideoWidth, 640);
  dwVideoHeight = ReadRecInt(kVideoHeight, 512);
  dwVideoQuality = ReadRecInt(kVideoQuality, 100);
  for (int i = VIDEOSIZE_COUNT - 1; i >= 0; --i) dwWmvQuality[i] = ReadRecInt(kWmvQuality[i], 100);
  dwMaxReqCount = ReadRecInt(kMaxReqCount, 10);
  WriteRecInt(kMaxReqCount, dwMaxReqCount);
}

BOOL CRecSettings::SetVideoSize(int cameraWidth, int cameraHeight) {
  nCameraWidth = cameraWidth;
  nCameraHeight = cameraHeight;
  int width = 0, height = 0;
  if (!OutputSizeFor(dwVideoSize, cameraWidth, cameraHeight, &width, &height)) {
    TraceLog(TRC_MOV, "CFotaviMovDoc::SetVideoSize", "Invalid m_iVideoSize[%d]", static_cast<int>(dwVideoSize));
    MovMessageBox(IDS_MOV_INTERNAL_ERROR);
    return FALSE;
  }
  dwVideoWidth = static_cast<DWORD>(width);
  dwVideoHeight = static_cast<DWORD>(height);
  const std::string profile = GetProfilePath(dwVideoSize);
  if (profile.empty()) return FALSE;
  strProfileFileName = profile;
  return TRUE;
}

uint64_t CRecSettings::GetRecLimit() {
  qwRecLimit = ComputeRecLimit(dwRecCondition, dwRecMinute, dwRecSecond, dwRecCapacity);
  return qwRecLimit;
}

void CRecSettings::SetVideoSizeTemp(int width, int height) {
  nSavedWidth = static_cast<int>(dwVideoWidth);
  nSavedHeight = static_cast<int>(dwVideoHeight);
  dwVideoWidth = static_cast<DWORD>(width);
  dwVideoHeight = static_cast<DWORD>(height);
}

void CRecSettings::RestoreVideoSize() {
  dwVideoWidth = static_cast<DWORD>(nSavedWidth);
  dwVideoHeight = static_cast<DWORD>(nSavedHeight);
}

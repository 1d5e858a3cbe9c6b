// The recording settings of the movie program as its document holds them:
// read from the user settings' "RecSection" with their defaults, the output
// size and WMV profile derived from them, and the limit of a recording.
// Plain values; the document (FotaviMovDoc.h) and the settings dialog work
// on them.
#pragma once

#include <cstdint>
#include <string>

#include "MovieDefs.h"
#include "Platform/Types.h"

// Output sizes (`VideoSize`): a quarter, half or the whole camera picture.
constexpr DWORD VIDEOSIZE_25 = 0;
constexpr DWORD VIDEOSIZE_50 = 1;
constexpr DWORD VIDEOSIZE_100 = 2;
constexpr int VIDEOSIZE_COUNT = 3;
// Writer kinds (`Compress`).
constexpr DWORD COMPRESS_AVI = 0;
constexpr DWORD COMPRESS_WMV = 1;
// Limit modes (`RecCondition`): RECCOND_NONE, RECCOND_TIME and
// RECCOND_CAPACITY of MovieDefs.h.

constexpr uint64_t MOV_MEGABYTE = 1048576;
constexpr int MOV_CAMERA_WIDTH = 1024;
constexpr int MOV_CAMERA_HEIGHT = 768;
constexpr size_t MOV_PATH_MAX = 260;

// Value names of "RecSection".
namespace recreg {
constexpr const char* kOutputFileName = "OutputFileName";
constexpr const char* kProfileFileName = "ProfileFileName";
constexpr const char* kCurrentRate = "CurrentRate";
constexpr const char* kAviRate[VIDEOSIZE_COUNT] = {"AVIRate25", "AVIRate50", "AVIRate100"};
constexpr const char* kWmvRate[VIDEOSIZE_COUNT] = {"WMVRate25", "WMVRate50", "WMVRate100"};
constexpr const char* kMaxFileSize = "MaxFileSize";
constexpr const char* kCompress = "Compress";
constexpr const char* kVideoSize = "VideoSize";
constexpr const char* kRecCondition = "RecCondition";
constexpr const char* kRecSecond = "RecSecond";
constexpr const char* kRecMinute = "RecMinute";
constexpr const char* kRecCapacity = "RecCapacity";
constexpr const char* kIsSetting = "IsSetting";
constexpr const char* kVideoWidth = "VideoWidth";
constexpr const char* kVideoHeight = "VideoHeight";
constexpr const char* kVideoQuality = "VideoQuality";
constexpr const char* kWmvQuality[VIDEOSIZE_COUNT] = {"WMVVideoQuality25", "WMVVideoQuality50",
                                                      "WMVVideoQuality100"};
constexpr const char* kMaxReqCount = "MaxReqCount";
}  // namespace recreg

// Reads and writes numbers and texts of "RecSection" under the user root.
DWORD ReadRecInt(const char* name, DWORD defaultValue);
std::string ReadRecString(const char* name, const std::string& defaultValue);
// TRUE only when the value was stored (the movie program's number writer).
BOOL WriteRecInt(const char* name, DWORD value);
BOOL WriteRecString(const char* name, const std::string& text);

// The limit of a recording: minutes x 60 + seconds for a time limit,
// capacity x 1,048,576 bytes for a capacity limit, else 0. 64-bit, so no
// value of the 32-bit fields can overflow it.
uint64_t ComputeRecLimit(DWORD mode, DWORD minutes, DWORD seconds, DWORD capacityMB);

// Output size of a video size for a camera size; FALSE for another video size.
BOOL OutputSizeFor(DWORD videoSize, int cameraWidth, int cameraHeight, int* width, int* height);

// Profile file of a video size: InstallPath (or the program's own folder)
// + "Profile/" + "256-192", "512-384" or "XGA" + ".prx"; empty for another
// video size (after the trace line and message 999).
std::string GetProfilePath(DWORD videoSize);

struct CRecSettings {
  std::string strMoviePath;
  DWORD dwFrameRate = 0;
  DWORD dwAviRate[VIDEOSIZE_COUNT] = {0, 0, 0};  // by video size: 25 %, 50 %, 100 %
  DWORD dwWmvRate[VIDEOSIZE_COUNT] = {0, 0, 0};
  DWORD dwVideoQuality = 0;
  DWORD dwWmvQuality[VIDEOSIZE_COUNT] = {0, 0, 0};
  std::string strOutputFileName;
  DWORD dwMaxFileSize = 0;
  DWORD dwRecCondition = RECCOND_NONE;
  DWORD dwVideoSize = VIDEOSIZE_50;
  uint64_t qwRecLimit = 0;
  DWORD dwVideoWidth = 0;
  DWORD dwVideoHeight = 0;
  int nCameraWidth = MOV_CAMERA_WIDTH;
  int nCameraHeight = MOV_CAMERA_HEIGHT;
  int nSavedWidth = 0;
  int nSavedHeight = 0;
  DWORD dwIsSetting = 0;
  DWORD dwRecSecond = 0;
  DWORD dwRecMinute = 0;
  DWORD dwRecCapacity = 0;
  DWORD dwCompress = COMPRESS_AVI;
  std::string strProfileFileName;
  DWORD dwMaxReqCount = 10;

  // Reads every value with its default, in the document's order, and writes
  // `MaxReqCount` back so that the user finds it to tune.
  void ReadFromRegistry();

  // Camera size, output size and profile path for the current video size.
  // FALSE for an invalid video size (trace line, message 999) or no profile.
  BOOL SetVideoSize(int cameraWidth, int cameraHeight);
  // The limit of the current settings, also kept in qwRecLimit.
  uint64_t GetRecLimit();
  // Remembers the output size and sets the given one (the frame-rate
  // measurement); RestoreVideoSize sets the remembered one again.
  void SetVideoSizeTemp(int width, int height);
  void RestoreVideoSize();
};

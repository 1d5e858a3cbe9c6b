#include "FRMLogic.h"

#include <cstring>
#include <limits>

#include "Common/FilePath.h"
#include "Common/StringTable.h"
#include "Common/TraceLog.h"
#include "MovApp.h"
#include "MovResource.h"
#include "OutputFile.h"

namespace {

// a x b, or the largest value when it would not fit.
uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) return std::numeric_limits<uint64_t>::max();
  return a * b;
}

FRMCHECK Fail(UINT stringId, UINT fieldId, int focus) {
  FRMCHECK check;
  check.strError = fieldId ? MovFormatString(stringId, LoadStringText(fieldId)) : LoadStringText(stringId);
  check.nFocusId = focus;
  return check;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

BOOL CheckItemValue(const std::string& text, DWORD* value) {
  uint64_t v = 0;
  for (const char c : text) {
    // The digit count is capped, so the value never wraps.
    if (c < '0' || c > '9' || v > 0xFFFFFFFFull) {
      TraceLog(TRC_MOV, "CFRMDlg::CheckItemValue", "The set value is not a numerical value. ");
      return FALSE;
    }
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFull) {
    TraceLog(TRC_MOV, "CFRMDlg::CheckItemValue", "The set value is not a numerical value. ");
    return FALSE;
  }
  if (value) *value = static_cast<DWORD>(v);
  return TRUE;
}

std::string LimitText(uint64_t value) { return value == 0 ? std::string() : std::to_string(value); }

uint64_t FrameBytes(DWORD videoSize, int cameraWidth, int cameraHeight) {
  int width = 0, height = 0;
  if (!OutputSizeFor(videoSize, cameraWidth, cameraHeight, &width, &height) || width <= 0 || height <= 0) return 0;
  return uint64_t(width) * uint64_t(height) * 3;
}

DWORD TimeToCapacity(DWORD minutes, DWORD seconds, DWORD rate, uint64_t frameBytes) {
  const uint64_t total = uint64_t{minutes} * 60 + seconds;
  const uint64_t bytes = SaturatingMul(SaturatingMul(total, frameBytes), rate);
  const uint64_t mb = (bytes > std::numeric_limits<uint64_t>::max() - FRM_HEADER_BYTES ? bytes
                                                                                      : bytes + FRM_HEADER_BYTES) /
                      MOV_MEGABYTE;
  return mb > FRM_FIELD_MAX ? FRM_FIELD_MAX : static_cast<DWORD>(mb);
}

void CapacityToTime(DWORD capacityMB, DWORD rate, uint64_t frameBytes, DWORD* minutes, DWORD* seconds) {
  *minutes = 0;
  *seconds = 0;
  const uint64_t bytes = uint64_t{capacityMB} * MOV_MEGABYTE;
  // A capacity that does not even hold the headers holds no frame (the
  // subtraction would wrap around otherwise).
  if (bytes <= FRM_HEADER_BYTES || frameBytes == 0 || rate == 0) return;
  const uint64_t frames = (bytes - FRM_HEADER_BYTES) / frameBytes;
  const uint64_t total = frames / rate;
  if (frames == 0 || total == 0) return;
  const uint64_t m = total / 60;
  *minutes = m > FRM_FIELD_MAX ? FRM_FIELD_MAX : static_cast<DWORD>(m);
  *seconds = static_cast<DWORD>(total % 60);
}

FRMCHECK ValidateItems(const FRMFIELDS& f) {
  FRMCHECK c;
  if (f.strRate.empty()) return Fail(IDS_MOV_SPECIFY_VALUE, IDS_MOV_FIELD_RATE, IDC_FRM_RATE);
  if (!CheckItemValue(f.strRate, &c.dwRate) || c.dwRate == 0 || c.dwRate > FRM_RATE_MAX)
    return Fail(IDS_MOV_INVALID_VALUE, IDS_MOV_FIELD_RATE, IDC_FRM_RATE);
  if (f.dwCompress == COMPRESS_WMV) {
    if (f.strQuality.empty()) return Fail(IDS_MOV_SPECIFY_VALUE, IDS_MOV_FIELD_QUALITY, IDC_FRM_QUALITY);
    if (!CheckItemValue(f.strQuality, &c.dwQuality) || c.dwQuality == 0 || c.dwQuality > FRM_QUALITY_MAX)
      return Fail(IDS_MOV_INVALID_VALUE, IDS_MOV_FIELD_QUALITY, IDC_FRM_QUALITY);
  }
  if (!CheckItemValue(f.strMinutes, &c.dwMinutes))
    return Fail(IDS_MOV_INVALID_VALUE, IDS_MOV_FIELD_MINUTES, IDC_FRM_MINUTES);
  if (!CheckItemValue(f.strSeconds, &c.dwSeconds))
    return Fail(IDS_MOV_INVALID_VALUE, IDS_MOV_FIELD_SECONDS, IDC_FRM_SECONDS);
  if (!CheckItemValue(f.strCapacity, &c.dwCapacity))
    return Fail(IDS_MOV_INVALID_VALUE, IDS_MOV_FIELD_CAPACITY, IDC_FRM_CAPACITY);
  if (f.dwCompress == COMPRESS_AVI) {
    DWORD split = 0;
    if (!CheckItemValue(f.strSplit, &split)) return Fail(IDS_MOV_INVALID_VALUE, IDS_MOV_FIELD_SPLIT, IDC_FRM_SPLIT);
    if (split < FRM_SPLIT_MIN_MB) return Fail(IDS_MOV_SPLIT_TOO_SMALL, 0, IDC_FRM_SPLIT);
    if (split > FRM_SPLIT_MAX_MB) return Fail(IDS_MOV_SPLIT_TOO_LARGE, 0, IDC_FRM_SPLIT);
    c.dwSplitBytes = static_cast<DWORD>(uint64_t{split} * MOV_MEGABYTE);
  } else {
    c.dwSplitBytes = 0;
  }
  if (f.dwVideoSize >= VIDEOSIZE_COUNT) {
    FRMCHECK bad;
    bad.strError = LoadStringText(IDS_MOV_INTERNAL_ERROR);
    return bad;
  }
  c.bOk = TRUE;
  return c;
}

FRMCHECK ValidateForOk(const FRMFIELDS& fields, const std::string& outputName) {
  FRMCHECK c = ValidateItems(fields);
  if (!c.bOk) return c;
  if (outputName.empty()) return Fail(IDS_MOV_SPECIFY_VALUE, IDS_MOV_FIELD_OUTPUT, IDC_FRM_OUTPUT);
  if (fields.dwLimit == RECCOND_TIME && c.dwMinutes == 0 && c.dwSeconds == 0)
    return Fail(IDS_MOV_INVALID_VALUE, IDS_MOV_FIELD_MINUTES, IDC_FRM_MINUTES);
  if (fields.dwLimit == RECCOND_CAPACITY && c.dwCapacity == 0)
    return Fail(IDS_MOV_INVALID_VALUE, IDS_MOV_FIELD_CAPACITY, IDC_FRM_CAPACITY);
  return c;
}

std::string FixExtension(const std::string& path, DWORD compress) {
  if (path.empty()) return path;
  const std::string wanted = compress == COMPRESS_WMV ? ".wmv" : ".avi";
  std::string folder, name, ext;
  CFilePath::SplitPath(path, &folder, &name, &ext);
  if (Lower(ext) == wanted) return path;
  return folder + name + wanted;
}

std::string PlaceOutputName(const std::string& name, const std::string& documentsFolder) {
  if (name.empty() || name.front() == '/') return name;
  if (documentsFolder.empty()) return {};
  return documentsFolder + (documentsFolder.back() == '/' ? "" : "/") + name;
}

BOOL GetFreeSpaceMB(const std::string& path, uint64_t* megabytes, std::string* error) {
  uint64_t bytes = 0;
  if (!FreeSpaceFor(path, &bytes, error)) return FALSE;
  *megabytes = bytes / MOV_MEGABYTE;
  return TRUE;
}

// The recording settings dialog's rules as plain functions: the digit check,
// the validation of its fields with the texts it shows, the conversion
// between a time limit and a capacity limit for AVI, the extension fix of
// the output file, where a bare output name goes, and the free space shown.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Types.h"
#include "RecSettings.h"

// Largest value a limit field takes (nine digits, so it always fits the
// 32-bit settings value); a computed value above it is shown as this.
constexpr DWORD FRM_FIELD_MAX = 999999999;
constexpr int FRM_FIELD_DIGITS = 9;
constexpr DWORD FRM_RATE_MAX = 20;
constexpr DWORD FRM_QUALITY_MAX = 100;
constexpr DWORD FRM_SPLIT_MIN_MB = 100;
constexpr DWORD FRM_SPLIT_MAX_MB = 1024;
// Bytes of the file headers that the conversions leave room for.
constexpr uint64_t FRM_HEADER_BYTES = 2560;

// TRUE when every character is a decimal digit and the value fits in 32
// bits; an empty text passes as 0. A failure writes the trace line
// "The set value is not a numerical value. ".
BOOL CheckItemValue(const std::string& text, DWORD* value);

// "%lu" of a value, empty for 0 (the converted limit fields).
std::string LimitText(uint64_t value);

// Bytes of one recorded frame of a video size: (h/4) x (w/4) x 3 at 25 %,
// (h/2) x (w/2) x 3 at 50 %, w x h x 3 at 100 %; 0 for another size.
uint64_t FrameBytes(DWORD videoSize, int cameraWidth, int cameraHeight);
// Capacity in MB that a time limit fills: ((m x 60 + s) x frame x rate + 2560)
// / 1,048,576, truncated; capped at FRM_FIELD_MAX.
DWORD TimeToCapacity(DWORD minutes, DWORD seconds, DWORD rate, uint64_t frameBytes);
// Time that a capacity holds: frames = (MB x 1,048,576 - 2560) / frame,
// seconds = frames / rate; both 0 when the capacity holds no frame, or the
// rate or the frame size is 0.
void CapacityToTime(DWORD capacityMB, DWORD rate, uint64_t frameBytes, DWORD* minutes, DWORD* seconds);

// The dialog's fields as texts, with the radio choices.
struct FRMFIELDS {
  std::string strRate;
  std::string strQuality;
  std::string strMinutes;
  std::string strSeconds;
  std::string strCapacity;
  std::string strSplit;
  DWORD dwCompress = COMPRESS_AVI;
  DWORD dwVideoSize = VIDEOSIZE_50;
  DWORD dwLimit = RECCOND_NONE;
};

// What the validation found: the values, or the text to show and the edit
// that gets the focus.
struct FRMCHECK {
  BOOL bOk = FALSE;
  std::string strError;
  int nFocusId = 0;
  DWORD dwRate = 0;
  DWORD dwQuality = 0;
  DWORD dwMinutes = 0;
  DWORD dwSeconds = 0;
  DWORD dwCapacity = 0;
  DWORD dwSplitBytes = 0;  // 0 for WMV
};

// The field checks in the dialog's order (rate, WMV quality, the limit
// fields, the AVI split size, the output size). The texts come from the
// string table.
FRMCHECK ValidateItems(const FRMFIELDS& fields);
// The checks of OK after ValidateItems: an empty output name, a time limit
// of 0 minutes and 0 seconds, a capacity limit of 0.
FRMCHECK ValidateForOk(const FRMFIELDS& fields, const std::string& outputName);

// The output name with the extension of the writer kind (".avi" or ".wmv",
// compared without regard to case, replaced when it differs).
std::string FixExtension(const std::string& path, DWORD compress);
// A name without a folder is placed in the user's documents folder, or
// emptied when there is none; a path is kept.
std::string PlaceOutputName(const std::string& name, const std::string& documentsFolder);
// Space available to the user on the file system of `path` (its nearest
// existing folder), in whole MB. FALSE with the system's text on failure.
BOOL GetFreeSpaceMB(const std::string& path, uint64_t* megabytes, std::string* error);

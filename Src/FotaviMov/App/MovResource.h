// Numbers of the movie program: string-table texts, commands and controls of
// its windows. The texts and their numbers are
// the string table's (MovStrings.h).
#pragma once

#include "MovFrameRules.h"
#include "MovStrings.h"
#include "Platform/Types.h"

// Commands: MovFrameRules.h.

// ------------------------------------------------------------ settings dialog controls

constexpr int IDC_FRM_OUTPUT = 1005;
constexpr int IDC_FRM_BROWSE = 1015;
constexpr int IDC_FRM_FREESPACE = 1055;
constexpr int IDC_FRM_SPLIT = 1039;
constexpr int IDC_FRM_AVI = 1002;
constexpr int IDC_FRM_WMV = 1003;
constexpr int IDC_FRM_SIZE25 = 1007;
constexpr int IDC_FRM_SIZE50 = 1009;
constexpr int IDC_FRM_SIZE100 = 1011;
constexpr int IDC_FRM_QUALITY = 1065;
constexpr int IDC_FRM_RATE = 1000;
constexpr int IDC_FRM_AUTO = 1050;
constexpr int IDC_FRM_NOLIMIT = 1046;
constexpr int IDC_FRM_TIME = 1031;
constexpr int IDC_FRM_CAPACITY_RADIO = 1033;
constexpr int IDC_FRM_MINUTES = 1023;
constexpr int IDC_FRM_SECONDS = 1019;
constexpr int IDC_FRM_CAPACITY = 1029;

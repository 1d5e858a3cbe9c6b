// Text of a system error code for trace lines:
// "ErrorCode[0x%08X] Message[%s]", the message on one line.
#pragma once

#include <string>

#include "Platform/Types.h"

// `code` is an errno value, or a negative FFmpeg error (AVERROR), whose own
// text is used.
std::string FormatErrorCode(long code);

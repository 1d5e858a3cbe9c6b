// The programs' trace log: one line per call, appended to the program's log
// file in the logs folder of the installation and rolled over to a single
// older file when the size limit would be passed.
//
// Files (base = InstallPath, or the program's own folder when InstallPath is
// empty; the logs folder "Logs" is never created by the writer):
//   TRC_PRE  base/Logs/FotaviPreTrc.log, roll-over FotaviPreTrc1.log, settings base/Fotavi.ini
//   TRC_MOV  base/Logs/FotaviMovTrc.log, roll-over FotaviMovTrc1.log, settings base/FotaviMov.ini
// Size limit: [Config] TRACESIZE of the settings file, 1 to 10 units of
// 1,024,000 bytes; 1 unit when missing or out of range.
//
// Line: "YYYY/MM/DD hh:mm:ss.mmm" in brackets, the function name in brackets
// padded or cut to 32 characters, a blank, the message (at most 1024 bytes),
// CRLF. Text is UTF-8.
//
// Lines from several threads of a process never mix: the check, the
// roll-over and the write of one line happen under one lock, and the line is
// written with a single append; other processes are kept out by a file lock.
#pragma once

#include <string>

#include "Platform/Types.h"

constexpr int TRC_PRE = 1;  // the presentation program
constexpr int TRC_MOV = 2;  // the movie program

constexpr DWORD TRACE_SIZE_UNIT = 1024000;
constexpr size_t TRACE_NAME_WIDTH = 32;
constexpr size_t TRACE_MESSAGE_MAX = 1024;
constexpr const char* TRACE_LOGS_FOLDER = "Logs";

// Writes one line with a printf-style format. Returns 1 when the line was
// written, 0 otherwise (callers ignore it). A NULL name or format writes nothing.
int TraceLog(int selector, const char* function, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Writes one line with a fixed text, taken as it is (never as a format).
int TraceLogText(int selector, const char* function, const std::string& text);
// Writes "Memory is insufficient. <what>".
int TraceLogMemory(int selector, const char* function, const char* what);

// The log path, the roll-over path and the size limit of a selector. FALSE
// (paths empty) for an unknown selector or when no base folder can be had.
BOOL GetTraceLogPath(int selector, std::string* logPath, std::string* rollPath, DWORD* limit);

// The base folder: InstallPath, else the program's folder; ends with '/'.
std::string GetTraceBaseFolder();

// The fixed-width line head "[time] [function                        ] ".
std::string FormatTraceHeader(const std::string& time, const char* function);

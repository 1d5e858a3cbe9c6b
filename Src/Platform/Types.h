// Basic types and constants shared by every module of the system.
// Our own definitions, sized to match what the exported interfaces expect:
// 32-bit DWORD/LONG/BOOL, pointer-sized WPARAM/LPARAM/LRESULT and handles.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(FOTAVI_PLATFORM_BUILD)
#define FOTAVI_PLATFORM_API __attribute__((visibility("default")))
#else
#define FOTAVI_PLATFORM_API __attribute__((visibility("default")))
#endif

using BOOL = int32_t;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Opaque handle types: distinct pointer types, never dereferenced.
struct HWND__;
using HWND = HWND__*;
struct HGLOBAL__;
using HGLOBAL = HGLOBAL__*;
struct HMODULE__;
using HMODULE = HMODULE__*;
using FARPROC = void (*)();

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_POWERBROADCAST = 0x0218;
constexpr UINT WM_DEVICECHANGE = 0x0219;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

// WM_POWERBROADCAST events.
constexpr WPARAM PBT_APMSUSPEND = 4;
constexpr WPARAM PBT_APMSTANDBY = 5;
constexpr WPARAM PBT_APMRESUMESUSPEND = 7;
constexpr WPARAM PBT_APMRESUMESTANDBY = 8;
// WM_DEVICECHANGE event: the set of devices changed.
constexpr WPARAM DBT_DEVNODES_CHANGED = 0x0007;

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// Error numbers reported through GetLastError().
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;
constexpr DWORD ERROR_TIMEOUT = 1460;
constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;

FOTAVI_PLATFORM_API DWORD GetLastError();
FOTAVI_PLATFORM_API void SetLastError(DWORD error);

#define LOWORD(l) (static_cast<WORD>(static_cast<uintptr_t>(l) & 0xFFFF))
#define HIWORD(l) (static_cast<WORD>((static_cast<uintptr_t>(l) >> 16) & 0xFFFF))

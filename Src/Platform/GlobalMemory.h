// Global memory blocks that can cross module borders: allocated in one module,
// locked, handed to another and freed there. Handles are never reused, so a
// free of an unknown or already freed handle is detected.
#pragma once

#include "Types.h"

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// NULL with ERROR_NOT_ENOUGH_MEMORY when the block cannot be made. A zero
// size gives a valid handle to an empty block.
FOTAVI_PLATFORM_API HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
// Pointer to the block's bytes, NULL for an unknown handle.
FOTAVI_PLATFORM_API void* GlobalLock(HGLOBAL mem);
// FALSE once the lock count is back at 0 (or for an unknown handle), as on Windows.
FOTAVI_PLATFORM_API BOOL GlobalUnlock(HGLOBAL mem);
// Size in bytes, 0 for an unknown handle.
FOTAVI_PLATFORM_API size_t GlobalSize(HGLOBAL mem);
// NULL when freed; the handle itself (with ERROR_INVALID_HANDLE) when unknown.
FOTAVI_PLATFORM_API HGLOBAL GlobalFree(HGLOBAL mem);
// Number of blocks currently allocated (leak checks in tests and benchmarks).
FOTAVI_PLATFORM_API size_t GlobalBlockCount();

// The library's own resources: the JPEG header that goes in front of every
// frame. The table itself is generated at build time (gen_jpeg_header.py).
#pragma once

#include <cstddef>

extern const unsigned char g_JpegHead1024[];
extern const unsigned int g_JpegHead1024Size;

// A resource of the library, found by type and name.
struct CModuleResource {
  const char* pszType;
  const char* pszName;
  const unsigned char* pData;
  size_t nSize;
};

// The resource with this type and name, NULL when the library has none.
const CModuleResource* FindModuleResource(const char* pszName, const char* pszType);

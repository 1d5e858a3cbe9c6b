// Loading modules by name at run time. "X.dll" names the module "X.so": it is
// looked for in the module folder (GetModuleFolder: where this platform
// library was loaded from, whichever program or host loaded it), then in the folders of
// FOTAVI_MODULE_PATH (colon-separated), then on the system's search path.
// A name with a '/' is used as a path. "TWAIN_32.DLL" names the TWAIN data
// source manager already loaded in the process (libtwaindsm.so.2), else the
// program itself (a host that exports its own DSM_Entry).
#pragma once

#include <string>

#include "Types.h"

FOTAVI_PLATFORM_API HMODULE LoadLibrary(const std::string& name);
FOTAVI_PLATFORM_API FARPROC GetProcAddress(HMODULE module, const char* symbol);
FOTAVI_PLATFORM_API BOOL FreeLibrary(HMODULE module);
// Text of the last load or look-up failure on the calling thread.
FOTAVI_PLATFORM_API std::string GetLoadErrorText();
// The file a module name resolves to ("" when none is found).
FOTAVI_PLATFORM_API std::string ResolveModulePath(const std::string& name);

template <typename Fn>
Fn GetProcAddressAs(HMODULE module, const char* symbol) {
  return reinterpret_cast<Fn>(GetProcAddress(module, symbol));
}

// Folders of the machine and the user.
#pragma once

#include <string>

#include "Types.h"

// Folder of the running program (no trailing '/').
FOTAVI_PLATFORM_API std::string GetProgramFolder();
// Full path of the running program.
FOTAVI_PLATFORM_API std::string GetProgramPath();
// Folder of the project's private modules: the one this platform library was
// loaded from (no trailing '/'), whichever program or host loaded it. The
// modules loaded by name and the machine settings are found from here.
FOTAVI_PLATFORM_API std::string GetModuleFolder();
// Per-user private work folder (mode 0700), in place of the system temporary
// folder: $FOTAVI_WORK_DIR, else $XDG_RUNTIME_DIR/fotavi, else
// ~/.cache/fotavi/tmp. Created when missing; "" when it cannot be made or is
// not a private folder of the user. Ends with '/'.
FOTAVI_PLATFORM_API std::string GetPrivateWorkFolder();
// Per-user private cache folder on disk (mode 0700) for large files, which
// have no place in the memory-backed $XDG_RUNTIME_DIR: $FOTAVI_CACHE_DIR,
// else $XDG_CACHE_HOME/fotavi (an absolute $XDG_CACHE_HOME only), else
// ~/.cache/fotavi. Created when missing; "" when it cannot be made or is not
// the user's own folder that nobody else can write to (a link, another
// user's, open to others for writing). Ends with '/'.
FOTAVI_PLATFORM_API std::string GetPrivateCacheFolder();
// Its "work" folder, under the same rules, for work files that can grow to
// gigabytes and are removed when their work ends. Ends with '/'.
FOTAVI_PLATFORM_API std::string GetLargeWorkFolder();
// The user's documents folder ($XDG_DOCUMENTS_DIR, ~/Documents, else the home folder).
FOTAVI_PLATFORM_API std::string GetDocumentsFolder();
// The machine's fallback root, used where a Windows program falls back to
// "C:": $FOTAVI_FALLBACK_ROOT, else ~/.local/state/fotavi/ (created when
// missing). Always ends with '/', so names can follow it directly.
FOTAVI_PLATFORM_API std::string GetFallbackRoot();
// The user's own folder for logs: $XDG_STATE_HOME/fotavi/Logs (an absolute
// $XDG_STATE_HOME only), else ~/.local/state/fotavi/Logs. Created (mode 0700)
// when missing; "" when it cannot be made or is not the user's own folder
// that nobody else can write to. Ends with '/'.
FOTAVI_PLATFORM_API std::string GetUserLogFolder();
// The one rule for where a log goes: `folder`, the log's own folder, when
// this process can write into it, else the user's log folder; "" when
// neither can be used. Ends with '/' unless "".
FOTAVI_PLATFORM_API std::string ChooseLogFolder(const std::string& folder);

// A folder the program may trust with its files or sockets: a real folder
// (not a link) of the user that nobody else can write to. `why` receives the
// reason when it is not (missing, a link or file, another user's, writable
// by others), for the caller's trace line.
FOTAVI_PLATFORM_API bool IsTrustedFolder(const std::string& path, std::string* why = nullptr);
// Creates a folder and its parents (mode 0755 unless given); true when it exists afterwards.
FOTAVI_PLATFORM_API bool MakeFolders(const std::string& path, unsigned mode = 0755);

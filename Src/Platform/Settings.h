// Settings in place of the registry. Two roots: the machine root (written by
// the installer: `cmake --install` and scripts/install-settings.sh) and the user root. Keys are paths
// like "SOFTWARE\Tiryx\Z5\Device Parameters"; key and value names compare
// without regard to case. Values are strings or 32-bit numbers.
//
// Storage: one text file per root.
//   machine root: $FOTAVI_MACHINE_SETTINGS, else found from the module folder
//                 (GetModuleFolder): <build>/etc/fotavi-machine.conf beside
//                 <build>/bin, installed <sysconfdir>/fotavi/fotavi-machine.conf
//   user root:    $FOTAVI_USER_SETTINGS, else $XDG_CONFIG_HOME/fotavi/user.conf
//                 (~/.config/fotavi/user.conf)
// Strings are stored verbatim (backslashes kept); a string holding a line
// break cannot be stored and its write fails.
#pragma once

#include <string>
#include <vector>

#include "Types.h"

enum class SettingsRoot { LocalMachine, CurrentUser };
constexpr SettingsRoot HKEY_LOCAL_MACHINE = SettingsRoot::LocalMachine;
constexpr SettingsRoot HKEY_CURRENT_USER = SettingsRoot::CurrentUser;

FOTAVI_PLATFORM_API std::string SettingsFilePath(SettingsRoot root);

FOTAVI_PLATFORM_API bool SettingsKeyExists(SettingsRoot root, const std::string& key);
// false (and `out` unchanged) when the key or value is missing or has the other type.
FOTAVI_PLATFORM_API bool SettingsReadString(SettingsRoot root, const std::string& key, const std::string& value,
                                            std::string* out);
FOTAVI_PLATFORM_API bool SettingsReadDword(SettingsRoot root, const std::string& key, const std::string& value,
                                           DWORD* out);
// Create the key when needed; true only when the file was really written.
FOTAVI_PLATFORM_API bool SettingsWriteString(SettingsRoot root, const std::string& key, const std::string& value,
                                             const std::string& data);
FOTAVI_PLATFORM_API bool SettingsWriteDword(SettingsRoot root, const std::string& key, const std::string& value,
                                            DWORD data);
FOTAVI_PLATFORM_API bool SettingsDeleteValue(SettingsRoot root, const std::string& key, const std::string& value);

// Convenience with the default of a missing key or value.
FOTAVI_PLATFORM_API DWORD SettingsGetDword(SettingsRoot root, const std::string& key, const std::string& value,
                                           DWORD defaultValue);
FOTAVI_PLATFORM_API std::string SettingsGetString(SettingsRoot root, const std::string& key,
                                                  const std::string& value, const std::string& defaultValue);

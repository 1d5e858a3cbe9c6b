// Settings access and small helpers shared by both programs: the installer's
// values, the single-instance mutex, folders and paths, numbers.
//
// Paths use '/'. `AddBackslash` keeps its historical name and appends the
// path separator '/'.
#pragma once

class CControlDialog;

#include <memory>
#include <functional>
#include <string>

#include "PathLimits.h"
#include "Platform/Settings.h"
#include "Platform/Sync.h"
#include "Platform/Types.h"

// ------------------------------------------------------------ settings layout

// Installer values (machine root).
constexpr const char* REG_KEY_UTILITY = "Tiryx\\Utility Software (K27)";
constexpr const char* REG_SECTION_PARAMETERS = "Parameters";
constexpr const char* REG_VALUE_INSTALLPATH = "InstallPath";
constexpr const char* REG_VALUE_JPEGLIB = "JpegLib";
// Per-program values (user root).
constexpr const char* REG_KEY_PRESENTATION = "Tiryx\\Fotavi (K27)\\FotaviForPresentation";
constexpr const char* REG_SECTION_IMAGE = "ImgSection";
constexpr const char* REG_KEY_MOVIE = "Tiryx\\Fotavi (K27)\\FotaviForMovieCreation";
constexpr const char* REG_SECTION_RECORDING = "RecSection";

// The single-instance mutex shared by both programs and the TWAIN data source.
constexpr const char* APP_MUTEX_NAME = "__FOTAVI_K27_GLOBAL_MUTEX__";

// Reads and writes values under "SOFTWARE\<key>\<section>" of a root.
class CRegOperation {
 public:
  CRegOperation() = default;
  ~CRegOperation() = default;

  // The 32-bit number, or `defaultValue` when the key or value is missing or
  // the value is not a 32-bit number.
  DWORD GetProfileInt(SettingsRoot root, std::string key, std::string section, std::string name,
                      DWORD defaultValue) const;
  // The text, or `defaultValue` when the key or value is missing or the value
  // is not a text.
  std::string GetProfileString(SettingsRoot root, std::string key, std::string section, std::string name,
                               std::string defaultValue) const;
  // Creates the key when needed; TRUE only when the value was stored.
  BOOL WriteProfileString(SettingsRoot root, std::string key, std::string section, std::string name,
                          std::string text) const;

  static std::string KeyPath(const std::string& key, const std::string& section);
};

// ------------------------------------------------------------ installer values

// `InstallPath`, empty when missing.
std::string GetInstallPath();
// `JpegLib` (1 and 2 choose an outside codec library, anything else none), default 1.
DWORD GetJpegLibType();
// InstallPath + "/HELP/" + "Fotavi.chm", empty when there is no InstallPath.
std::string GetHelpFilePath();

// ------------------------------------------------------------ single instance

enum {
  APPMUTEX_FAILED = 0,         // creation failed
  APPMUTEX_CREATED = 1,        // created by this call; the handle is kept in *mutex
  APPMUTEX_EXISTS = 2,         // another holder exists; no handle kept
  APPMUTEX_ACCESSDENIED = 3,   // it belongs to another user; no handle
};
// Creates the named mutex (with the "Global\" prefix when `global`). Only for
// the result 1 does *mutex hold a handle; it must be kept until the program ends.
int CreateAppMutex(const std::string& name, bool global, std::unique_ptr<CNamedMutex>* mutex);

// ------------------------------------------------------------ folders and paths

// Shows the folder chooser ("Please select folder") starting at `initialFolder`.
// 1 with the chosen folder in *folder; 0 on cancel (*folder emptied); 0 with
// *folder unchanged when the chosen path is longer than FOLDER_PATH_MAX
// (PathLimits.h).
int SelectFolder(HWND owner, const std::string& initialFolder, std::string* folder);
// The same box without a wait: returns at once; `done(result, folder)` runs
// once, later, with SelectFolder's result and folder. A box that goes with
// the window it belongs to does not answer. `counter`, when given, counts
// the box as open from this call until it has gone, however it goes.
void OpenSelectFolder(HWND owner, const std::string& initialFolder, CControlDialog* counter,
                      std::function<void(int result, const std::string& folder)> done);
// The user's documents folder.
std::string GetMyDocumentsPath();
// Appends one '/' to a non-empty path that does not end with one.
std::string AddBackslash(const std::string& path);
// The length of a UTF-8 path in UTF-16 units: what the program's path
// limits count (its 260-character buffers hold wide characters), not bytes.
size_t WideLength(const std::string& path);
// TRUE when the file or folder exists (one trailing '/' is ignored).
BOOL IsPathExist(const std::string& path);
// Removes a folder tree. Symbolic links are removed as links, never followed.
// TRUE when the folder does not exist afterwards (a folder that never existed
// included); FALSE when something in it could not be removed. Never throws.
BOOL DeleteFolder(const std::string& path);

// ------------------------------------------------------------ numbers

// The value of a text made only of the digits 0-9 when it lies within
// [minimum, maximum]; 0 otherwise (empty text, sign, blank, other characters,
// or a value that does not fit in 32 bits).
UINT StringToUInt(const std::string& text, UINT minimum, UINT maximum);
// Euclidean distance of two points.
double GetPointDistance(int x1, int y1, int x2, int y2);

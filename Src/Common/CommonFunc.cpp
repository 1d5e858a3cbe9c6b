#include "CommonFunc.h"

#include "ControlDialog.h"

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <system_error>

#include <QString>

#include "Platform/Paths.h"
#include "Platform/UiService.h"

// ------------------------------------------------------------ CRegOperation

std::string CRegOperation::KeyPath(const std::string& key, const std::string& section) {
  return "SOFTWARE\\" + key + "\\" + section;
}

DWORD CRegOperation::GetProfileInt(SettingsRoot root, std::string key, std::string section, std::string name,
                                   DWORD defaultValue) const {
  DWORD value = 0;
  if (!SettingsReadDword(root, KeyPath(key, section), name, &value)) return defaultValue;
  return value;
}

std::string CRegOperation::GetProfileString(SettingsRoot root, std::string key, std::string section,
                                            std::string name, std::string defaultValue) const {
  std::string value;
  if (!SettingsReadString(root, KeyPath(key, section), name, &value)) return defaultValue;
  return value;
}

BOOL CRegOperation::WriteProfileString(SettingsRoot root, std::string key, std::string section, std::string name,
                                       std::string text) const {
  return SettingsWriteString(root, KeyPath(key, section), name, text) ? TRUE : FALSE;
}

// ------------------------------------------------------------ installer values

std::string GetInstallPath() {
  return CRegOperation().GetProfileString(HKEY_LOCAL_MACHINE, REG_KEY_UTILITY, REG_SECTION_PARAMETERS,
                                          REG_VALUE_INSTALLPATH, "");
}

DWORD GetJpegLibType() {
  return CRegOperation().GetProfileInt(HKEY_LOCAL_MACHINE, REG_KEY_UTILITY, REG_SECTION_PARAMETERS,
                                       REG_VALUE_JPEGLIB, 1);
}

std::string GetHelpFilePath() {
  const std::string install = GetInstallPath();
  if (install.empty()) return {};
  return install + "/HELP/" + "Fotavi.chm";
}

// ------------------------------------------------------------ single instance

int CreateAppMutex(const std::string& name, bool global, std::unique_ptr<CNamedMutex>* mutex) {
  if (mutex) mutex->reset();
  const std::string fullName = global ? "Global\\" + name : name;
  CNamedMutex::Outcome outcome = CNamedMutex::Outcome::Failed;
  std::unique_ptr<CNamedMutex> handle = CNamedMutex::Create(fullName, false, &outcome);
  switch (outcome) {
    case CNamedMutex::Outcome::Created:
      if (!handle) return APPMUTEX_FAILED;
      if (mutex) *mutex = std::move(handle);
      return APPMUTEX_CREATED;
    case CNamedMutex::Outcome::AlreadyExists:
      return APPMUTEX_EXISTS;  // the extra handle closes here
    case CNamedMutex::Outcome::AccessDenied:
      return APPMUTEX_ACCESSDENIED;
    case CNamedMutex::Outcome::Failed:
    default:
      return APPMUTEX_FAILED;
  }
}

// ------------------------------------------------------------ folders and paths

int SelectFolder(HWND owner, const std::string& initialFolder, std::string* folder) {
  const std::string chosen = GetUserInterfaceService()->ChooseFolder(owner, "Please select folder", initialFolder);
  if (chosen.empty()) {
    if (folder) folder->clear();
    return 0;
  }
  if (WideLength(chosen) > FOLDER_PATH_MAX) return 0;
  if (folder) *folder = chosen;
  return 1;
}

void OpenSelectFolder(HWND owner, const std::string& initialFolder, CControlDialog* counter,
                      std::function<void(int result, const std::string& folder)> done) {
  if (counter) counter->BeginModal();
  GetUserInterfaceService()->OpenFolderChooser(
      owner, "Please select folder", initialFolder,
      [done = std::move(done)](const std::string& chosen) {
        int result = 1;
        std::string folder = chosen;
        if (chosen.empty() || WideLength(chosen) > 256) result = 0;
        if (chosen.empty()) folder.clear();
        if (done) done(result, result ? folder : std::string());
      },
      [counter] {
        if (counter) counter->EndModal();
      });
}

std::string GetMyDocumentsPath() { return GetDocumentsFolder(); }

std::string AddBackslash(const std::string& path) {
  if (path.empty() || path.back() == '/') return path;
  return path + '/';
}

size_t WideLength(const std::string& path) {
  return static_cast<size_t>(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())).size());
}

BOOL IsPathExist(const std::string& path) {
  if (path.empty()) return FALSE;
  std::string p = path;
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0 ? TRUE : FALSE;
}

BOOL DeleteFolder(const std::string& path) {
  if (path.empty()) return FALSE;
  namespace fs = std::filesystem;
  std::error_code ec;
  // A trailing separator would make the system resolve a link named by the
  // path, so the link's target would be emptied: the path is taken without it.
  std::string name = path;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  const fs::path folder(name);
  const fs::file_status status = fs::symlink_status(folder, ec);
  if (ec) return status.type() == fs::file_type::not_found ? TRUE : FALSE;
  if (status.type() == fs::file_type::not_found) return TRUE;
  // Only folders (or a link standing for one) are removed here, never a file.
  if (status.type() != fs::file_type::directory && status.type() != fs::file_type::symlink) return FALSE;
  // remove_all removes links themselves and never descends through them.
  fs::remove_all(folder, ec);
  if (ec) return FALSE;
  return fs::symlink_status(folder, ec).type() == fs::file_type::not_found ? TRUE : FALSE;
}

// ------------------------------------------------------------ numbers

UINT StringToUInt(const std::string& text, UINT minimum, UINT maximum) {
  if (text.empty()) return 0;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > 0xFFFFFFFFull) return 0;
  }
  if (value < minimum || value > maximum) return 0;
  return static_cast<UINT>(value);
}

double GetPointDistance(int x1, int y1, int x2, int y2) {
  return std::hypot(static_cast<double>(x2) - x1, static_cast<double>(y2) - y1);
}

// The user-interface service: message boxes and file and folder choosers.
// Engines call it through this interface; the programs install the Qt
// implementation, tests install a recorder that answers instead of blocking.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Types.h"

// Buttons.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_TYPEMASK = 0xF;
// Icons.
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x40;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONMASK = 0xF0;
// Default button.
constexpr UINT MB_DEFBUTTON1 = 0x000;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDRETRY = 4;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

struct FileChooserRequest {
  bool save = false;                  // save (true) or open (false)
  std::string title;
  std::string folder;                 // initial folder
  std::string fileName;               // initial file name
  // Filters as (description, patterns separated by ';'), e.g. ("JPEG", "*.jpg;*.jpeg").
  std::vector<std::pair<std::string, std::string>> filters;
  int filterIndex = 0;                // initial filter (0-based)
  std::string defaultExtension;       // added to a save name without extension
  bool multiSelect = false;
  bool confirmOverwrite = true;
  bool pathMustExist = false;         // a chosen path's folder must exist (save boxes)
};

struct FileChooserResult {
  bool accepted = false;
  std::vector<std::string> paths;     // one unless multiSelect
  int filterIndex = 0;
};

class IUserInterfaceService {
 public:
  virtual ~IUserInterfaceService() = default;
  // Shows a message box; returns IDOK, IDCANCEL, IDYES, IDNO, ...
  virtual int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) = 0;
  virtual FileChooserResult ChooseFile(HWND owner, const FileChooserRequest& request) = 0;
  // Returns the chosen folder, "" when cancelled.
  virtual std::string ChooseFolder(HWND owner, const std::string& title, const std::string& initialFolder) = 0;

  // The choosers without a wait: the call returns at once, and `answered`
  // runs once, later, on the calling (user-interface) thread, with the
  // user's answer; a chooser that goes with the window it belongs to is
  // never answered. `gone` runs once when the chooser has gone, answered or
  // not, so a count of open boxes stays true; it must not reach the window
  // that opened the chooser, which may be going too. This form answers at
  // once from ChooseFile / ChooseFolder.
  using FileAnswer = std::function<void(const FileChooserResult&)>;
  using FolderAnswer = std::function<void(const std::string&)>;
  virtual void OpenFileChooser(HWND owner, const FileChooserRequest& request, FileAnswer answered,
                               std::function<void()> gone) {
    const FileChooserResult result = ChooseFile(owner, request);
    if (answered) answered(result);
    if (gone) gone();
  }
  virtual void OpenFolderChooser(HWND owner, const std::string& title, const std::string& initialFolder,
                                 FolderAnswer answered, std::function<void()> gone) {
    const std::string folder = ChooseFolder(owner, title, initialFolder);
    if (answered) answered(folder);
    if (gone) gone();
  }
};

// The service in use. Without one installed, a plain service writes message
// boxes to standard error and answers with the first button, and choosers
// answer "cancelled".
FOTAVI_PLATFORM_API IUserInterfaceService* GetUserInterfaceService();
// True when a program installed a service (not the plain one).
FOTAVI_PLATFORM_API bool IsUserInterfaceServiceInstalled();
// Installs a service (NULL restores the plain one). Returns the previous one.
FOTAVI_PLATFORM_API IUserInterfaceService* SetUserInterfaceService(IUserInterfaceService* service);

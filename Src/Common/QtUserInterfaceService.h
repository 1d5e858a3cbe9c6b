// The Qt implementation of the platform's user-interface service: message
// boxes, file and folder choosers. The programs install it at start-up with
// SetUserInterfaceService. Calls from other threads are carried out on the
// application's thread, which the caller waits for. The programs' file and
// folder boxes use the forms that do not wait (OpenFileChooser,
// OpenFolderChooser): the box is modal to the window in front and answers by
// a signal, so no loop of its own runs inside a tool.
#pragma once

#include "Platform/UiService.h"

class QWidget;

class CQtUserInterfaceService : public IUserInterfaceService {
 public:
  int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
  FileChooserResult ChooseFile(HWND owner, const FileChooserRequest& request) override;
  std::string ChooseFolder(HWND owner, const std::string& title, const std::string& initialFolder) override;
  void OpenFileChooser(HWND owner, const FileChooserRequest& request, FileAnswer answered,
                       std::function<void()> gone) override;
  void OpenFolderChooser(HWND owner, const std::string& title, const std::string& initialFolder,
                         FolderAnswer answered, std::function<void()> gone) override;

 private:
  static QWidget* ParentWidget();
};

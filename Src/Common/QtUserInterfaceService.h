// The Qt implementation of the platform's user-interface service: message
// boxes, file and folder choosers. The programs install it at start-up with
// SetUserInterfaceService. Calls from other threads are carried out on the
// application's thread, which the caller waits for.
#pragma once

#include "Platform/UiService.h"

class QWidget;

class CQtUserInterfaceService : public IUserInterfaceService {
 public:
  int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
  FileChooserResult ChooseFile(HWND owner, const FileChooserRequest& request) override;
  std::string ChooseFolder(HWND owner, const std::string& title, const std::string& initialFolder) override;

 private:
  static QWidget* ParentWidget();
};

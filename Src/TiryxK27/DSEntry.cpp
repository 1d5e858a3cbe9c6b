// The data source's one export, DS_Entry, and the library's application
// object behind it. The module is linked never to be unloaded (its threads
// and the Qt objects it may make outlive any one open), so the application
// object lives as long as the process and the state goes back to "loaded"
// at every close of the source.
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

#include "DsGuiThread.h"
#include "DsStrings.h"
#include "Platform/UiService.h"
#include "Twain.h"
#include "TwainDSApp.h"
#include "TwainDlg.h"

namespace {

// A box through the program's user-interface service when it installed one,
// else a Qt box on the GUI thread where a screen shows it, else (no display,
// or a platform that draws into memory only: nobody could answer) a line on
// standard error.
void ShowDsBox(const std::string& text) {
  const std::string caption = DsString(IDS_DS_CAPTION);
  if (IsUserInterfaceServiceInstalled()) {
    GetUserInterfaceService()->MessageBox(nullptr, text, caption, MB_OK | MB_ICONERROR);
    return;
  }
  // The one wait that has no limit of its own: a shown box waits for its user.
  if (DsScreenAvailable() && RunOnDsGuiThread([&] {
        QMessageBox::critical(nullptr, QString::fromStdString(caption), QString::fromStdString(text));
      }, 0x7FFFFFFF)) {
    return;
  }
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
}

CTwainDSApp& TheApp() {
  static CTwainDSApp* app = [] {
    auto* made = new CTwainDSApp;
    made->InitInstance();
    made->DS().SetDialogFactory(MakeQtCaptureDialog);
    made->DS().SetEndedHook(EndDsGuiThread);
    SetDsMessageBoxHandler(ShowDsBox);
    return made;
  }();
  return *app;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY origin, TW_UINT32 DG, TW_UINT16 DAT,
                                                                    TW_UINT16 MSG, TW_MEMREF data) {
  return TheApp().DS().Entry(origin, DG, DAT, MSG, data);
}

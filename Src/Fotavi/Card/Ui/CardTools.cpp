// The only file of the card tools that knows the main frame and the
// application object.
#include "CardTools.h"

#include "CardFolders.h"
#include "CardHost.h"
#include "Text/FotaviStrings.h"
#include "FTransDlg.h"
#include "FotaviApp.h"
#include "MainFrm.h"
#include "Platform/UiService.h"
#include "Resource.h"
#include "SDAccess.h"
#include "ViewerFrame.h"

int CheckCardPresent() {
  CSDAccess access(CardHost().device);
  if (access.SD_GetStatus()) return TRUE;
  CardMessageBox(CardFailureText(access.GetLastStatus()), MB_OK | MB_ICONSTOP);
  return FALSE;
}

void BindCardHost(CMainFrame* mainFrame) {
  CCardHost& host = CardHost();
  host.device = mainFrame->GetDevice();
  CFotaviApp* app = mainFrame->GetApp();
  host.counter = app ? app->GetControlDialog() : nullptr;
  host.codec = app ? &app->GetJpeg() : nullptr;
  host.mainWnd = mainFrame->GetSafeHwnd();
  host.openPicture = [mainFrame](const std::string& name, const BYTE* data, DWORD size) {
    return mainFrame->FileOpen(name, data, size);
  };
}

void RegisterCardParts() {
  // The work folder starts empty.
  RemoveLocalFolder(GetCardWorkFolder());

  CMainFrame::RegisterToolFactory(ID_TOOL_TRANSFER, [](CMainFrame* mf) -> QWidget* {
    BindCardHost(mf);
    if (!CheckCardPresent()) return nullptr;
    auto* dialog = new CFTransDlg(mf);
    dialog->Clear();
    dialog->LoadSettings();
    return dialog;
  });
  CMainFrame::RegisterToolFactory(ID_TOOL_VIEWER, [](CMainFrame* mf) -> QWidget* {
    BindCardHost(mf);
    if (!CheckCardPresent()) return nullptr;
    // A top-level window of its own; the main frame shows it, keeps it while
    // open (which disables the device tools) and destroys it on its request.
    return new CViewerFrame(nullptr);
  });
}

// The only file of the conversion that knows the main frame and the
// application object.
#include "ConvertTools.h"

#include "App/FotaviApp.h"
#include "App/MainFrm.h"
#include "App/Resource.h"
#include "CardHost.h"
#include "ConvertDialogs.h"
#include "ConvertStrings.h"

void RegisterConvertParts() {
  LoadConvertStrings();
  CMainFrame::RegisterToolFactory(ID_TOOL_CONVERT, [](CMainFrame* mf) -> QWidget* {
    // The conversion's windows reach the device, the counter and the codec
    // as the card windows do.
    CCardHost& host = CardHost();
    host.device = mf->GetDevice();
    CFotaviApp* app = mf->GetApp();
    host.counter = app ? app->GetControlDialog() : nullptr;
    host.codec = app ? &app->GetJpeg() : nullptr;
    host.mainWnd = mf->GetSafeHwnd();
    return new CPptDlg(mf);
  });
}

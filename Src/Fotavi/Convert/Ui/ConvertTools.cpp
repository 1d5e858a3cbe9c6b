// The only file of the conversion that knows the main frame and the
// application object.
#include "ConvertTools.h"

#include "App/FotaviApp.h"
#include "App/MainFrm.h"
#include "App/Resource.h"
#include "CardHost.h"
#include "CardTools.h"
#include "ConvertDialogs.h"

void RegisterConvertParts() {
  CMainFrame::RegisterToolFactory(ID_TOOL_CONVERT, [](CMainFrame* mf) -> QWidget* {
    // The conversion's windows reach the device, the counter and the codec
    // as the card windows do.
    BindCardHost(mf);
    return new CPptDlg(mf);
  });
}

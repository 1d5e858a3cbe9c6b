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
    // One conversion dialog for the main frame's life: its source and
    // destination choices carry over from run to run.
    if (QWidget* kept = mf->GetKeptTool(ID_TOOL_CONVERT)) return kept;
    auto* dialog = new CPptDlg(mf);
    mf->KeepTool(ID_TOOL_CONVERT, dialog);
    return dialog;
  });
}

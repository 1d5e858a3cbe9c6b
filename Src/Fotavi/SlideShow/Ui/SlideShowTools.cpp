// The only file of the slide show that knows the main frame and the
// application object.
#include "SlideShowTools.h"

#include "CardHost.h"
#include "CardTools.h"
#include "MainFrm.h"
#include "Resource.h"
#include "SlideShowDlg.h"

void RegisterSlideShowParts() {
  CMainFrame::RegisterToolFactory(ID_TOOL_SLIDESHOW, [](CMainFrame* mainFrame) -> QWidget* {
    // The dialog's windows reach the program through the card host.
    BindCardHost(mainFrame);
    if (!CheckCardPresent()) return nullptr;
    return new CSlideShow(mainFrame);
  });
}

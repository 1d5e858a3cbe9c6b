// The one place where the program's areas join it at start-up: each area
// registers its document kinds (RegisterDocTemplateFactory) and its tool
// windows (CMainFrame::RegisterToolFactory) from a function of its own, and
// RegisterProgramParts calls them all. A new area adds one line there.
#pragma once

// Called by CFotaviApp::InitInstance before the document templates are made.
void RegisterProgramParts();

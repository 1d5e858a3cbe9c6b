// How the presentation program words its start-up refusals: its texts, its
// trace log and trace names, the error code in its library lines.
#include "App/FotaviApp.h"
#include "App/Resource.h"
#include "Common/TraceLog.h"

const StartupWords kFotaviStartupWords = {
    TRC_PRE,
    "CFotaviApp::InitInstance",
    "CFotaviApp::LoadDll",
    "CFotaviApp::UnloadDll",
    "CFotaviApp::LoadJpegDll",
    "CFotaviApp::UnloadJpegDll",
    LibraryLogWording::ErrorCode,
    IDS_ALREADY_LAUNCHED,
    IDS_OTHER_USER,
    IDS_INIT_ERROR,
    IDS_LOADLIB_ERROR,
};

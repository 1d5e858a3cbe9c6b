// How the movie program words its start-up refusals: its texts, its trace
// log and trace names, the system's error text in its device-library lines.
#include "MovApp.h"
#include "MovStrings.h"
#include "Common/TraceLog.h"

const StartupWords kMovStartupWords = {
    TRC_MOV,
    "CFotaviMovApp::InitInstance",
    "CFotaviMovApp::LoadDll",
    "CFotaviMovApp::UnloadDll",
    "CFotaviMovApp::LoadJpegDll",
    "CFotaviMovApp::UnloadJpegDll",
    LibraryLogWording::SystemText,
    IDS_MOV_ALREADY_LAUNCHED,
    IDS_MOV_OTHER_USER,
    IDS_MOV_INIT_ERROR,
    IDS_MOV_LOADLIB_ERROR,
};

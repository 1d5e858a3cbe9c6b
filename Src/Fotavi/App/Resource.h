// Command ids, resource ids and the program's own message numbers (the
// string numbers come with the string table, Text/FotaviStrings.h).
#pragma once

#include "Platform/Types.h"
#include "Text/FotaviStrings.h"

// ------------------------------------------------------------ commands
// Framework-standard commands.
constexpr int ID_FILE_CLOSE = 57602;
constexpr int ID_APP_EXIT = 57665;
constexpr int ID_WINDOW_CASCADE = 57650;
constexpr int ID_WINDOW_TILE_HORZ = 57652;
constexpr int ID_HELP_FINDER = 57670;
constexpr int ID_APP_ABOUT = 57664;

// File.
constexpr int ID_FILE_OPENFILE = 32834;
constexpr int ID_FILE_ALLCLOSE = 32832;
constexpr int ID_FILE_SAVEFILE = 32860;
constexpr int ID_FILE_SAVEAS = 32861;
// Rotation.
constexpr int ID_ROTATE_180 = 32777;
constexpr int ID_ROTATE_90CCW = 32778;
constexpr int ID_ROTATE_90CW = 32779;
// View.
constexpr int ID_VIEW_FULLSCREEN = 32830;
constexpr int ID_VIEW_ZOOMIN = 32803;
constexpr int ID_VIEW_ZOOMOUT = 32804;
constexpr int ID_VIEW_BESTFIT = 32805;
constexpr int ID_VIEW_ACTUALSIZE = 32806;
constexpr int ID_VIEW_ZOOMSELECT = 32807;
// Tools.
constexpr int ID_LIVE_SIZE25 = 32857;
constexpr int ID_LIVE_SIZE50 = 32858;
constexpr int ID_LIVE_SIZE100 = 32859;
constexpr int ID_TOOL_STILLCAPTURE = 32821;
constexpr int ID_TOOL_CONVERT = 32822;
constexpr int ID_TOOL_TRANSFER = 32772;
constexpr int ID_TOOL_VIEWER = 32823;
constexpr int ID_TOOL_DRAW = 32824;
constexpr int ID_TOOL_REMOTECTRL = 32827;
constexpr int ID_TOOL_SLIDESHOW = 32829;
// Toolbar only.
constexpr int ID_LIVE_STOP = 32851;
constexpr int ID_LIVE_START = 32852;
constexpr int ID_TOOL_HAND = 32838;
constexpr int ID_TOOL_SELECT = 32840;

// Drawing tool ids (draw palette).
constexpr int ID_DRAW_FREELINE = 1000;
constexpr int ID_DRAW_LINE = 1010;
constexpr int ID_DRAW_RECTANGLE = 1011;
constexpr int ID_DRAW_HLINE = 1012;
constexpr int ID_DRAW_VLINE = 1013;
constexpr int ID_DRAW_ERASER = 1015;

// ------------------------------------------------------------ resources
constexpr int IDR_MAINFRAME = 128;
constexpr int IDR_IMAGETYPE = 129;
constexpr int IDR_ANIMETYPE = 130;
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_REMOTECTRL = 131;
constexpr int IDD_DRAWTOOL = 137;

// ------------------------------------------------------------ strings
// The string numbers and texts: Text/FotaviStrings.h.

// ------------------------------------------------------------ messages
constexpr UINT WM_SETFIRSTVIEWDATA = 0x401;
constexpr UINT WM_CHILD_POSTCREATE = 0x402;
constexpr UINT WM_VIEWER_CLOSED = 0x410;
constexpr UINT WM_ANIME_REQUEST = 0x464;
constexpr UINT WM_UPDATE_TITLE = 0x466;
constexpr UINT WM_FULLSCREEN_END = 0x467;
constexpr UINT WM_RESUME_LIVE = 0x469;
constexpr UINT WM_ANIME_INITVIEW = 0x46A;
constexpr UINT WM_ANIME_DRAW = 0x46B;
constexpr UINT WM_ANIME_SUSPEND = 0x46C;
constexpr UINT WM_ANIME_ERROR = 0x46D;
constexpr UINT WM_IMAGE_CLOSEREQ = 0x46E;
constexpr UINT WM_ANIME_PICTSIZE = 0x46F;
constexpr UINT WM_ANIME_FRAMESIZE = 0x470;
constexpr UINT WM_RESIZEDC = 0x471;
// WM_REMOTECTRL_CLOSED (0x49B) comes with the remote-control panel (Common/TiryxDialog.h).
// A new live frame is in the picture holder (live view, GUI thread).
constexpr UINT WM_ANIME_FRAMEREADY = WM_APP + 0x46B;

// Window name of the full-screen window.
constexpr const char* FULLSCREEN_WINDOW_NAME = "_FULLSCREENWND_FOTAVI_K27_WINDOWNAME_";

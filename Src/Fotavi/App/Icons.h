// The program's icons: the freedesktop icon theme's (QIcon::fromTheme) where
// it has a fitting name, drawn in code where it has none or no theme is
// installed. Window icons: the program's own (a document camera), the live
// monitor's and the still picture's.
#pragma once

#include <QIcon>

// SetUpIconTheme() is the shared one (Common/ThemeIcons.h).
#include "Common/ThemeIcons.h"

// The icon of a toolbar command (Resource.h ids); null for other commands.
QIcon CommandIcon(int commandId);
// The theme name used for a command; empty where the icon is drawn.
const char* CommandIconThemeName(int commandId);

QIcon ProgramIcon();
QIcon LiveMonitorIcon();
QIcon StillPictureIcon();

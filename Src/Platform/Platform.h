// The platform layer in one include.
#pragma once

#include "DeviceInterface.h"
#include "GlobalMemory.h"
#include "Ini.h"
#include "Library.h"
#include "Messages.h"
#include "Paths.h"
#include "Settings.h"
#include "Sync.h"
#include "Time.h"
#include "Types.h"
#include "UiService.h"

// Messages between the card tools' folder trees and their thumbnail lists.
#pragma once

#include "Platform/Types.h"

constexpr UINT WM_SDTREE_INIT = 0x420;
constexpr UINT WM_SDTREE_REFRESH = 0x422;
constexpr UINT WM_THUMB_LOAD = 0x450;      // wParam: fresh start (the tree's refresh flag)
constexpr UINT WM_THUMB_BEGIN = 0x451;     // wParam: count
constexpr UINT WM_THUMB_PROGRESS = 0x452;  // wParam: count, lParam: done
constexpr UINT WM_THUMB_END = 0x453;
constexpr UINT WM_THUMB_CANCEL = 0x454;

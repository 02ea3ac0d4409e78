#pragma once
// Centring a top-level window, its size kept. UI thread only.

#include <windows.h>

namespace kelvora::ui {

// Moves `window` to the centre of `area` (screen coordinates), without
// activating it or changing its Z order. False when its size cannot be read.
bool CentreWindowOver(HWND window, const RECT& area);

// The same over the work area of `monitor` (the screen less the taskbar and
// docked bars). False when the system cannot tell that area.
bool CentreInWorkArea(HWND window, HMONITOR monitor);

}  // namespace kelvora::ui

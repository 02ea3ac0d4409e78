#pragma once
// What the window needs to know about the system it runs on.

#include <windows.h>

namespace kelvora {

// The window's DPI; the system DPI on systems without per-window DPI.
int WindowDpi(HWND window);

// Outer window size for a client size at `dpi`.
SIZE WindowSizeForClient(int client_width, int client_height, DWORD style, DWORD ex_style, int dpi);

// The system's message font at `dpi`; the caller owns it.
HFONT CreateMessageFont(int dpi);

}  // namespace kelvora

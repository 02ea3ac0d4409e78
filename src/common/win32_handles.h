#pragma once
// Owners for the Win32 handle kinds the program uses (WinHTTP's are in
// net/winhttp_api.h, beside the table they are closed through).

#include <windows.h>

#include "common/unique_any.h"

namespace kelvora {

inline void close_handle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void destroy_hwnd(HWND h) noexcept { ::DestroyWindow(h); }
inline void unhook(HHOOK h) noexcept { ::UnhookWindowsHookEx(h); }
inline void find_close(HANDLE h) noexcept { ::FindClose(h); }
inline void delete_font(HFONT h) noexcept { ::DeleteObject(h); }

using unique_handle = unique_any<HANDLE, close_handle>;                      // events, threads, processes
using unique_file = unique_any<HANDLE, close_handle, -1>;                    // CreateFileW results
using unique_find = unique_any<HANDLE, find_close, -1>;                      // FindFirstFileW results
using unique_hwnd = unique_any<HWND, destroy_hwnd>;
using unique_hhook = unique_any<HHOOK, unhook>;
using unique_hfont = unique_any<HFONT, delete_font>;

}  // namespace kelvora

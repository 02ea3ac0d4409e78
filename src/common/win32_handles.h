#pragma once
// Owners for the Win32 handle kinds the program uses (WinHTTP's are in
// net/winhttp_api.h, beside the table they are closed through).

#include <windows.h>

#include "common/unique_any.h"

namespace kelvora {

// Freeing keeps the thread's last error: an owner that goes out of scope on a
// failure path must not overwrite the error that is about to be reported.
class KeepLastError {
 public:
  KeepLastError() noexcept : error_(::GetLastError()) {}
  ~KeepLastError() { ::SetLastError(error_); }
  KeepLastError(const KeepLastError&) = delete;
  KeepLastError& operator=(const KeepLastError&) = delete;

 private:
  DWORD error_;
};

inline void close_handle(HANDLE h) noexcept { KeepLastError keep; ::CloseHandle(h); }
inline void destroy_hwnd(HWND h) noexcept { KeepLastError keep; ::DestroyWindow(h); }
inline void unhook(HHOOK h) noexcept { KeepLastError keep; ::UnhookWindowsHookEx(h); }
inline void find_close(HANDLE h) noexcept { KeepLastError keep; ::FindClose(h); }
inline void delete_font(HFONT h) noexcept { KeepLastError keep; ::DeleteObject(h); }
inline void local_free(wchar_t* text) noexcept { KeepLastError keep; ::LocalFree(text); }
inline void global_free(wchar_t* text) noexcept { KeepLastError keep; ::GlobalFree(text); }
inline void release_screen_dc(HDC dc) noexcept { KeepLastError keep; ::ReleaseDC(nullptr, dc); }

using unique_handle = unique_any<HANDLE, close_handle>;                      // events, threads, processes
using unique_file = unique_any<HANDLE, close_handle, -1>;                    // CreateFileW results
using unique_find = unique_any<HANDLE, find_close, -1>;                      // FindFirstFileW results
using unique_hwnd = unique_any<HWND, destroy_hwnd>;
using unique_hhook = unique_any<HHOOK, unhook>;
using unique_hfont = unique_any<HFONT, delete_font>;
using unique_local_text = unique_any<wchar_t*, local_free>;                  // FORMAT_MESSAGE_ALLOCATE_BUFFER
using unique_global_text = unique_any<wchar_t*, global_free>;                // strings WinHTTP hands out
using unique_screen_dc = unique_any<HDC, release_screen_dc>;                 // GetDC(nullptr)

}  // namespace kelvora

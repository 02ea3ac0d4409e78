#pragma once
// DLLs come from System32 only. The program is usually started from a
// Downloads folder, where anybody may have dropped a DLL named like a system
// one; nothing beside the exe or in the current folder is ever loaded.

#include <windows.h>

#include "common/unique_any.h"

namespace kelvora {

inline void free_library(HMODULE module) noexcept { ::FreeLibrary(module); }
using unique_hmodule = unique_any<HMODULE, free_library>;

// The program's first act: limits the default DLL search to System32 where the
// system can (Windows 8 and later, Windows 7 with KB2533623) and takes the
// current folder out of the search everywhere. The DLLs the installer
// delay-imports (user32, gdi32, comctl32, shell32, ole32: nothing but known
// DLLs is in its import table) load on first use after this; where the search
// could not be limited, the delay-load hook loads them by their full System32
// path. Any thread, before others start.
void RestrictDllSearchToSystem32() noexcept;

// Loads `file_name` (e.g. L"winhttp.dll") from System32 and nowhere else.
// Returns null on failure, with GetLastError set. Any thread.
HMODULE LoadSystemLibrary(const wchar_t* file_name) noexcept;

// A function of a module that is already loaded, or null.
template <typename Function>
Function ModuleFunction(HMODULE module, const char* name) noexcept {
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

}  // namespace kelvora

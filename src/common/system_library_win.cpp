#include "common/system_library_win.h"

#include <delayimp.h>

#include <atomic>
#include <string>

namespace kelvora {

namespace {

// Whether LoadLibraryExW understands LOAD_LIBRARY_SEARCH_SYSTEM32 here.
std::atomic<bool> g_search_flags_supported{false};

// The delay-load helper's hook, before it loads a DLL of a delay import.
// Where the default search could not be limited to System32 (Windows 7
// without its update), the helper's own LoadLibrary would look beside the
// exe first: the DLL is loaded here by its full System32 path instead.
FARPROC WINAPI LoadDelayedDllFromSystem32(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary || g_search_flags_supported || !info || !info->szDll) return nullptr;
  std::wstring name;
  for (const char* c = info->szDll; *c; ++c) name += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  return reinterpret_cast<FARPROC>(LoadSystemLibrary(name.c_str()));
}

}  // namespace

#if defined(_MSC_VER)
// MSVC's delay-load helper takes its hook from this definition.
extern "C" const PfnDliHook __pfnDliNotifyHook2 = LoadDelayedDllFromSystem32;
#endif

void RestrictDllSearchToSystem32() noexcept {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  // kernel32 is mapped into every process; it is not loaded here.
  const auto set_default_dll_directories = ModuleFunction<SetDefaultDllDirectoriesFunction>(
      ::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  if (set_default_dll_directories && set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32))
    g_search_flags_supported = true;
#if !defined(_MSC_VER)
  // MinGW-w64's helper reads its hook from a variable of its own.
  __pfnDliNotifyHook2 = LoadDelayedDllFromSystem32;
#endif
  // Without the update the exe's folder stays in the default search, so every
  // load below names the full System32 path; this drops the current folder.
  ::SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* file_name) noexcept {
  if (g_search_flags_supported) return ::LoadLibraryExW(file_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path += L'\\';
  path += file_name;
  // The altered search takes the DLL's own dependencies from System32 too.
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace kelvora

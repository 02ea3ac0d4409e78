#include "common/system_library_win.h"

#include <atomic>
#include <string>

namespace kelvora {

namespace {

// Whether LoadLibraryExW understands LOAD_LIBRARY_SEARCH_SYSTEM32 here.
std::atomic<bool> g_search_flags_supported{false};

}  // namespace

void RestrictDllSearchToSystem32() noexcept {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  // kernel32 is mapped into every process; it is not loaded here.
  const auto set_default_dll_directories = ModuleFunction<SetDefaultDllDirectoriesFunction>(
      ::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  if (set_default_dll_directories && set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32))
    g_search_flags_supported = true;
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

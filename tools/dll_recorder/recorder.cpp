// kelvora_dll_recorder.dll: planted under the names of DLLs a program might
// load, it records each load. On attach it writes a file
// "<its own file name>.<process id>.loaded" into the folder named by the
// environment variable KELVORA_DLL_RECORDS, holding the path of the process's
// exe. It exports nothing: a program that took it for the real DLL fails
// afterwards, but its load has been recorded by then.

#include <windows.h>

#include <string>

namespace {

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH * 2];
  const DWORD length = ::GetModuleFileNameW(module, path, static_cast<DWORD>(std::size(path)));
  return std::wstring(path, length < std::size(path) ? length : 0);
}

void Record(HMODULE self) {
  wchar_t folder[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(L"KELVORA_DLL_RECORDS", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const std::wstring own = ModulePath(self);
  const std::wstring name = own.substr(own.find_last_of(L"\\/") + 1);
  const std::wstring record = std::wstring(folder) + L"\\" + name + L"." + std::to_wstring(::GetCurrentProcessId()) +
                              L".loaded";
  const HANDLE file = ::CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::wstring exe = ModulePath(nullptr);
  DWORD written = 0;
  ::WriteFile(file, exe.data(), static_cast<DWORD>(exe.size() * sizeof(wchar_t)), &written, nullptr);
  ::CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) Record(self);
  return TRUE;
}

// A stand-in for a launched program: records how it was started in
// launch_target.log beside itself (UTF-16: command line, show command and
// working folder, one per line) and exits with the number given as its first
// argument, so a test can tell that the shell started it with the right
// parameters and that the launcher read its exit code.

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show_command) {
  std::wstring log_path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, log_path.data(), static_cast<DWORD>(log_path.size()));
    if (n == 0) return 1;
    if (n < log_path.size()) {
      log_path.resize(n);
      break;
    }
    log_path.resize(log_path.size() * 2);
  }
  log_path.resize(log_path.find_last_of(L'\\') + 1);
  log_path += L"launch_target.log";

  std::wstring directory(GetCurrentDirectoryW(0, nullptr), L'\0');
  directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));

  const std::wstring record =
      std::wstring(GetCommandLineW()) + L"\n" + std::to_wstring(show_command) + L"\n" + directory + L"\n";
  HANDLE file = CreateFileW(log_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(file);

  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int exit_code = 0;
  if (argv != nullptr && argc > 1) exit_code = static_cast<int>(std::wcstol(argv[1], nullptr, 10));
  LocalFree(argv);
  return exit_code;
}

// kelvora_module_list: waits for a process of the given exe name to start,
// then lists every module it has loaded, looking again every 20 ms until the
// process ends, and prints each module's path once, in the order first seen.
// The planted-DLL test finds the names to plant with it.
//   kelvora_module_list EXE_NAME SECONDS
// Exit code: 0 once the process has ended, 1 when it never appeared or the
// time ran out, 2 for a usage error.

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <set>
#include <string>

namespace {

DWORD FindProcess(const wchar_t* exe_name) {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  DWORD found = 0;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found; more = ::Process32NextW(snapshot, &entry))
    if (::_wcsicmp(entry.szExeFile, exe_name) == 0) found = entry.th32ProcessID;
  ::CloseHandle(snapshot);
  return found;
}

void ListModules(DWORD process_id, std::set<std::wstring>& seen) {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process_id);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Module32FirstW(snapshot, &entry); more; more = ::Module32NextW(snapshot, &entry)) {
    if (seen.insert(entry.szExePath).second) {
      std::wprintf(L"%ls\n", entry.szExePath);
      std::fflush(stdout);
    }
  }
  ::CloseHandle(snapshot);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: kelvora_module_list EXE_NAME SECONDS\n");
    return 2;
  }
  const ULONGLONG deadline = ::GetTickCount64() + 1000ULL * std::wcstoul(argv[2], nullptr, 10);
  DWORD process_id = 0;
  while (!(process_id = FindProcess(argv[1]))) {
    if (::GetTickCount64() >= deadline) return 1;
    ::Sleep(5);
  }
  const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, process_id);
  std::set<std::wstring> seen;
  while (::GetTickCount64() < deadline) {
    ListModules(process_id, seen);
    if (!process || ::WaitForSingleObject(process, 20) == WAIT_OBJECT_0) {
      if (process) ::CloseHandle(process);
      return 0;
    }
  }
  ::CloseHandle(process);
  return 1;
}

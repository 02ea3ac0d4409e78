// kelvora_dll_probe: loads each DLL named on its command line the way a
// careless program would (LoadLibraryW with the bare name, the default search
// with the exe's own folder first) and prints "<name> loaded" or
// "<name> failed <error>". The control for planted recording DLLs: beside this
// exe they must be found and run.
//   kelvora_dll_probe NAME...
// Exit code: the number of names that failed to load.

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  int failed = 0;
  for (int i = 1; i < argc; ++i) {
    if (::LoadLibraryW(argv[i])) {
      std::wprintf(L"%ls loaded\n", argv[i]);
    } else {
      std::wprintf(L"%ls failed %lu\n", argv[i], ::GetLastError());
      ++failed;
    }
  }
  return failed;
}

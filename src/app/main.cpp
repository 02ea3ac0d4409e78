#include <windows.h>

#include "app/startup_win.h"
#include "common/system_library_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  kelvora::RestrictDllSearchToSystem32();
  // The command line is not read: only the show command matters.
  int exit_code = 1;
  try {
    exit_code = kelvora::RunInstaller(instance, show_command,
                                      [](kelvora::TFormKelvoraInstaller& form) { form.SampleDownload(); });
  } catch (...) {
  }
  kelvora::ExitInstaller(exit_code);
}

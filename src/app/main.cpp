#include <windows.h>

#include "app/startup_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  // The command line is not read: only the show command matters.
  int exit_code = 1;
  try {
    exit_code = kelvora::RunInstaller(instance, show_command,
                                      [](kelvora::TFormKelvoraInstaller& form) { form.SampleDownload(); });
  } catch (...) {
  }
  kelvora::ExitInstaller(exit_code);
}

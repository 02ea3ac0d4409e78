#pragma once
// Start-up of the installer: initialises the user interface, creates the
// installer window (which asks for consent and starts the coordinator) and
// runs the event loop until the window's close ends the application.

#include <windows.h>

#include "window/FDownloadDemo.h"

namespace kelvora {

// UI thread (the process's first thread). Returns the process exit code.
int RunInstaller(HINSTANCE instance, int show_command, TFormKelvoraInstaller::Coordinator coordinator,
                 TFormKelvoraInstaller::ThreadStarter start_thread = StartSelfFreeingThread);

// Ends the process without waiting for background threads: a coordinator
// still waiting for a step, or a worker inside a network call, must neither
// hold up the exit nor see the program's objects destroyed under it.
[[noreturn]] void ExitInstaller(int exit_code);

}  // namespace kelvora

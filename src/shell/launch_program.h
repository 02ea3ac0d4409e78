#pragma once
// Opening a file through the Windows shell as a new process.

#include <cstdint>
#include <string>

namespace kelvora {

// Asks the shell to "open" `file_name` (quoted) with `parameters`, working
// folder the file's quoted directory part, first window shown with
// `show_command`. With `wait` it blocks, without a time limit, until the new
// process ends. Returns the process's exit code: STILL_ACTIVE (259) when not
// waited for; 0 when `file_name` is empty (nothing is done), when the shell
// started no process, or when the exit code cannot be read. The shell's own
// failure messages are not suppressed; its result is not examined. The
// process handle is closed before returning. Call on the UI thread (the shell
// may show a message box owned by the foreground window); does not throw
// except std::bad_alloc.
//
// Each program links its own definition (the library that calls it leaves it
// open): the installer's calls ShellExecuteExW directly
// (launch_program_win.cpp); the Win32 tests link one whose shell call they
// can replace.
uint32_t LaunchProgram(const std::wstring& file_name, const std::wstring& parameters, bool wait,
                       uint16_t show_command);

}  // namespace kelvora

#pragma once
// What LaunchProgram does around the shell call, shared by every definition
// of it: the installer's calls the shell's function directly, the Win32
// tests' one they can replace.

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "common/win32_handles.h"
#include "shell/launch_request.h"

namespace kelvora {

// LaunchProgram (shell/launch_program.h) with `shell_execute`, called as
// ShellExecuteExW would be, in place of the shell's function.
template <class ShellExecute>
uint32_t LaunchThroughShell(ShellExecute&& shell_execute, const std::wstring& file_name,
                            const std::wstring& parameters, bool wait, uint16_t show_command) {
  if (file_name.empty()) return 0;
  const LaunchRequest request = MakeLaunchRequest(file_name, parameters, show_command);

  // The wide call keeps every character of the path: a user folder with
  // letters outside the ANSI code page still launches.
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = ::GetForegroundWindow();
  info.lpVerb = request.verb.c_str();
  info.lpFile = request.file.c_str();
  info.lpParameters = request.parameters.c_str();
  info.lpDirectory = request.directory.c_str();
  info.nShow = request.show_command;
  shell_execute(&info);  // failures are not reported to the caller

  // The shell may open a file without starting a process: no handle then.
  if (info.hProcess == nullptr) return 0;
  const unique_handle process(info.hProcess);
  if (wait) ::WaitForSingleObject(process.get(), INFINITE);
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process.get(), &exit_code)) return 0;
  return exit_code;
}

}  // namespace kelvora

#pragma once
// The Win32 tests' LaunchProgram (shell/launch_program.h): the same as the
// installer's, but its shell call goes through a function a test can replace.

#include <windows.h>
#include <shellapi.h>

namespace kelvora {

using ShellExecuteFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW* info);

// The function LaunchProgram hands its request to, ShellExecuteExW unless
// replaced. Returns the one it replaces; nullptr restores the default.
ShellExecuteFunction ReplaceShellExecuteForTesting(ShellExecuteFunction function);

}  // namespace kelvora

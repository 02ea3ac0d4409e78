#include "replaceable_launch_program_win.h"

#include <atomic>

#include "shell/launch_program.h"
#include "shell/launch_through_shell_win.h"

namespace kelvora {

namespace {

std::atomic<ShellExecuteFunction> g_shell_execute{&::ShellExecuteExW};

}  // namespace

ShellExecuteFunction ReplaceShellExecuteForTesting(ShellExecuteFunction function) {
  return g_shell_execute.exchange(function != nullptr ? function : &::ShellExecuteExW);
}

uint32_t LaunchProgram(const std::wstring& file_name, const std::wstring& parameters, bool wait,
                       uint16_t show_command) {
  return LaunchThroughShell(g_shell_execute.load(), file_name, parameters, wait, show_command);
}

}  // namespace kelvora

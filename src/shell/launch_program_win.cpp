#include "shell/launch_program.h"

#include "shell/launch_through_shell_win.h"

namespace kelvora {

uint32_t LaunchProgram(const std::wstring& file_name, const std::wstring& parameters, bool wait,
                       uint16_t show_command) {
  return LaunchThroughShell([](SHELLEXECUTEINFOW* info) { return ::ShellExecuteExW(info); }, file_name, parameters,
                            wait, show_command);
}

}  // namespace kelvora

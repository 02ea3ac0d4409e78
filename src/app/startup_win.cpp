#include "app/startup_win.h"

#include <utility>

#include "ui/com_apartment_win.h"

namespace kelvora {

int RunInstaller(HINSTANCE instance, int show_command, TFormKelvoraInstaller::Coordinator coordinator,
                 TFormKelvoraInstaller::ThreadStarter start_thread) {
  // The UI thread's apartment comes first, before any window or launch.
  static ui::ComApartment apartment;
  // Both live until the process ends: threads may still refer to them.
  static ui::Application application(instance);
  static TFormKelvoraInstaller form(application, std::move(coordinator), std::move(start_thread));
  form.Create();
  form.ShowFirst(show_command);
  application.Run();
  return 0;
}

void ExitInstaller(int exit_code) {
  ::ExitProcess(static_cast<UINT>(exit_code));
}

}  // namespace kelvora

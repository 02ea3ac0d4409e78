// The installer's window and start-up with a test coordinator in place of the
// download, so that tests can drive the close protocol and the dialogs:
//   Kelvora_Test_Installer.exe hold           hands a step to the UI thread every 100 ms that sets the
//                                             label to "Schritt <n>", until the event KelvoraTestRelease
//                                             is set; then allows the close and requests it
//   Kelvora_Test_Installer.exe plain-message  shows the program's failure message, then allows and requests the close
//   Kelvora_Test_Installer.exe fail-thread    the coordinator's thread cannot be started
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <system_error>

#include "app/startup_win.h"
#include "common/win32_handles.h"
#include "ui/dialogs_win.h"
#include "window/FDownloadDemo.h"

namespace {

using kelvora::TFormKelvoraInstaller;

void EndRun(TFormKelvoraInstaller& form) {
  form.FAllowFormClose = true;
  form.RunOnUiThread([] { kelvora::FormKelvoraInstaller->CloseAtRunEnd(); });
}

void HoldUntilReleased(TFormKelvoraInstaller& form) {
  kelvora::unique_handle release(::CreateEventW(nullptr, TRUE, FALSE, L"KelvoraTestRelease"));
  for (int step = 1; release && ::WaitForSingleObject(release.get(), 100) == WAIT_TIMEOUT; ++step)
    form.RunOnUiThread([&form, step] { form.Label1.SetCaption(L"Schritt " + std::to_wstring(step)); });
  EndRun(form);
}

void ShowFailure(TFormKelvoraInstaller& form) {
  form.RunOnUiThread([&form] { kelvora::ui::ShowPlainMessage(form.Application().Handle(), kelvora::kDownloadFailedText); });
  EndRun(form);
}

std::wstring Mode() {
  int count = 0;
  LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::wstring mode = arguments && count > 1 ? arguments[1] : L"";
  ::LocalFree(arguments);
  return mode;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  const std::wstring mode = Mode();
  TFormKelvoraInstaller::Coordinator coordinator = mode == L"plain-message" ? ShowFailure : HoldUntilReleased;
  TFormKelvoraInstaller::ThreadStarter start_thread = kelvora::StartSelfFreeingThread;
  if (mode == L"fail-thread")
    start_thread = [](std::function<void()>) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
  int exit_code = 1;
  try {
    exit_code = kelvora::RunInstaller(instance, show_command, coordinator, start_thread);
  } catch (...) {
  }
  kelvora::ExitInstaller(exit_code);
}

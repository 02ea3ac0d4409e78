#include "ui/application_win.h"

#include <commctrl.h>

#include "common/win32_error.h"

namespace kelvora::ui {

namespace {
constexpr wchar_t kWindowClass[] = L"TApplication.Kelvora";
// Posted to the hidden window for each step handed over; dispatching it runs
// the queue, wherever the dispatch happens (main loop, close wait, modal loop).
constexpr UINT kRunStepsMessage = WM_APP + 1;
}  // namespace

Application::Application(HINSTANCE instance) : instance_(instance) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = kWindowClass;
  if (!::RegisterClassExW(&window_class) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    ThrowLastError("RegisterClassExW");

  window_.reset(::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  instance, nullptr));
  if (!window_) ThrowLastError("CreateWindowExW");
  const HWND handle = window_.get();
  steps_ = std::make_unique<StepQueue>([handle] { ::PostMessageW(handle, kRunStepsMessage, 0, 0); });
  ::SetWindowLongPtrW(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Application::~Application() = default;

LRESULT CALLBACK Application::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kRunStepsMessage) {
    auto* self = reinterpret_cast<Application*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self) self->steps_->RunPending();
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void Application::Terminate() {
  terminated_ = true;
  ::PostQuitMessage(0);
}

bool Application::ProcessMessage() {
  MSG message;
  if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  if (message.message == WM_QUIT) {
    terminated_ = true;
    return true;
  }
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
  return true;
}

void Application::ProcessMessages() {
  while (ProcessMessage()) {
  }
}

void Application::Run() {
  while (!terminated_) {
    if (!ProcessMessage()) {
      // Idle: run what background threads handed over, then sleep until the
      // next event (each hand-over posts one).
      steps_->RunPending();
      if (!terminated_) ::WaitMessage();
    }
  }
}

}  // namespace kelvora::ui

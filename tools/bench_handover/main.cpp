// The cost of one hand-over of a step to the UI thread, as every progress
// notification makes: a background thread hands over N steps one after
// another and waits for each, while the UI thread runs its event loop.
//   kelvora_bench_handover.exe [COUNT]                   empty steps
//   kelvora_bench_handover.exe display [COUNT [WORK_US]] the display update of a download
//     (bar value and speed text) on a shown window with the installer's two controls; the
//     background thread busies itself for WORK_US microseconds between steps, as a worker
//     reading its next chunk does, so that painting can happen meanwhile
// Prints the microseconds per step as the handing thread sees them.
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <thread>

#include "ui/application_win.h"
#include "window/controls_win.h"
#include "window/progress_text.h"

namespace {

void Busy(int microseconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(microseconds);
  while (std::chrono::steady_clock::now() < until) {
  }
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool display = argc > 1 && std::wcscmp(argv[1], L"display") == 0;
  const int first = display ? 2 : 1;
  const int count = argc > first ? static_cast<int>(std::wcstol(argv[first], nullptr, 10)) : 20000;
  const int work_us = argc > first + 1 ? static_cast<int>(std::wcstol(argv[first + 1], nullptr, 10)) : 0;
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  kelvora::ui::Application application(instance);

  kelvora::TLabel label;
  kelvora::TProgressBar bar;
  if (display) {
    WNDCLASSEXW frame_class{};
    frame_class.cbSize = sizeof(frame_class);
    frame_class.lpfnWndProc = FrameProc;
    frame_class.hInstance = instance;
    frame_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frame_class.lpszClassName = L"KelvoraBenchFrame";
    ::RegisterClassExW(&frame_class);
    const HWND frame = ::CreateWindowExW(0, frame_class.lpszClassName, L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                         640, 228, nullptr, nullptr, instance, nullptr);
    bar.Attach(::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 16, 40, 600, 24, frame, nullptr,
                                 instance, nullptr));
    label.Attach(::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 16, 100, 600, 40,
                                   frame, nullptr, instance, nullptr));
    bar.SetUpSlot(static_cast<double>(count) * 16384);
    label.SetCaption(kelvora::SetupSpeedText());
    ::UpdateWindow(frame);
  }

  double microseconds = 0;
  std::thread worker([&] {
    int ran = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
      if (display) {
        // A speed that keeps changing, as an average over a running transfer does.
        const std::int32_t speed = 40'000'000 + (i % 977) * 1024;
        const std::int64_t read = static_cast<std::int64_t>(i + 1) * 16384;
        application.Steps().Run([&] {
          bar.SetPosition(static_cast<double>(read));
          label.SetCaption(kelvora::SpeedText(speed).view());
        });
        Busy(work_us);
      } else {
        application.Steps().Run([&ran] { ++ran; });
      }
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    microseconds = std::chrono::duration<double, std::micro>(elapsed).count() / count;
    application.Steps().Run([&application] { application.Terminate(); });
  });
  application.Run();
  worker.join();
  std::printf("%.1f\n", microseconds);
  return 0;
}

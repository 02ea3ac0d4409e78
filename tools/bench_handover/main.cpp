// The cost of one hand-over of a step to the UI thread, as every progress
// notification makes: a background thread hands over N empty steps one after
// another and waits for each, while the UI thread runs its event loop.
//   kelvora_bench_handover.exe [COUNT]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <thread>

#include "ui/application_win.h"

int wmain(int argc, wchar_t** argv) {
  const int count = argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 20000;
  kelvora::ui::Application application(::GetModuleHandleW(nullptr));
  double microseconds = 0;
  std::thread worker([&] {
    int ran = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) application.Steps().Run([&ran] { ++ran; });
    const auto elapsed = std::chrono::steady_clock::now() - start;
    microseconds = std::chrono::duration<double, std::micro>(elapsed).count() / count;
    application.Steps().Run([&application] { application.Terminate(); });
  });
  application.Run();
  worker.join();
  std::printf("%.1f\n", microseconds);
  return 0;
}

#include "window/progress_text.h"

namespace kelvora {

std::wstring SetupSpeedText() { return L"0 KB/s"; }

std::wstring DownloadSpeedText(int32_t speed) {
  // C++ integer division truncates toward zero, and INT32_MIN / 1024 cannot overflow.
  const int32_t kilobytes = speed / 1024;
  return L"Download: " + std::to_wstring(kilobytes) + L" KB/s";
}

}  // namespace kelvora

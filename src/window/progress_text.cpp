#include "window/progress_text.h"

namespace kelvora {

std::wstring SetupSpeedText() { return L"0 KB/s"; }

SpeedText::SpeedText(int32_t speed) {
  constexpr std::wstring_view kPrefix = L"Download: ", kSuffix = L" KB/s";
  // C++ integer division truncates toward zero, and INT32_MIN / 1024 cannot overflow.
  const int32_t kilobytes = speed / 1024;
  for (wchar_t c : kPrefix) chars_[size_++] = c;
  if (kilobytes < 0) chars_[size_++] = L'-';
  wchar_t digits[10];
  std::size_t count = 0;
  // Negated digit by digit, so no value needs a positive counterpart.
  for (int32_t rest = kilobytes; count == 0 || rest != 0; rest /= 10)
    digits[count++] = static_cast<wchar_t>(L'0' + (rest < 0 ? -(rest % 10) : rest % 10));
  while (count > 0) chars_[size_++] = digits[--count];
  for (wchar_t c : kSuffix) chars_[size_++] = c;
}

std::wstring DownloadSpeedText(int32_t speed) { return std::wstring(SpeedText(speed).view()); }

}  // namespace kelvora

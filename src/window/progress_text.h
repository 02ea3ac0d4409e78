#pragma once
// The texts of a display slot's label.

#include <cstdint>
#include <string>

namespace kelvora {

// What the label shows once its slot is set up, before any data arrive.
std::wstring SetupSpeedText();

// "Download: <n> KB/s" with n = speed div 1024, truncated toward zero, as a
// plain decimal (leading "-" when negative, no padding or grouping).
// Any thread may call these; they throw only std::bad_alloc.
std::wstring DownloadSpeedText(int32_t speed);

}  // namespace kelvora

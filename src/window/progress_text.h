#pragma once
// The texts of a display slot's label.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvora {

// What the label shows once its slot is set up, before any data arrive.
std::wstring SetupSpeedText();

// "Download: <n> KB/s" with n = speed div 1024, truncated toward zero, as a
// plain decimal (leading "-" when negative, no padding or grouping), held in
// the object itself: the display update makes one per chunk, without
// allocating. Any thread; does not throw.
class SpeedText {
 public:
  explicit SpeedText(int32_t speed);
  std::wstring_view view() const { return {chars_, size_}; }

 private:
  wchar_t chars_[32];
  std::size_t size_ = 0;
};

// The same text as a string. Any thread may call these; they throw only
// std::bad_alloc.
std::wstring DownloadSpeedText(int32_t speed);

}  // namespace kelvora

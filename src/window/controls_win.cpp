#include "window/controls_win.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelvora {

void TLabel::SetCaption(const std::wstring& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  ::SetWindowTextW(handle_, caption_.c_str());
}

void TProgressBar::Attach(HWND handle) {
  handle_ = handle;
  Show();
}

void TProgressBar::SetMin(double value) {
  if (value == min_) return;
  min_ = value;
  if (max_ < min_) max_ = min_;
  position_ = std::clamp(position_, min_, max_);
  Show();
}

void TProgressBar::SetMax(double value) {
  if (value == max_) return;
  max_ = value;
  if (max_ < min_) max_ = min_;
  position_ = std::clamp(position_, min_, max_);
  Show();
}

void TProgressBar::SetPosition(double value) {
  if (value == position_) return;
  position_ = std::clamp(value, min_, max_);
  Show();
}

// The native control counts in ints: ranges that fit are shown as they are,
// larger ones are scaled down so the fill stays right.
void TProgressBar::Show() {
  if (!handle_) return;
  const double span = max_ - min_;
  constexpr double kLimit = std::numeric_limits<int>::max();
  const double scale = (std::fabs(min_) <= kLimit && std::fabs(max_) <= kLimit) ? 1.0 : kLimit / std::max(std::fabs(min_), std::fabs(max_));
  const int low = static_cast<int>(std::floor(min_ * scale));
  const int high = span > 0 ? static_cast<int>(std::floor(max_ * scale)) : low;
  ::SendMessageW(handle_, PBM_SETRANGE32, low, high);
  ::SendMessageW(handle_, PBM_SETPOS, static_cast<int>(std::floor(position_ * scale)), 0);
}

}  // namespace kelvora

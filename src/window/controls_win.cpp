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
  Resized();
  Show(true);
}

void TProgressBar::SetMin(double value) { Show(model_.SetMinimum(value)); }
void TProgressBar::SetMax(double value) { Show(model_.SetMaximum(value)); }
void TProgressBar::SetPosition(double value) { Show(model_.SetValue(value)); }
void TProgressBar::SetUpSlot(double maximum) { Show(SetUpSlotBar(model_, maximum)); }

void TProgressBar::Resized() {
  RECT client{};
  if (handle_ && ::GetClientRect(handle_, &client)) model_.SetInnerLength(client.right - client.left);
}

// The native control counts in ints: ranges that fit are handed over as they
// are, so that the control reports the same numbers; larger ones are scaled
// down alike, which keeps the fill right. A new value reaches the control only
// when the fill it draws changes: repainting the bar for every 16 KB that
// arrives would cost more than the transfer itself.
void TProgressBar::Show(bool changed) {
  if (!changed || !handle_) return;
  constexpr double kLimit = std::numeric_limits<int>::max();
  const double largest = std::max(std::fabs(model_.minimum()), std::fabs(model_.maximum()));
  const double scale = largest <= kLimit ? 1.0 : kLimit / largest;
  const auto to_int = [scale](double value) { return static_cast<int>(std::floor(value * scale)); };
  const bool range_changed = model_.minimum() != shown_minimum_ || model_.maximum() != shown_maximum_;
  const bool value_is_an_end = model_.value() == model_.minimum() || model_.value() == model_.maximum();
  if (!range_changed && !value_is_an_end && model_.fill_length() == shown_fill_) return;
  if (range_changed) ::SendMessageW(handle_, PBM_SETRANGE32, to_int(model_.minimum()), to_int(model_.maximum()));
  ::SendMessageW(handle_, PBM_SETPOS, to_int(model_.value()), 0);
  shown_minimum_ = model_.minimum();
  shown_maximum_ = model_.maximum();
  shown_fill_ = model_.fill_length();
}

}  // namespace kelvora

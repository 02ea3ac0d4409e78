#include "window/controls_win.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelvora {

namespace {

// Gives a control its new state without letting it paint there and then:
// its visible bit is cleared for the moment (what WM_SETREDRAW FALSE does,
// but without throwing away what is already waiting to be painted), so the
// control takes the new text or value, and everyone who asks it (WM_GETTEXT,
// PBM_GETPOS, accessibility) sees it at once, while the painting waits for
// the caller's invalidation and happens when the UI thread is idle. A worker
// that hands over a display update is thus released before any pixel is
// drawn and reads its next chunk meanwhile.
template <class Change>
void WithoutImmediatePaint(HWND control, Change&& change) {
  const LONG_PTR style = ::GetWindowLongPtrW(control, GWL_STYLE);
  if (!(style & WS_VISIBLE)) {
    change();
    return;
  }
  ::SetWindowLongPtrW(control, GWL_STYLE, style & ~WS_VISIBLE);
  change();
  ::SetWindowLongPtrW(control, GWL_STYLE, style);
}

// One frame of a 60 Hz screen. The timer belongs to the control's window and
// goes with it, before the TLabel that it points to.
constexpr UINT kFrameMilliseconds = 16;

}  // namespace

void TLabel::SetCaption(std::wstring_view caption) {
  if (caption == caption_) return;
  caption_.assign(caption);
  if (!handle_) return;
  WithoutImmediatePaint(handle_, [this] { ::SetWindowTextW(handle_, caption_.c_str()); });
  // At full speed the text changes with nearly every 16 KB, thousands of
  // times a second; painting each would hold the transfer up for nothing the
  // eye could see. One repaint per screen frame shows the latest text.
  if (repaint_pending_) return;
  if (::SetTimer(handle_, reinterpret_cast<UINT_PTR>(this), kFrameMilliseconds, RepaintNow))
    repaint_pending_ = true;
  else
    ::InvalidateRect(handle_, nullptr, TRUE);
}

void CALLBACK TLabel::RepaintNow(HWND control, UINT, UINT_PTR self, DWORD) {
  ::KillTimer(control, self);
  reinterpret_cast<TLabel*>(self)->repaint_pending_ = false;
  ::InvalidateRect(control, nullptr, TRUE);
}

void TProgressBar::Attach(HWND handle) {
  handle_ = handle;
  Resized();
  Show(true);
}

void TProgressBar::SetPosition(double value) { Show(model_.SetValue(value)); }
void TProgressBar::SetUpSlot(double maximum) { Show(SetUpSlotBar(model_, maximum)); }

void TProgressBar::Resized() {
  RECT client{};
  if (handle_ && ::GetClientRect(handle_, &client)) model_.SetInnerLength(client.right - client.left);
}

// The native control counts in ints: ranges that fit are handed over as they
// are, so that the control reports the same numbers; larger ones are scaled
// down alike, which keeps the fill right. Every new value reaches the control
// at once; the bar is repainted only when the fill it draws changes (or the
// range does, or the value reaches an end), since repainting it for every
// 16 KB that arrive would cost more than the transfer itself.
void TProgressBar::Show(bool changed) {
  if (!changed || !handle_) return;
  constexpr double kLimit = std::numeric_limits<int>::max();
  const double largest = std::max(std::fabs(model_.minimum()), std::fabs(model_.maximum()));
  const double scale = largest <= kLimit ? 1.0 : kLimit / largest;
  const auto to_int = [scale](double value) { return static_cast<int>(std::floor(value * scale)); };
  const bool range_changed = model_.minimum() != shown_minimum_ || model_.maximum() != shown_maximum_;
  const bool value_is_an_end = model_.value() == model_.minimum() || model_.value() == model_.maximum();
  const bool repaint = range_changed || value_is_an_end || model_.fill_length() != shown_fill_;
  WithoutImmediatePaint(handle_, [&] {
    if (range_changed) ::SendMessageW(handle_, PBM_SETRANGE32, to_int(model_.minimum()), to_int(model_.maximum()));
    ::SendMessageW(handle_, PBM_SETPOS, to_int(model_.value()), 0);
  });
  if (repaint) ::InvalidateRect(handle_, nullptr, TRUE);
  shown_minimum_ = model_.minimum();
  shown_maximum_ = model_.maximum();
  shown_fill_ = model_.fill_length();
}

}  // namespace kelvora

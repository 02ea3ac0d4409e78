#include "window/controls_win.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelvora {

namespace {

// Twenty looks a second: the fill moves on smoothly, and a speed that
// changed more often could not be read anyway. (The system's themed bar
// glides between the positions it is given by itself.)
constexpr UINT kPaceMilliseconds = 50;
// The controls' own subclasses; each control has one.
constexpr UINT_PTR kAnswerSubclass = 1;

}  // namespace

// A new text or value arrives with nearly every 16 KB of a download, thousands
// of times a second at full speed, and the worker that handed it over waits
// while the UI thread takes it. Giving each to the native control would cost
// trips to the window server, and painting each far more: under Wine a
// themed bar is drawn whole, in about 1.5 ms.
void PacedDisplay::ShowAtNextTick(HWND control) {
  if (pending_) return;
  if (::SetTimer(control, reinterpret_cast<UINT_PTR>(this), kPaceMilliseconds, OnTick))
    pending_ = true;
  else
    ShowNow();
}

void CALLBACK PacedDisplay::OnTick(HWND control, UINT, UINT_PTR self, DWORD) {
  ::KillTimer(control, self);
  auto* paced = reinterpret_cast<PacedDisplay*>(self);
  paced->pending_ = false;
  paced->ShowNow();
}

void TLabel::Attach(HWND handle) {
  handle_ = handle;
  ::SetWindowSubclass(handle_, AnswerText, kAnswerSubclass, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK TLabel::AnswerText(HWND label, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                    DWORD_PTR self) {
  const std::wstring& caption = reinterpret_cast<const TLabel*>(self)->caption_;
  switch (message) {
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(caption.size());
    case WM_GETTEXT: {
      auto* buffer = reinterpret_cast<wchar_t*>(lparam);
      if (wparam == 0 || !buffer) return 0;
      const std::size_t count = std::min<std::size_t>(caption.size(), wparam - 1);
      std::copy_n(caption.data(), count, buffer);
      buffer[count] = L'\0';
      return static_cast<LRESULT>(count);
    }
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(label, AnswerText, id);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(label, message, wparam, lparam);
}

void TLabel::SetCaption(std::wstring_view caption) {
  if (caption == caption_) return;
  caption_.assign(caption);
  if (handle_) ShowAtNextTick(handle_);
}

// The static control paints its new text there and then: the UI thread is idle.
void TLabel::ShowNow() { ::SetWindowTextW(handle_, caption_.c_str()); }

void TProgressBar::Attach(HWND handle) {
  handle_ = handle;
  ::SetWindowSubclass(handle_, AnswerPosition, kAnswerSubclass, reinterpret_cast<DWORD_PTR>(this));
  Resized();
  Show(true);
}

LRESULT CALLBACK TProgressBar::AnswerPosition(HWND bar, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                              DWORD_PTR self) {
  if (message == PBM_GETPOS) return reinterpret_cast<const TProgressBar*>(self)->position_;
  if (message == WM_NCDESTROY) ::RemoveWindowSubclass(bar, AnswerPosition, id);
  return ::DefSubclassProc(bar, message, wparam, lparam);
}

void TProgressBar::SetPosition(double value) { Show(model_.SetValue(value)); }
void TProgressBar::SetUpSlot(double maximum) { Show(SetUpSlotBar(model_, maximum)); }

void TProgressBar::Resized() {
  RECT client{};
  if (handle_ && ::GetClientRect(handle_, &client) && model_.SetInnerLength(client.right - client.left))
    ShowAtNextTick(handle_);  // the fill has another length: the control draws the latest value
}

// The native control counts in ints: ranges that fit are handed over as they
// are, so that the control reports the same numbers; larger ones are scaled
// down alike, which keeps the fill right. When the control is given a new
// value is ShownBar's rule.
void TProgressBar::Show(bool changed) {
  if (!changed || !handle_) return;
  constexpr double kLimit = std::numeric_limits<int>::max();
  const double largest = std::max(std::fabs(model_.minimum()), std::fabs(model_.maximum()));
  const double scale = largest <= kLimit ? 1.0 : kLimit / largest;
  const auto to_int = [scale](double value) { return static_cast<int>(std::floor(value * scale)); };
  position_ = to_int(model_.value());
  const ShownBar::Change change = shown_.Take(model_);
  if (change.range) {
    // Once a run: everyone asking for the range (PBM_GETRANGE) sees it at once.
    ::SendMessageW(handle_, PBM_SETRANGE32, to_int(model_.minimum()), to_int(model_.maximum()));
    ShowNow();
  } else if (change.repaint) {
    ShowAtNextTick(handle_);
  }
}

// The control invalidates what the new position changes and paints it there
// and then: the UI thread is idle.
void TProgressBar::ShowNow() { ::SendMessageW(handle_, PBM_SETPOS, position_, 0); }

}  // namespace kelvora

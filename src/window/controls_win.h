#pragma once
// Thin owners of the window's two control kinds. UI thread only.

#include <windows.h>

#include <string>
#include <string_view>

#include "window/progress_bar_model.h"

namespace kelvora {

// Brings a control's look up to date with its owner's numbers at the next
// tick of a 50 ms pace, when the UI thread is idle, once however often the
// numbers change in between. The timer belongs to the control's window and
// goes with it, before the owner that it points to.
class PacedDisplay {
 protected:
  PacedDisplay() = default;
  ~PacedDisplay() = default;
  void ShowAtNextTick(HWND control);
  virtual void ShowNow() = 0;

 private:
  static void CALLBACK OnTick(HWND control, UINT, UINT_PTR self, DWORD);
  bool pending_ = false;
};

// A text label whose text is a Unicode string; setting the text it already
// has does nothing. A new text is the label's at once: WM_GETTEXT and
// WM_GETTEXTLENGTH answer it, for this program, other programs and screen
// readers alike. The native control takes it, and paints it, at the next
// tick. Its window goes before the TLabel that its subclass points to.
class TLabel : private PacedDisplay {
 public:
  void Attach(HWND handle);
  HWND Handle() const { return handle_; }
  const std::wstring& Caption() const { return caption_; }
  void SetCaption(std::wstring_view caption);

 private:
  static LRESULT CALLBACK AnswerText(HWND label, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                     DWORD_PTR self);
  void ShowNow() override;
  HWND handle_ = nullptr;
  std::wstring caption_ = L"Label1";
};

// A horizontal progress bar whose minimum, maximum and value are doubles;
// the numbers follow ProgressBarModel. A new range goes to the native control
// at once. A new value is the bar's position at once (PBM_GETPOS answers it);
// the native control takes it, and paints it, at the next tick, and only
// when the fill it draws has changed or the value stands at an end. Its
// window goes before the TProgressBar that its subclass points to.
class TProgressBar : private PacedDisplay {
 public:
  void Attach(HWND handle);
  HWND Handle() const { return handle_; }
  void SetPosition(double value);
  // Sets maximum, then minimum 0, then value 0, as a slot is set up.
  void SetUpSlot(double maximum);
  // The track's length changed (the window was resized or rescaled).
  void Resized();

 private:
  static LRESULT CALLBACK AnswerPosition(HWND bar, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                         DWORD_PTR self);
  void Show(bool changed);
  void ShowNow() override;
  HWND handle_ = nullptr;
  ProgressBarModel model_;
  int position_ = 0;  // the value as the native control counts
  ShownBar shown_;
};

}  // namespace kelvora

#pragma once
// Thin owners of the window's two control kinds. UI thread only.

#include <windows.h>

#include <string>
#include <string_view>

#include "window/progress_bar_model.h"

namespace kelvora {

// A text label whose text is a Unicode string; setting the text it already
// shows does nothing. A new text is the control's at once; it is painted at
// the next frame of the screen (about 60 a second) once the UI thread is idle,
// however often it changes in between.
class TLabel {
 public:
  void Attach(HWND handle) { handle_ = handle; }
  HWND Handle() const { return handle_; }
  const std::wstring& Caption() const { return caption_; }
  void SetCaption(std::wstring_view caption);

 private:
  static void CALLBACK RepaintNow(HWND control, UINT, UINT_PTR self, DWORD);
  HWND handle_ = nullptr;
  std::wstring caption_ = L"Label1";
  bool repaint_pending_ = false;
};

// A horizontal progress bar whose minimum, maximum and value are doubles;
// the numbers follow ProgressBarModel, and the native control is touched only
// when they change. Both controls take a new text or value at once but paint
// it only when the UI thread is idle.
class TProgressBar {
 public:
  void Attach(HWND handle);
  HWND Handle() const { return handle_; }
  void SetPosition(double value);
  // Sets maximum, then minimum 0, then value 0, as a slot is set up.
  void SetUpSlot(double maximum);
  // The track's length changed (the window was resized or rescaled).
  void Resized();

 private:
  void Show(bool changed);
  HWND handle_ = nullptr;
  ProgressBarModel model_;
  // What the native control was last given.
  double shown_minimum_ = -1;
  double shown_maximum_ = -1;
  std::int64_t shown_fill_ = -1;
};

}  // namespace kelvora

#pragma once
// Thin owners of the window's two control kinds. UI thread only.

#include <windows.h>

#include <string>

namespace kelvora {

// A text label whose text is a Unicode string; setting the text it already
// shows does nothing.
class TLabel {
 public:
  void Attach(HWND handle) { handle_ = handle; }
  HWND Handle() const { return handle_; }
  const std::wstring& Caption() const { return caption_; }
  void SetCaption(const std::wstring& caption);

 private:
  HWND handle_ = nullptr;
  std::wstring caption_ = L"Label1";
};

// A horizontal progress bar whose minimum, maximum and value are doubles.
class TProgressBar {
 public:
  void Attach(HWND handle);
  HWND Handle() const { return handle_; }
  double Min() const { return min_; }
  double Max() const { return max_; }
  double Position() const { return position_; }
  void SetMin(double value);
  void SetMax(double value);
  void SetPosition(double value);

 private:
  void Show();
  HWND handle_ = nullptr;
  double min_ = 0;
  double max_ = 100;
  double position_ = 0;
};

}  // namespace kelvora

#pragma once
// The UI thread's application object: the hidden application window, the
// event loop, the hand-over of steps from background threads, and the end of
// the program. One per process, created and used on the UI thread only
// (Steps().Run may be called from any thread).

#include <windows.h>

#include <atomic>
#include <memory>

#include "common/win32_handles.h"
#include "ui/step_queue.h"

namespace kelvora::ui {

class Application {
 public:
  // Initialises the common controls and creates the hidden application
  // window: a zero-sized top-level window at (0, 0) that is never shown and
  // stands in as dialog owner. Throws Win32Error when it cannot be created.
  explicit Application(HINSTANCE instance);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  HINSTANCE Instance() const { return instance_; }
  HWND Handle() const { return window_.get(); }
  StepQueue& Steps() { return *steps_; }

  // The window whose close ends the application.
  void SetMainWindow(HWND window) { main_window_ = window; }
  HWND MainWindow() const { return main_window_; }

  // Ends the application: the event loop stops at its next pass.
  void Terminate();

  // Dispatches every pending event, then returns.
  void ProcessMessages();

  // Runs the event loop until Terminate; runs queued steps when idle.
  void Run();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  bool ProcessMessage();

  HINSTANCE instance_;
  unique_hwnd window_;
  std::unique_ptr<StepQueue> steps_;
  HWND main_window_ = nullptr;
  bool terminated_ = false;
};

}  // namespace kelvora::ui

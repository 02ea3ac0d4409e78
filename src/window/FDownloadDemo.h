#pragma once
// The installer window: its controls and layout, the start confirmation, the
// close protocol, and (in the download files beside it) the coordinator and
// the progress display.

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

#include "common/stop_signal_win.h"
#include "common/win32_handles.h"
#include "ui/application_win.h"
#include "window/controls_win.h"

namespace kelvora {

// Number of download workers and of display slots.
inline constexpr std::int32_t ThreadCount = 1;

// The one failure the user is told of: a run that left no installer to start,
// or one that could not begin.
inline constexpr wchar_t kDownloadFailedText[] = L"Download fehlgeschlagen";

class TFormKelvoraInstaller {
 public:
  // Runs on a thread of its own after consent: the download run.
  using Coordinator = std::function<void(TFormKelvoraInstaller&)>;
  // Starts `body` on a new thread that nobody waits for; throws when no
  // thread can be started.
  using ThreadStarter = std::function<void(std::function<void()> body)>;

  TFormKelvoraInstaller(ui::Application& application, Coordinator coordinator, ThreadStarter start_thread);
  ~TFormKelvoraInstaller();
  TFormKelvoraInstaller(const TFormKelvoraInstaller&) = delete;
  TFormKelvoraInstaller& operator=(const TFormKelvoraInstaller&) = delete;

  // UI thread: builds the hidden window and its controls, then runs
  // FormCreate. Throws Win32Error when the window cannot be made.
  void Create();
  // UI thread: makes this the main window, centres it in the work area,
  // shows and activates it, then maximises or minimises it as started.
  void ShowFirst(int show_command);
  // A close request. UI thread only (background threads hand it over as a
  // step); ignored while another close is in progress and while a step runs.
  void Close();
  // The coordinator's close request at the end of its run, which it hands
  // over as a step: the one close request a running step may make.
  void CloseAtRunEnd();
  // Any thread: runs `step` on the UI thread and waits; rethrows its error.
  void RunOnUiThread(ui::StepRef step) { application_.Steps().Run(step); }

  ui::Application& Application() { return application_; }

  TLabel Label1;
  TProgressBar ProgressBarPart1;
  std::array<TProgressBar*, ThreadCount> ProgressBarArray{};
  std::array<TLabel*, ThreadCount> LabelProgressArray{};
  std::atomic<bool> FAllowFormClose{false};
  std::atomic<bool> FClosingForm{false};
  // Set together with FClosingForm: every wait of the run (network calls,
  // the proxy look-up, the pause between requests, the wait for the workers)
  // also waits on it, so that a close ends them at once, and no network call
  // starts once it is set. Lives as long as the window.
  const StopSignal& RunStopSignal() const { return stop_signal_; }

  void FormCreate(TFormKelvoraInstaller* Sender);
  void FormActivate(TFormKelvoraInstaller* Sender);
  void FormClose(TFormKelvoraInstaller* Sender);

  // The download run (coordinator thread) and its progress handler (worker
  // threads); see download_coordinator.cpp and progress_display_win.cpp.
  void SampleDownload();
  void ReceiveThreadDataEvent(const void* Sender, std::int32_t ThreadNo, std::int32_t ASpeed,
                              std::int64_t AContentLength, std::int64_t AReadCount, bool& Abort);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void ApplyDpi(int dpi);
  void PlaceControls();

  ui::Application& application_;
  StopSignal stop_signal_;
  Coordinator coordinator_;
  ThreadStarter start_thread_;
  // After Label1 and ProgressBarPart1, so the window and its controls go
  // first: the controls' subclasses and timers point to those owners.
  unique_hwnd window_;
  unique_hfont font_;
  int dpi_ = 96;
  bool close_in_progress_ = false;
  bool closing_at_run_end_ = false;
};

// The one installer window; set before its FormCreate runs.
extern TFormKelvoraInstaller* FormKelvoraInstaller;

// Starts a detached std::thread (the production ThreadStarter).
void StartSelfFreeingThread(std::function<void()> body);

}  // namespace kelvora

#include "window/FDownloadDemo.h"

#include <commctrl.h>

#include <thread>
#include <utility>

#include "common/win32_error.h"
#include "ui/dialogs_win.h"
#include "ui/placement_win.h"
#include "window/form_layout.h"
#include "window/system_metrics_win.h"

namespace kelvora {

TFormKelvoraInstaller* FormKelvoraInstaller = nullptr;

namespace {
constexpr wchar_t kWindowClass[] = L"TFormKelvoraInstaller";
constexpr wchar_t kTitle[] = L"Kelvora Installation";
constexpr wchar_t kConfirmationText[] =
    L"Möchten Sie das Installationsfile laden und die Installation von Kelvora starten?";
constexpr wchar_t kRefusalText[] = L"Download abgebrochen, der Installer wird beendet!";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;  // sizing border, caption, system menu, minimise, maximise
constexpr DWORD kExStyle = 0;
constexpr int kProgressBarId = 1;
constexpr int kLabelId = 2;
}  // namespace

void StartSelfFreeingThread(std::function<void()> body) { std::thread(std::move(body)).detach(); }

TFormKelvoraInstaller::TFormKelvoraInstaller(ui::Application& application, Coordinator coordinator,
                                             ThreadStarter start_thread)
    : application_(application),
      coordinator_(std::move(coordinator)),
      start_thread_(std::move(start_thread)) {}

TFormKelvoraInstaller::~TFormKelvoraInstaller() = default;

void TFormKelvoraInstaller::Create() {
  // Without the stop signal a close could not end the download's waits.
  if (!stop_signal_.Ready()) ThrowLastError("CreateEventW");
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = application_.Instance();
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hIcon = ::LoadIconW(application_.Instance(), MAKEINTRESOURCEW(1));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClass;
  if (!::RegisterClassExW(&window_class) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    ThrowLastError("RegisterClassExW");

  FormKelvoraInstaller = this;
  window_.reset(::CreateWindowExW(kExStyle, kWindowClass, kTitle, kStyle, 0, 0, kClientWidth, kClientHeight, nullptr,
                                  nullptr, application_.Instance(), this));
  if (!window_) ThrowLastError("CreateWindowExW");

  // The system's own themed controls draw in the running version's look.
  const HWND bar = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window_.get(),
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressBarId)),
                                     application_.Instance(), nullptr);
  // SS_LEFT wraps at word boundaries and never adds an ellipsis.
  const HWND label = ::CreateWindowExW(0, L"STATIC", Label1.Caption().c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                       0, 0, 0, 0, window_.get(),
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLabelId)),
                                       application_.Instance(), nullptr);
  if (!bar || !label) ThrowLastError("CreateWindowExW");
  ProgressBarPart1.Attach(bar);
  Label1.Attach(label);
  ApplyDpi(WindowDpi(window_.get()));

  FormCreate(this);
}

void TFormKelvoraInstaller::ApplyDpi(int dpi) {
  dpi_ = dpi;
  const SIZE size = WindowSizeForClient(ScaleForDpi(kClientWidth, dpi), ScaleForDpi(kClientHeight, dpi), kStyle,
                                        kExStyle, dpi);
  ::SetWindowPos(window_.get(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  font_.reset(CreateMessageFont(dpi));
  for (HWND control : {ProgressBarPart1.Handle(), Label1.Handle()})
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
  PlaceControls();
}

void TFormKelvoraInstaller::PlaceControls() {
  RECT client{};
  ::GetClientRect(window_.get(), &client);
  // The bar is anchored to the left and top edges: it keeps its place and size.
  const LayoutRect bar = ScaleForDpi(kProgressBarBounds, dpi_);
  ::MoveWindow(ProgressBarPart1.Handle(), bar.left, bar.top, bar.width, bar.height, TRUE);
  ProgressBarPart1.Resized();
  // The label is anchored to no edge: it floats with the window's size.
  const LayoutRect label = FloatUnanchored(ScaleForDpi(kLabelBounds, dpi_), ScaleForDpi(kClientWidth, dpi_),
                                           ScaleForDpi(kClientHeight, dpi_), client.right, client.bottom);
  ::MoveWindow(Label1.Handle(), label.left, label.top, label.width, label.height, TRUE);
}

void TFormKelvoraInstaller::ShowFirst(int show_command) {
  application_.SetMainWindow(window_.get());

  // The primary monitor's work area: the window has no owner to follow.
  ui::CentreInWorkArea(window_.get(), ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY));

  // The system may turn the process's first show into the show command it
  // was started with; the window is shown normally and activated first all
  // the same (activation is what ends a refused start), and the requested
  // state is applied after.
  ::ShowWindow(window_.get(), SW_SHOWNORMAL);
  if (::IsIconic(window_.get())) ::ShowWindow(window_.get(), SW_RESTORE);
  ::SetForegroundWindow(window_.get());
  if (::GetActiveWindow() != window_.get()) ::SetActiveWindow(window_.get());

  if (show_command == SW_SHOWMAXIMIZED)
    ::ShowWindow(window_.get(), SW_SHOWMAXIMIZED);
  else if (show_command == SW_SHOWMINNOACTIVE)
    ::ShowWindow(window_.get(), SW_SHOWMINNOACTIVE);
}

// The close protocol, across the window, the coordinator and the transport.
//
//   who                      sets / does                            waits for
//   UI thread, FormClose     FClosingForm, then the stop signal     FAllowFormClose, running the steps
//                                                                   handed over meanwhile (1 ms passes)
//   coordinator              nothing more once FClosingForm is set; FAllowFormClose after the completion
//                            the completion step launches nothing,  step; its workers' ends or the stop
//                            and no file is pinned or checked,      signal, whichever comes first
//                            when the run was stopped
//   worker                   ends its transfer (abort at the next   the pause between resume requests,
//                            notification, or a cancelled call)     or the stop signal
//   transport (each WinHTTP  closes the request and returns         the call's completion or the stop
//   call)                    ERROR_WINHTTP_OPERATION_CANCELLED;     signal
//                            starts no call once the signal is set
//   proxy look-up            is left behind as failed; none starts  its end or the stop signal
//                            once the signal is set
//
// Every wait ends within moments of the stop signal; the run then ends as a
// run stopped in the transfer: completion step ("Download fehlgeschlagen"),
// OK, FAllowFormClose, the coordinator's own close, the end.
//
// Ignored close requests: one that arrives while a close is in progress, and
// one that arrives inside a running step's modal loop (the failure message),
// except the coordinator's own close at the run's end (CloseAtRunEnd).
void TFormKelvoraInstaller::Close() {
  if (close_in_progress_) return;
  // A request that reaches the window inside a step's own modal loop (the
  // failure message of the completion step, from End task or another
  // program) is ignored: waiting here for the coordinator, which waits for
  // that very step, would never end. The coordinator closes the window
  // itself once the step is over.
  if (application_.Steps().RunningStep() && !closing_at_run_end_) return;
  close_in_progress_ = true;
  // FormClose only waits: once it returns, the close always goes ahead.
  FormClose(this);
  if (application_.MainWindow() == window_.get())
    application_.Terminate();  // the window goes away with the program
  else
    ::ShowWindow(window_.get(), SW_HIDE);
  close_in_progress_ = false;
}

void TFormKelvoraInstaller::CloseAtRunEnd() {
  closing_at_run_end_ = true;
  Close();
  closing_at_run_end_ = false;
}

void TFormKelvoraInstaller::FormCreate(TFormKelvoraInstaller*) {
  FAllowFormClose = true;
  ProgressBarArray[0] = &ProgressBarPart1;
  LabelProgressArray[0] = &Label1;

  if (ui::ShowConfirmation(application_.Handle(), kConfirmationText)) {
    FAllowFormClose = false;
    try {
      start_thread_([this] {
        try {
          coordinator_(*this);
        } catch (...) {
          // A failed run has already ended in order; nothing is reported here.
        }
      });
    } catch (...) {
      // Without the download thread nobody would ever allow the close: say
      // that the download failed and end. Allowed first, so that a close
      // request while the message is up does not wait for anybody.
      FAllowFormClose = true;
      ui::ShowPlainMessage(application_.Handle(), kDownloadFailedText);
      Close();
    }
  } else {
    ui::ShowInformation(application_.Handle(), kRefusalText);
    FAllowFormClose = true;
    Close();
  }
}

void TFormKelvoraInstaller::FormActivate(TFormKelvoraInstaller*) {
  if (FAllowFormClose) Close();
}

void TFormKelvoraInstaller::FormClose(TFormKelvoraInstaller*) {
  FClosingForm = true;
  stop_signal_.Set();
  // Stay responsive, and keep running the steps the download hands over,
  // until the download has wound down.
  while (!FAllowFormClose) {
    application_.ProcessMessages();
    ::Sleep(1);
  }
}

LRESULT CALLBACK TFormKelvoraInstaller::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TFormKelvoraInstaller*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && self->window_) return self->HandleMessage(message, wparam, lparam);
  return ::DefWindowProcW(window, message, wparam, lparam);
}

LRESULT TFormKelvoraInstaller::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE) FormActivate(this);
      break;
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED) PlaceControls();
      return 0;
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(window_.get(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyDpi(HIWORD(wparam));
      return 0;
    }
    default:
      break;
  }
  return ::DefWindowProcW(window_.get(), message, wparam, lparam);
}

}  // namespace kelvora

#include "ui/dialogs_win.h"

#include <commctrl.h>

#include <vector>

#include "common/win32_handles.h"
#include "ui/app_title.h"
#include "ui/placement_win.h"

namespace kelvora::ui {

namespace {

// --- Message boxes ---------------------------------------------------------

// The box is centred over its owner when it first becomes active. A CBT hook
// is the only way to see the box before it is painted; it lives for one box.
struct MessageBoxCentring {
  HWND owner = nullptr;
  unique_hhook hook;
};
thread_local MessageBoxCentring* t_centring = nullptr;

LRESULT CALLBACK CentreMessageBoxHook(int code, WPARAM wparam, LPARAM lparam) {
  MessageBoxCentring* centring = t_centring;
  const HHOOK hook = centring ? centring->hook.get() : nullptr;
  if (code == HCBT_ACTIVATE && centring) {
    RECT owner_rect{};
    if (::GetWindowRect(centring->owner, &owner_rect) && !::IsRectEmpty(&owner_rect))
      CentreWindowOver(reinterpret_cast<HWND>(wparam), owner_rect);
    t_centring = nullptr;  // only the first activation counts
    centring->hook.reset();
  }
  return ::CallNextHookEx(hook, code, wparam, lparam);
}

// The program's visible, active window, else the hidden application window.
HWND DialogOwner(HWND app_window) {
  const HWND active = ::GetActiveWindow();
  return active && ::IsWindowVisible(active) ? active : app_window;
}

int ShowMessageBox(HWND app_window, const std::wstring& text, const wchar_t* caption, UINT style) {
  MessageBoxCentring centring;
  centring.owner = DialogOwner(app_window);
  centring.hook.reset(::SetWindowsHookExW(WH_CBT, CentreMessageBoxHook, nullptr, ::GetCurrentThreadId()));
  t_centring = &centring;

  MSGBOXPARAMSW params{};
  params.cbSize = sizeof(params);
  params.hwndOwner = centring.owner;
  params.hInstance = ::GetModuleHandleW(nullptr);
  params.lpszText = text.c_str();
  params.lpszCaption = caption;
  params.dwStyle = style | MB_APPLMODAL;
  params.dwContextHelpId = 0;
  params.dwLanguageId = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
  const int result = ::MessageBoxIndirectW(&params);
  t_centring = nullptr;
  return result;
}

// --- The plain message -----------------------------------------------------

struct DisabledWindows {
  HWND parent;
  std::vector<HWND> windows;
};

BOOL CALLBACK DisableOtherWindow(HWND window, LPARAM context) {
  auto* disabled = reinterpret_cast<DisabledWindows*>(context);
  if (window != disabled->parent && ::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
    ::EnableWindow(window, FALSE);
    disabled->windows.push_back(window);
  }
  return TRUE;
}

// Esc reaches a task dialog as WM_COMMAND IDCANCEL; some implementations
// ignore it when the dialog has only custom buttons, although cancellation is
// allowed. It is answered here as the "OK" button, which it equals.
LRESULT CALLBACK CancelAsOk(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR) {
  if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
    ::SendMessageW(dialog, TDM_CLICK_BUTTON, 1, 0);
    return 0;
  }
  if (message == WM_NCDESTROY) ::RemoveWindowSubclass(dialog, CancelAsOk, 1);
  return ::DefSubclassProc(dialog, message, wparam, lparam);
}

HRESULT CALLBACK CentrePlainMessage(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR parent) {
  if (notification == TDN_CREATED) {
    ::SetWindowSubclass(dialog, CancelAsOk, 1, 0);
    CentreInWorkArea(dialog, ::MonitorFromWindow(reinterpret_cast<HWND>(parent), MONITOR_DEFAULTTONEAREST));
  }
  return S_OK;
}

wchar_t LowerCase(wchar_t c) {
  ::CharLowerBuffW(&c, 1);
  return c;
}

}  // namespace

bool ShowConfirmation(HWND app_window, const std::wstring& text) {
  return ShowMessageBox(app_window, text, L"Bestätigen", MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON1) == IDOK;
}

void ShowInformation(HWND app_window, const std::wstring& text) {
  ShowMessageBox(app_window, text, L"Informationen", MB_OK | MB_ICONINFORMATION);
}

std::wstring ApplicationTitle() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return ApplicationTitle(path, LowerCase);
}

void ShowPlainMessage(HWND app_window, const std::wstring& text) {
  HWND parent = ::GetActiveWindow();
  if (!parent) parent = app_window;
  const HWND focus = ::GetFocus();

  // The dialog disables its parent itself; every other window of ours is
  // disabled here so that nothing else of the program takes input meanwhile.
  DisabledWindows disabled{parent, {}};
  ::EnumThreadWindows(::GetCurrentThreadId(), DisableOtherWindow, reinterpret_cast<LPARAM>(&disabled));

  const std::wstring title = ApplicationTitle();
  TASKDIALOG_BUTTON ok_button{1, L"OK"};
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof(config);
  config.hwndParent = parent;
  config.hInstance = ::GetModuleHandleW(nullptr);
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
  config.pszWindowTitle = title.c_str();
  config.pszContent = text.c_str();
  config.cButtons = 1;
  config.pButtons = &ok_button;
  config.nDefaultButton = 1;
  config.pfCallback = CentrePlainMessage;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(parent);
  int pressed = 0;
  if (FAILED(::TaskDialogIndirect(&config, &pressed, nullptr, nullptr))) {
    // Without task dialogs (no common controls 6) the user must still learn
    // that the download failed.
    ::MessageBoxW(parent, text.c_str(), title.c_str(), MB_OK | MB_APPLMODAL);
  }

  for (HWND window : disabled.windows)
    if (::IsWindow(window)) ::EnableWindow(window, TRUE);
  if (::IsWindow(parent) && ::IsWindowVisible(parent)) ::SetActiveWindow(parent);
  if (focus && ::IsWindow(focus)) ::SetFocus(focus);
}

}  // namespace kelvora::ui

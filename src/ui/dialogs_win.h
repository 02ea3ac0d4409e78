#pragma once
// The program's three dialog kinds. UI thread only; each is modal and returns
// when the user has dismissed it. `app_window` is the hidden application
// window, the stand-in owner when no window of the program is active.

#include <windows.h>

#include <string>

namespace kelvora::ui {

// "Bestätigen" message box, question icon, OK (default) and Cancel. True only
// for OK; Cancel, Esc, Alt+F4, the close box and a box that cannot be shown
// all give false.
bool ShowConfirmation(HWND app_window, const std::wstring& text);

// "Informationen" message box, information icon, OK.
void ShowInformation(HWND app_window, const std::wstring& text);

// Task dialog titled with the application title, `text` as its content and a
// single "OK" button; centred in the work area of the parent's monitor; every
// other window of the UI thread is disabled while it is up.
void ShowPlainMessage(HWND app_window, const std::wstring& text);

// The title formed from the running executable's file name.
std::wstring ApplicationTitle();

}  // namespace kelvora::ui

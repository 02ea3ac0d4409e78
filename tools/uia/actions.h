#pragma once
// What the helper does to the program's windows: the inputs a user would give.
// Every action is posted or injected, never sent, so a target that reacts by
// opening another modal dialog cannot block the helper.

#include <windows.h>

#include <string>
#include <vector>

#include "json_writer.h"

namespace uia {

// Presses a dialog's button: "click" (BM_CLICK on the button), "command"
// (WM_COMMAND with the id) or "tdm" (TDM_CLICK_BUTTON, task dialogs).
bool PressButton(HWND dialog, int id, const std::wstring& method);

// Keys: "esc", "enter", "alt+f4". Method "input" brings the window to the
// front and injects the keys; "post" posts them to its focused control.
bool SendKey(HWND target, const std::wstring& key, const std::wstring& method);

// The close box: "syscommand" (WM_SYSCOMMAND SC_CLOSE) or "click" (a mouse
// click where the window reports its close button).
bool PressCloseBox(HWND target, const std::wstring& method);

// Asks the window to close (WM_CLOSE): "post" posts it; "send" sends it and
// fails when the window has not handled it within 5 s.
bool RequestClose(HWND target, const std::wstring& method);

// Starts a program with the given show command. Writes {"pid":...} at once;
// with wait_ms > 0 then waits for it and writes its exit code.
int Launch(const std::vector<std::wstring>& command, int show, const std::wstring& directory, DWORD wait_ms);

// Sets a named event; false if there is none by that name.
bool SetNamedEvent(const std::wstring& name);

// Writes one JSON line to stdout (UTF-8) and flushes.
void Emit(const JsonWriter& json);

}  // namespace uia

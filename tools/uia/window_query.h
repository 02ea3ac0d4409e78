#pragma once
// Finding the program's windows from outside its process, and describing what
// a user sees of them as JSON.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "json_writer.h"

namespace uia {

// Which top-level windows a command looks at. Empty fields match everything.
struct WindowFilter {
  HWND hwnd = nullptr;
  std::optional<DWORD> pid;
  std::wstring image;                // owning process's file name, e.g. Kelvora_Installer.exe
  std::optional<std::wstring> title;  // exact window title
  std::wstring class_name;           // exact class name
  bool dialogs_only = false;         // dialog boxes: message boxes and task dialogs
  bool visible_only = false;
};

// File name (without folder) of a process's executable; empty if unknown.
std::wstring ProcessImageName(DWORD pid);

// Top-level windows matching the filter, in Z order (topmost first).
std::vector<HWND> FindTopLevelWindows(const WindowFilter& filter);

// Text of any window, read with WM_GETTEXT (bounded in time, so a hung
// target cannot hang the helper).
std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);

bool IsDialogBox(HWND hwnd);

// A top-level window with its child controls.
void DescribeWindow(JsonWriter& json, HWND hwnd);
// A dialog: title, kind, text, icon kind and buttons, plus what DescribeWindow gives.
void DescribeDialog(JsonWriter& json, HWND hwnd);
// The screen: size, primary work area, system DPI, foreground window.
void DescribeScreen(JsonWriter& json);
void WriteRect(JsonWriter& json, const RECT& rect);

}  // namespace uia

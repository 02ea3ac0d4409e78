// kelvora_uia: looks at and drives the program's windows from a second process
// in the same Wine prefix, as a user would, and prints what it sees as JSON.
//
//   kelvora_uia COMMAND [filters] [options]
//   filters: --hwnd H  --pid P  --image NAME.exe  --title TEXT  --class NAME  --dialog  --visible
//   windows                         the matching top-level windows with their controls
//   dialog                          the frontmost visible matching dialog, or null
//   screen                          screen size, work area, DPI, foreground window
//   wait [--gone] [--timeout MS]    until a visible match exists (or, with --gone, none)
//   press --id N [--method click|command|tdm]
//   key esc|enter|alt+f4 [--method input|post]
//   close-box [--method syscommand|click]
//   close [--method post|send]      WM_CLOSE
//   launch [--show N] [--cwd DIR] [--wait MS] -- EXE [ARGS...]
//   set-event NAME
//   watch [--timeout MS]            the matching window's visible/enabled changes until it is gone
//                                   (a first line {"watching": hwnd} once the window is found)
//   terminate --pid P               ends a process (TerminateProcess), for tests that must not linger
// Exit codes: 0 done, 1 bad usage, 2 timed out, 3 no such window or event, 4 the action failed.

#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "actions.h"
#include "common/win32_handles.h"
#include "json_writer.h"
#include "window_query.h"

namespace {

using uia::JsonWriter;

struct Options {
  std::wstring command;
  std::vector<std::wstring> positional;
  uia::WindowFilter filter;
  std::wstring method;
  int id = -1;
  int show = SW_SHOWNORMAL;
  std::wstring directory;
  DWORD timeout_ms = 10000;
  DWORD wait_ms = 0;
  bool gone = false;
};

int Fail(int code, const char* message) {
  JsonWriter json;
  json.BeginObject().Field("error", message).EndObject();
  uia::Emit(json);
  return code;
}

bool ParseNumber(const std::wstring& text, long long* value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  *value = std::wcstoll(text.c_str(), &end, 0);
  return end && *end == L'\0';
}

std::optional<Options> Parse(int argc, wchar_t** argv) {
  if (argc < 2) return std::nullopt;
  Options options;
  options.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::wstring arg = argv[i];
    auto next = [&]() -> std::optional<std::wstring> {
      if (i + 1 >= argc) return std::nullopt;
      return std::wstring(argv[++i]);
    };
    auto number = [&]() -> std::optional<long long> {
      long long value = 0;
      auto text = next();
      if (!text || !ParseNumber(*text, &value)) return std::nullopt;
      return value;
    };
    if (arg == L"--") {
      for (++i; i < argc; ++i) options.positional.push_back(argv[i]);
    } else if (arg == L"--dialog") {
      options.filter.dialogs_only = true;
    } else if (arg == L"--visible") {
      options.filter.visible_only = true;
    } else if (arg == L"--gone") {
      options.gone = true;
    } else if (arg == L"--image" || arg == L"--class" || arg == L"--title" || arg == L"--method" || arg == L"--cwd") {
      auto value = next();
      if (!value) return std::nullopt;
      if (arg == L"--image") options.filter.image = *value;
      if (arg == L"--class") options.filter.class_name = *value;
      if (arg == L"--title") options.filter.title = *value;
      if (arg == L"--method") options.method = *value;
      if (arg == L"--cwd") options.directory = *value;
    } else if (arg == L"--hwnd" || arg == L"--pid" || arg == L"--id" || arg == L"--show" || arg == L"--timeout" ||
               arg == L"--wait") {
      auto value = number();
      if (!value) return std::nullopt;
      if (arg == L"--hwnd") options.filter.hwnd = reinterpret_cast<HWND>(static_cast<std::intptr_t>(*value));
      if (arg == L"--pid") options.filter.pid = static_cast<DWORD>(*value);
      if (arg == L"--id") options.id = static_cast<int>(*value);
      if (arg == L"--show") options.show = static_cast<int>(*value);
      if (arg == L"--timeout") options.timeout_ms = static_cast<DWORD>(*value);
      if (arg == L"--wait") options.wait_ms = static_cast<DWORD>(*value);
    } else if (arg.rfind(L"--", 0) == 0) {
      return std::nullopt;
    } else {
      options.positional.push_back(arg);
    }
  }
  return options;
}

// The window an action goes to: the one named by --hwnd, else the frontmost
// visible match.
HWND Target(uia::WindowFilter filter) {
  filter.visible_only = true;
  const auto found = uia::FindTopLevelWindows(filter);
  return found.empty() ? nullptr : found.front();
}

int ListWindows(const Options& options) {
  JsonWriter json;
  json.BeginObject().Key("windows").BeginArray();
  for (HWND hwnd : uia::FindTopLevelWindows(options.filter)) uia::DescribeWindow(json, hwnd);
  json.EndArray().Key("screen");
  uia::DescribeScreen(json);
  json.EndObject();
  uia::Emit(json);
  return 0;
}

int ShowDialog(Options options) {
  options.filter.dialogs_only = true;
  HWND dialog = Target(options.filter);
  JsonWriter json;
  json.BeginObject().Key("dialog");
  if (dialog)
    uia::DescribeDialog(json, dialog);
  else
    json.Null();
  json.EndObject();
  uia::Emit(json);
  return 0;
}

int ShowScreen() {
  JsonWriter json;
  uia::DescribeScreen(json);
  uia::Emit(json);
  return 0;
}

int Wait(const Options& options) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND found = Target(options.filter);
    const DWORD elapsed = GetTickCount() - start;
    const bool done = options.gone ? found == nullptr : found != nullptr;
    if (done || elapsed >= options.timeout_ms) {
      JsonWriter json;
      json.BeginObject().Field("ok", done).Field("elapsed_ms", elapsed).Key("window");
      if (found && options.filter.dialogs_only)
        uia::DescribeDialog(json, found);
      else if (found)
        uia::DescribeWindow(json, found);
      else
        json.Null();
      json.EndObject();
      uia::Emit(json);
      return done ? 0 : 2;
    }
    Sleep(20);
  }
}

// Polls one window every millisecond and prints each change of its state, so
// that short-lived states (enabled again for an instant before the program
// ends) are seen. The window is the first visible match.
int Watch(const Options& options) {
  const DWORD start = GetTickCount();
  HWND target = nullptr;
  while (!(target = Target(options.filter))) {
    if (GetTickCount() - start >= options.timeout_ms) return Fail(2, "no matching visible window appeared");
    Sleep(5);
  }
  const auto hwnd_value = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(target));
  // Tells the caller at once that the window is being watched, so that it can
  // go on without guessing how long finding the window takes.
  JsonWriter found;
  found.BeginObject().Field("watching", hwnd_value).EndObject();
  uia::Emit(found);
  JsonWriter json;
  json.BeginObject().Field("hwnd", hwnd_value);
  json.Key("states").BeginArray();
  int last = -1;
  bool timed_out = false;
  for (;;) {
    const bool exists = IsWindow(target) != FALSE;
    const bool visible = exists && IsWindowVisible(target);
    const bool enabled = exists && IsWindowEnabled(target);
    const int state = (exists ? 1 : 0) | (visible ? 2 : 0) | (enabled ? 4 : 0);
    const DWORD elapsed = GetTickCount() - start;
    if (state != last) {
      json.BeginObject()
          .Field("ms", elapsed)
          .Field("exists", exists)
          .Field("visible", visible)
          .Field("enabled", enabled)
          .EndObject();
      last = state;
    }
    if (!exists) break;
    if (elapsed >= options.timeout_ms) {
      timed_out = true;
      break;
    }
    Sleep(1);
  }
  json.EndArray().Field("timed_out", timed_out).EndObject();
  uia::Emit(json);
  return timed_out ? 2 : 0;
}

int Terminate(const Options& options) {
  if (!options.filter.pid) return Fail(1, "terminate needs --pid");
  kelvora::unique_handle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, *options.filter.pid));
  if (!process) return Fail(3, "no such process");
  const bool ok = TerminateProcess(process.get(), 1) && WaitForSingleObject(process.get(), 10000) == WAIT_OBJECT_0;
  JsonWriter json;
  json.BeginObject().Field("ok", ok).EndObject();
  uia::Emit(json);
  return ok ? 0 : 4;
}

int Act(const Options& options) {
  HWND target = Target(options.filter);
  if (!target) return Fail(3, "no matching visible window");
  bool ok = false;
  if (options.command == L"press") {
    if (options.id < 0) return Fail(1, "press needs --id");
    ok = uia::PressButton(target, options.id, options.method.empty() ? L"click" : options.method);
  } else if (options.command == L"key") {
    if (options.positional.size() != 1) return Fail(1, "key needs one key name");
    ok = uia::SendKey(target, options.positional[0], options.method.empty() ? L"input" : options.method);
  } else if (options.command == L"close-box") {
    ok = uia::PressCloseBox(target, options.method.empty() ? L"syscommand" : options.method);
  } else if (options.command == L"close") {
    ok = uia::RequestClose(target, options.method.empty() ? L"post" : options.method);
  }
  JsonWriter json;
  json.BeginObject().Field("ok", ok).Field("hwnd", static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(target)));
  json.EndObject();
  uia::Emit(json);
  return ok ? 0 : 4;
}

// Coordinates are read in physical pixels whatever the program's own DPI awareness.
void BecomeDpiAware() {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto set_context = reinterpret_cast<SetContext>(
      reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
  if (!set_context || !set_context(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-4)))) SetProcessDPIAware();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  BecomeDpiAware();
  auto options = Parse(argc, argv);
  if (!options) return Fail(1, "usage: kelvora_uia COMMAND [filters] [options] (see main.cpp)");
  const std::wstring& command = options->command;
  if (command == L"windows") return ListWindows(*options);
  if (command == L"dialog") return ShowDialog(*options);
  if (command == L"screen") return ShowScreen();
  if (command == L"wait") return Wait(*options);
  if (command == L"press" || command == L"key" || command == L"close-box" || command == L"close") return Act(*options);
  if (command == L"watch") return Watch(*options);
  if (command == L"terminate") return Terminate(*options);
  if (command == L"launch") {
    if (options->positional.empty()) return Fail(1, "launch needs -- EXE [ARGS...]");
    return uia::Launch(options->positional, options->show, options->directory, options->wait_ms);
  }
  if (command == L"set-event") {
    if (options->positional.size() != 1) return Fail(1, "set-event needs one name");
    if (!uia::SetNamedEvent(options->positional[0])) return Fail(3, "no such event");
    JsonWriter json;
    json.BeginObject().Field("ok", true).EndObject();
    uia::Emit(json);
    return 0;
  }
  return Fail(1, "unknown command");
}

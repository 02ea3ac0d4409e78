#include "actions.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>

#include "common/win32_handles.h"

namespace uia {

namespace {

bool WaitForForeground(HWND target) {
  for (int i = 0; i < 50 && GetForegroundWindow() != target; ++i) Sleep(10);
  return GetForegroundWindow() == target;
}

void Keystroke(BYTE key, bool up) {
  keybd_event(key, static_cast<BYTE>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)), up ? KEYEVENTF_KEYUP : 0, 0);
}

HWND FocusOf(HWND target) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const DWORD thread = GetWindowThreadProcessId(target, nullptr);
  if (GetGUIThreadInfo(thread, &info) && info.hwndFocus) return info.hwndFocus;
  return target;
}

LPARAM KeyLParam(BYTE key, bool up, bool alt) {
  LPARAM value = 1 | (static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16);
  if (alt) value |= LPARAM{1} << 29;
  if (up) value |= (LPARAM{1} << 30) | (LPARAM{1} << 31);
  return value;
}

// The close button's position, found by asking the window itself (WM_NCHITTEST)
// along its top edge, so it does not depend on frame metrics or themes.
bool FindCloseButton(HWND target, POINT* where) {
  RECT rect{};
  if (!GetWindowRect(target, &rect)) return false;
  const int bottom = (std::min)(rect.bottom, rect.top + 80);
  for (int y = rect.top + 1; y < bottom; y += 2) {
    int first = -1, last = -1;
    for (int x = rect.right - 1; x > rect.left && x > rect.right - 160; --x) {
      DWORD_PTR hit = 0;
      if (!SendMessageTimeoutW(target, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 2000, &hit)) return false;
      if (hit == HTCLOSE) {
        if (last < 0) last = x;
        first = x;
      } else if (last >= 0) {
        break;
      }
    }
    if (last >= 0) {
      // Aim at the middle of the button: step further down while still inside.
      int y_end = y;
      DWORD_PTR hit = HTCLOSE;
      while (y_end + 1 < bottom && hit == HTCLOSE) {
        SendMessageTimeoutW(target, WM_NCHITTEST, 0, MAKELPARAM((first + last) / 2, y_end + 1), SMTO_ABORTIFHUNG,
                            2000, &hit);
        if (hit == HTCLOSE) ++y_end;
      }
      *where = POINT{(first + last) / 2, (y + y_end) / 2};
      return true;
    }
  }
  return false;
}

std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
    } else if (c == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
      quoted += c;
      backslashes = 0;
    } else {
      quoted.append(backslashes, L'\\');
      quoted += c;
      backslashes = 0;
    }
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

}  // namespace

bool PressButton(HWND dialog, int id, const std::wstring& method) {
  HWND button = GetDlgItem(dialog, id);
  if (method == L"click") return button && PostMessageW(button, BM_CLICK, 0, 0);
  if (method == L"command")
    return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  if (method == L"tdm") return PostMessageW(dialog, TDM_CLICK_BUTTON, static_cast<WPARAM>(id), 0);
  return false;
}

bool SendKey(HWND target, const std::wstring& key, const std::wstring& method) {
  BYTE vk = 0;
  bool alt = false;
  if (key == L"esc")
    vk = VK_ESCAPE;
  else if (key == L"enter")
    vk = VK_RETURN;
  else if (key == L"alt+f4")
    vk = VK_F4, alt = true;
  else
    return false;

  if (method == L"post") {
    HWND focus = FocusOf(target);
    const UINT down = alt ? WM_SYSKEYDOWN : WM_KEYDOWN, up = alt ? WM_SYSKEYUP : WM_KEYUP;
    return PostMessageW(focus, down, vk, KeyLParam(vk, false, alt)) &&
           PostMessageW(focus, up, vk, KeyLParam(vk, true, alt));
  }
  if (method != L"input") return false;
  SetForegroundWindow(target);
  // Checked before the keys go: once they have, the target may already be gone.
  if (!WaitForForeground(target)) return false;
  if (alt) Keystroke(VK_MENU, false);
  Keystroke(vk, false);
  Keystroke(vk, true);
  if (alt) Keystroke(VK_MENU, true);
  return true;
}

bool PressCloseBox(HWND target, const std::wstring& method) {
  if (method == L"syscommand") return PostMessageW(target, WM_SYSCOMMAND, SC_CLOSE, 0);
  if (method != L"click") return false;
  POINT where{};
  if (!FindCloseButton(target, &where)) return false;
  SetCursorPos(where.x, where.y);
  mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
  Sleep(20);
  mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
  return true;
}

bool RequestClose(HWND target, const std::wstring& method) {
  if (method == L"post") return PostMessageW(target, WM_CLOSE, 0, 0);
  if (method != L"send") return false;
  // Handled at once by a window that does not block in its close handler.
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(target, WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
}

int Launch(const std::vector<std::wstring>& command, int show, const std::wstring& directory, DWORD wait_ms) {
  std::wstring line;
  for (const auto& arg : command) {
    if (!line.empty()) line += L' ';
    line += QuoteArgument(arg);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show);
  PROCESS_INFORMATION info{};
  JsonWriter json;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
    json.BeginObject().Field("error", "CreateProcessW failed").Field("code", GetLastError()).EndObject();
    Emit(json);
    return 4;
  }
  kelvora::unique_handle process(info.hProcess), thread(info.hThread);
  json.BeginObject().Field("pid", info.dwProcessId).EndObject();
  Emit(json);
  if (wait_ms == 0) return 0;

  JsonWriter result;
  if (WaitForSingleObject(process.get(), wait_ms) != WAIT_OBJECT_0) {
    result.BeginObject().Key("exit_code").Null().Field("timed_out", true).EndObject();
    Emit(result);
    return 2;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  result.BeginObject().Field("exit_code", static_cast<std::int64_t>(code)).Field("timed_out", false).EndObject();
  Emit(result);
  return 0;
}

bool SetNamedEvent(const std::wstring& name) {
  kelvora::unique_handle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
  return event && SetEvent(event.get());
}

void Emit(const JsonWriter& json) {
  std::fwrite(json.str().data(), 1, json.str().size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace uia

#include "window_query.h"

#include <commctrl.h>

#include "common/text.h"
#include "common/win32_handles.h"
#include "icon_kind.h"

namespace uia {

namespace {

constexpr UINT kMessageTimeoutMs = 2000;

LRESULT SendBounded(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, bool* ok = nullptr) {
  DWORD_PTR result = 0;
  const LRESULT sent =
      SendMessageTimeoutW(hwnd, message, wparam, lparam, SMTO_ABORTIFHUNG | SMTO_BLOCK, kMessageTimeoutMs, &result);
  if (ok) *ok = sent != 0;
  return static_cast<LRESULT>(result);
}

std::int64_t HandleValue(HWND hwnd) { return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(hwnd)); }

bool LowerEquals(const std::wstring& a, const std::wstring& b) { return kelvora::EqualsIgnoreCase(a, b); }

void WriteClientRect(JsonWriter& json, HWND hwnd) {
  RECT client{};
  GetClientRect(hwnd, &client);
  POINT origin{0, 0};
  ClientToScreen(hwnd, &origin);
  json.BeginObject()
      .Field("left", origin.x)
      .Field("top", origin.y)
      .Field("width", client.right - client.left)
      .Field("height", client.bottom - client.top)
      .EndObject();
}

void WriteWorkArea(JsonWriter& json, HMONITOR monitor) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (monitor && GetMonitorInfoW(monitor, &info))
    WriteRect(json, info.rcWork);
  else
    json.Null();
}

void WriteCommonFields(JsonWriter& json, HWND hwnd) {
  DWORD pid = 0;
  const DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  json.Field("hwnd", HandleValue(hwnd))
      .Field("pid", pid)
      .Field("tid", tid)
      .Field("image", ProcessImageName(pid))
      .Field("title", WindowText(hwnd))
      .Field("class", ClassName(hwnd));
  json.Key("rect");
  WriteRect(json, rect);
  json.Key("client");
  WriteClientRect(json, hwnd);
  json.Field("visible", IsWindowVisible(hwnd) != FALSE)
      .Field("enabled", IsWindowEnabled(hwnd) != FALSE)
      .Field("maximized", IsZoomed(hwnd) != FALSE)
      .Field("minimized", IsIconic(hwnd) != FALSE)
      .Field("foreground", GetForegroundWindow() == hwnd)
      .Field("owner", HandleValue(GetWindow(hwnd, GW_OWNER)))
      .Field("style", static_cast<std::int64_t>(GetWindowLongPtrW(hwnd, GWL_STYLE) & 0xFFFFFFFF))
      .Field("exstyle", static_cast<std::int64_t>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & 0xFFFFFFFF));
  json.Key("work_area");
  WriteWorkArea(json, MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST));
}

void DescribeChild(JsonWriter& json, HWND child) {
  const std::wstring class_name = ClassName(child);
  RECT rect{};
  GetWindowRect(child, &rect);
  POINT top_left{rect.left, rect.top};
  ScreenToClient(GetParent(child), &top_left);
  json.BeginObject()
      .Field("hwnd", HandleValue(child))
      .Field("class", class_name)
      .Field("text", WindowText(child))
      .Field("id", static_cast<std::int64_t>(GetDlgCtrlID(child)))
      .Field("enabled", IsWindowEnabled(child) != FALSE)
      .Field("visible", IsWindowVisible(child) != FALSE)
      .Field("style", static_cast<std::int64_t>(GetWindowLongPtrW(child, GWL_STYLE) & 0xFFFFFFFF));
  json.Key("rect");
  WriteRect(json, rect);
  json.Key("position").BeginObject().Field("x", top_left.x).Field("y", top_left.y).EndObject();
  if (LowerEquals(class_name, PROGRESS_CLASSW)) {
    // Only the forms without pointer arguments work across processes.
    json.Key("progress")
        .BeginObject()
        .Field("min", static_cast<std::int64_t>(SendBounded(child, PBM_GETRANGE, TRUE, 0)))
        .Field("max", static_cast<std::int64_t>(SendBounded(child, PBM_GETRANGE, FALSE, 0)))
        .Field("pos", static_cast<std::int64_t>(SendBounded(child, PBM_GETPOS, 0, 0)))
        .EndObject();
  }
  json.EndObject();
}

std::vector<HWND> Descendants(HWND hwnd) {
  std::vector<HWND> children;
  EnumChildWindows(
      hwnd,
      [](HWND child, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  return children;
}

void WriteChildren(JsonWriter& json, HWND hwnd) {
  json.Key("children").BeginArray();
  for (HWND child : Descendants(hwnd)) DescribeChild(json, child);
  json.EndArray();
}

bool IsButton(HWND hwnd) {
  if (!LowerEquals(ClassName(hwnd), L"Button")) return false;
  const LONG_PTR type = GetWindowLongPtrW(hwnd, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_COMMANDLINK || type == BS_DEFCOMMANDLINK;
}

bool IsIconStatic(HWND hwnd) {
  return LowerEquals(ClassName(hwnd), L"Static") && (GetWindowLongPtrW(hwnd, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

// A message box's text is the static control with id 0xFFFF, on Windows and
// under Wine alike; task dialogs draw into a DirectUIHWND on Windows and are
// plain dialogs under Wine. Only those two kinds of dialog box are expected,
// so any other dialog box is taken for a task dialog.
std::string DialogKind(HWND hwnd) {
  for (HWND child : Descendants(hwnd))
    if (LowerEquals(ClassName(child), L"Static") && GetDlgCtrlID(child) == 0xFFFF) return "messagebox";
  return "taskdialog";
}

}  // namespace

void WriteRect(JsonWriter& json, const RECT& rect) {
  json.BeginObject()
      .Field("left", rect.left)
      .Field("top", rect.top)
      .Field("right", rect.right)
      .Field("bottom", rect.bottom)
      .Field("width", rect.right - rect.left)
      .Field("height", rect.bottom - rect.top)
      .EndObject();
}

std::wstring ProcessImageName(DWORD pid) {
  kelvora::unique_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return {};
  wchar_t path[MAX_PATH * 4];
  DWORD size = static_cast<DWORD>(std::size(path));
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &size)) return {};
  std::wstring full(path, size);
  const auto slash = full.find_last_of(L"\\/");
  return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

std::wstring WindowText(HWND hwnd) {
  bool ok = false;
  const auto length = SendBounded(hwnd, WM_GETTEXTLENGTH, 0, 0, &ok);
  if (!ok || length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const auto copied = SendBounded(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &ok);
  if (!ok || copied < 0) return {};
  text.resize(static_cast<size_t>(copied));
  return text;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t name[256];
  const int length = GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
  return std::wstring(name, length > 0 ? length : 0);
}

bool IsDialogBox(HWND hwnd) { return ClassName(hwnd) == L"#32770"; }

std::vector<HWND> FindTopLevelWindows(const WindowFilter& filter) {
  struct Search {
    const WindowFilter* filter;
    std::vector<HWND> found;
  } search{&filter, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(param);
        const WindowFilter& f = *s.filter;
        if (f.hwnd && f.hwnd != hwnd) return TRUE;
        if (f.visible_only && !IsWindowVisible(hwnd)) return TRUE;
        if (f.dialogs_only && !IsDialogBox(hwnd)) return TRUE;
        if (!f.class_name.empty() && ClassName(hwnd) != f.class_name) return TRUE;
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (f.pid && *f.pid != pid) return TRUE;
        if (!f.image.empty() && !LowerEquals(ProcessImageName(pid), f.image)) return TRUE;
        if (f.title && WindowText(hwnd) != *f.title) return TRUE;
        s.found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void DescribeWindow(JsonWriter& json, HWND hwnd) {
  json.BeginObject();
  WriteCommonFields(json, hwnd);
  WriteChildren(json, hwnd);
  json.EndObject();
}

void DescribeDialog(JsonWriter& json, HWND hwnd) {
  json.BeginObject();
  WriteCommonFields(json, hwnd);
  json.Field("kind", DialogKind(hwnd));

  // The visible static texts, in tab order, are the dialog's message.
  std::wstring text;
  HWND icon = nullptr;
  for (HWND child : Descendants(hwnd)) {
    if (!IsWindowVisible(child)) continue;
    if (IsIconStatic(child)) {
      if (!icon && SendBounded(child, STM_GETICON, 0, 0) != 0) icon = child;
      continue;
    }
    if (LowerEquals(ClassName(child), L"Static")) {
      const std::wstring part = WindowText(child);
      if (part.empty()) continue;
      if (!text.empty()) text += L"\n";
      text += part;
    }
  }
  json.Field("text", text);
  json.Field("icon", icon ? IconKindName(ClassifyIcon(icon)) : "none");

  const LRESULT default_id = SendBounded(hwnd, DM_GETDEFID, 0, 0);
  const int default_button = HIWORD(default_id) == DC_HASDEFID ? LOWORD(default_id) : -1;
  json.Key("buttons").BeginArray();
  for (HWND child : Descendants(hwnd)) {
    if (!IsButton(child) || !IsWindowVisible(child)) continue;
    const int id = GetDlgCtrlID(child);
    json.BeginObject()
        .Field("hwnd", HandleValue(child))
        .Field("id", id)
        .Field("text", WindowText(child))
        .Field("enabled", IsWindowEnabled(child) != FALSE)
        .Field("default", id == default_button)
        .EndObject();
  }
  json.EndArray();
  WriteChildren(json, hwnd);
  json.EndObject();
}

void DescribeScreen(JsonWriter& json) {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  json.BeginObject()
      .Field("width", GetSystemMetrics(SM_CXSCREEN))
      .Field("height", GetSystemMetrics(SM_CYSCREEN))
      .Field("dpi", dpi);
  json.Key("work_area");
  WriteRect(json, work);
  json.Field("foreground", HandleValue(GetForegroundWindow()));
  json.EndObject();
}

}  // namespace uia

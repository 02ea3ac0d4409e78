// kelvora_standin_installer: served by the test servers in place of the real
// installer. When started it records how it was started - command line,
// working folder, show command, its own path - as one line of UTF-8 JSON
// appended to the file named by KELVORA_STANDIN_LOG, or else to
// <its own path>.launch.txt, and exits.

#include <windows.h>

#include <string>

#include "common/text.h"
#include "common/win32_handles.h"

namespace {

std::string Quoted(const std::wstring& text) {
  std::string out = "\"";
  for (char c : kelvora::ToUtf8(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      static const char hex[] = "0123456789abcdef";
      out += "\\u00";
      out += hex[(c >> 4) & 0xF];
      out += hex[c & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::wstring ModulePath() {
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path;
}

std::wstring CurrentDirectory() {
  std::wstring dir(32768, L'\0');
  const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), dir.data());
  dir.resize(length < dir.size() ? length : 0);
  return dir;
}

std::wstring LogPath(const std::wstring& module_path) {
  std::wstring value(32768, L'\0');
  const DWORD length = GetEnvironmentVariableW(L"KELVORA_STANDIN_LOG", value.data(), static_cast<DWORD>(value.size()));
  if (length > 0 && length < value.size()) {
    value.resize(length);
    return value;
  }
  return module_path + L".launch.txt";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const std::wstring module_path = ModulePath();

  std::string line = "{";
  line += "\"command_line\":" + Quoted(GetCommandLineW());
  line += ",\"working_directory\":" + Quoted(CurrentDirectory());
  line += ",\"exe_path\":" + Quoted(module_path);
  line += ",\"show_window\":" + std::to_string(startup.wShowWindow);
  line += ",\"startup_flags\":" + std::to_string(startup.dwFlags);
  line += ",\"uses_show_window\":";
  line += (startup.dwFlags & STARTF_USESHOWWINDOW) ? "true" : "false";
  line += ",\"pid\":" + std::to_string(GetCurrentProcessId());
  line += "}\n";

  kelvora::unique_file log(CreateFileW(LogPath(module_path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log) return 1;
  DWORD written = 0;
  if (!WriteFile(log.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) || written != line.size())
    return 1;
  return 0;
}

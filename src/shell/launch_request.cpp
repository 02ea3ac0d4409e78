#include "shell/launch_request.h"

namespace kelvora {

std::wstring DirectoryPart(std::wstring_view file_name) {
  const auto last = file_name.find_last_of(L"\\:");
  if (last == std::wstring_view::npos) return {};
  size_t keep = last + 1;
  if (last > 0 && file_name[last] == L'\\' && file_name[last - 1] != L':' && file_name[last - 1] != L'\\') keep = last;
  return std::wstring(file_name.substr(0, keep));
}

std::wstring Quoted(std::wstring_view text) {
  std::wstring quoted;
  quoted.reserve(text.size() + 2);
  quoted += L'"';
  quoted += text;
  quoted += L'"';
  return quoted;
}

LaunchRequest MakeLaunchRequest(std::wstring_view file_name, std::wstring_view parameters, uint16_t show_command) {
  return LaunchRequest{L"open", Quoted(file_name), std::wstring(parameters), Quoted(DirectoryPart(file_name)),
                       show_command};
}

}  // namespace kelvora

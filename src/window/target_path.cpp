#include "window/target_path.h"

namespace kelvora {

std::wstring JoinTargetPath(std::wstring_view folder) {
  std::wstring path(folder);
  if (!path.empty()) {
    const wchar_t last = path.back();
    if (last != L'\\' && last != L'/' && last != L':') path += L'\\';
  }
  path += kTargetFileName;
  return path;
}

bool IsFullyQualifiedFolder(std::wstring_view folder) {
  const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (folder.size() >= 3 && folder[1] == L':' && separator(folder[2])) {
    const wchar_t drive = folder[0];
    return (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
  }
  // "\\" followed by a server (or "?" / "." for a device path).
  return folder.size() >= 3 && separator(folder[0]) && separator(folder[1]) && !separator(folder[2]);
}

}  // namespace kelvora

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

}  // namespace kelvora

#include <windows.h>

#include "window/temp_folder.h"

namespace kelvora {

namespace {

// GetTempPathW, growing the buffer when the path does not fit. The second try
// covers TMP/TEMP changing between the calls.
std::wstring TempPath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD result = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (result == 0) return {};
    if (result < buffer.size()) {
      buffer.resize(result);
      return buffer;
    }
    buffer.assign(result, L'\0');  // result is the size needed, terminator included
  }
  return {};
}

std::wstring LongPath(const std::wstring& path) {
  DWORD needed = ::GetLongPathNameW(path.c_str(), nullptr, 0);
  for (int attempt = 0; attempt < 3 && needed != 0; ++attempt) {
    std::wstring buffer(needed, L'\0');
    const DWORD result = ::GetLongPathNameW(path.c_str(), buffer.data(), needed);
    if (result == 0) return {};
    if (result < needed) {
      buffer.resize(result);
      return buffer;
    }
    needed = result;
  }
  return {};
}

}  // namespace

std::wstring TemporaryFolder() {
  const std::wstring temp = TempPath();
  if (temp.empty()) return {};
  return LongPath(temp);
}

}  // namespace kelvora

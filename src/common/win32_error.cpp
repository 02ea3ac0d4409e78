#include "common/win32_error.h"

#include "common/text.h"
#include "common/win32_handles.h"

namespace kelvora {

Win32Error::Win32Error(const std::string& what, DWORD code)
    : std::runtime_error(what + " failed (" + std::to_string(code) + ")"), code_(code) {}

void ThrowLastError(const char* what) { throw Win32Error(what, ::GetLastError()); }

std::wstring SystemErrorText(DWORD code, HMODULE message_module) {
  unique_local_text buffer;
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                (message_module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
  DWORD length =
      ::FormatMessageW(flags, message_module, code, 0, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
  return TrimPlatformText(std::wstring_view(buffer ? buffer.get() : L"", buffer ? length : 0));
}

}  // namespace kelvora

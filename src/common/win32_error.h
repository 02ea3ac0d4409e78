#pragma once
// Win32 failures turned into exceptions at the call site, error number kept.

#include <windows.h>

#include <stdexcept>
#include <string>

namespace kelvora {

class Win32Error : public std::runtime_error {
 public:
  Win32Error(const std::string& what, DWORD code);
  DWORD code() const noexcept { return code_; }

 private:
  DWORD code_;
};

// Throws Win32Error for GetLastError(); `what` names the call that failed.
[[noreturn]] void ThrowLastError(const char* what);

// The system's text for an error number, without trailing blanks, line
// breaks and full stops; empty when the system has none.
std::wstring SystemErrorText(DWORD code, HMODULE message_module = nullptr);

}  // namespace kelvora

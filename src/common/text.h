#pragma once
// Text helpers shared by the portable code. Text is wide throughout (UTF-16 on
// Windows); UTF-8 only where a std::exception's what() needs narrow text.

#include <string>
#include <string_view>

namespace kelvora {

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

// ASCII-only case folding, for header names and method names.
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);

// A copy with A-Z turned into a-z and everything else kept (URL schemes, host
// names, cookie attribute names: protocol text where only ASCII folds).
std::wstring AsciiLower(std::wstring_view text);

// 0-9 only: protocol numbers never use other scripts' digits.
constexpr bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

}  // namespace kelvora

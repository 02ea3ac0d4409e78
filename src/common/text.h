#pragma once
// Text helpers shared by the portable code. Text is wide throughout (UTF-16 on
// Windows); UTF-8 only where a std::exception's what() needs narrow text.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora {

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

// A-Z turned into a-z, every other character kept: protocol text, where
// only ASCII folds.
constexpr wchar_t AsciiLowerChar(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// A copy of `text` through AsciiLowerChar (URL schemes, host names, cookie
// attribute names).
std::wstring AsciiLower(std::wstring_view text);

// ASCII-only case folding, for header names, method names and units.
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);
bool StartsWithIgnoreCase(std::wstring_view text, std::wstring_view prefix);

// 0-9 only: protocol numbers never use other scripts' digits.
constexpr bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// A run of ASCII digits as a number no greater than `max`. Nothing for empty
// text, for any other character (signs and blanks included) and for a larger
// value; leading zeros are fine, however many.
std::optional<std::int64_t> ParseDecimal(std::wstring_view digits,
                                         std::int64_t max = std::numeric_limits<std::int64_t>::max());

// Which characters a trim cuts off differs on purpose between callers, so
// each names its set.
inline constexpr std::wstring_view kSpaceAndTab = L" \t";
inline constexpr std::wstring_view kBlanksAndLineBreaks = L" \t\r\n";
// What the system puts after a message text: blanks, line breaks and a full stop.
inline constexpr std::wstring_view kMessageEnd = L" \t\r\n.";

// `text` without the characters of `cut` at both ends, or at its end only; a
// view into `text`.
std::wstring_view Trim(std::wstring_view text, std::wstring_view cut);
std::wstring_view TrimEnd(std::wstring_view text, std::wstring_view cut);

// Header names and values, cookie parts, a Location: kBlanksAndLineBreaks cut
// at both ends.
std::wstring TrimBlanks(std::wstring_view text);
// A system message text as it goes after its error number, "(%d) %s":
// kMessageEnd cut at the end.
std::wstring TrimPlatformText(std::wstring_view text);

}  // namespace kelvora

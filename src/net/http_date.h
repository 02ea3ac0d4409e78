#pragma once
// HTTP dates (Date, Retry-After), in the three forms a recipient must read.

#include <cstdint>
#include <optional>
#include <string_view>

namespace kelvora::net {

// Seconds since 1970-01-01 00:00:00 UTC of an HTTP date: the preferred
// "Sun, 06 Nov 1994 08:49:37 GMT", the obsolete "Sunday, 06-Nov-94 08:49:37
// GMT" (a two-digit year taken as 19xx from 70 on, else 20xx) and the asctime
// form "Sun Nov  6 08:49:37 1994". Blanks around the value are ignored;
// nothing for any other text, an impossible date or a year before 1970 or
// after 9999.
std::optional<std::int64_t> ParseHttpDate(std::wstring_view text);

}  // namespace kelvora::net

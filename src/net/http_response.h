#pragma once
// What an exchange returns, and how a raw header block becomes one.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvora::net {

using HeaderList = std::vector<std::pair<std::wstring, std::wstring>>;

struct HttpResponse {
  std::int32_t status = 0;
  HeaderList headers;               // in the order received; repeated names joined with ", "
  std::int64_t content_length = -1; // -1 when missing or not an integer

  // The value of a header, name compared without regard to case; "" when missing.
  std::wstring Header(std::wstring_view name) const;
};

// A header block split into lines at CR LF. Lines without a colon, with a
// colon first, starting with "HTTP/" (the status line) or with a request
// method and a blank (the request line) are skipped. Names and values are
// trimmed; a repeated name gets ", " and the new value appended. When
// `set_cookies` is given, "Set-Cookie" lines go there instead of the list.
HeaderList ParseHeaderBlock(std::wstring_view raw, std::vector<std::wstring>* set_cookies = nullptr);

// "Content-Length" as a non-negative 64-bit integer; -1 when the value is
// empty, has anything but digits or does not fit.
std::int64_t ParseContentLength(std::wstring_view value);

// The size of the resource a HEAD response describes: its content length
// when the status is 2xx other than 206, -1 otherwise. A refusal's length
// (403, 405, 503) is the length of its error page, and a 206's the length of a
// part, not of the file.
std::int64_t SizeFromHead(const HttpResponse& head);

}  // namespace kelvora::net

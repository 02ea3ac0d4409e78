#pragma once
// Addresses as the HTTP client uses them: parsing, writing back, and the
// target of a redirect's Location.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora::net {

struct Url {
  std::wstring scheme;    // "http" or "https", lower case
  std::wstring host;      // as written; IPv6 literals keep their brackets
  std::uint16_t port = 0; // the scheme's default when the address gives none
  std::wstring path;      // begins with "/"
  std::wstring query;     // without "?"; has_query tells "" from none
  std::wstring fragment;  // without "#"
  bool has_query = false;
  bool has_fragment = false;

  bool secure() const { return scheme == L"https"; }
  // "path?query", what goes on the request line.
  std::wstring PathAndQuery() const;
  // The whole address; the port is written only when it is not the default.
  std::wstring ToString() const;
};

std::uint16_t DefaultPort(std::wstring_view scheme);

// Parses "scheme://host[:port][/path][?query][#fragment]" for http and https.
// Returns nothing for anything else (other schemes, user info, bad ports,
// control characters anywhere, a bracketed host that is no IPv6 address).
std::optional<Url> ParseUrl(std::wstring_view address);

// Same, but throws HttpError(Url, "Ungültiger URL: "<address>"").
Url ParseUrlOrThrow(std::wstring_view address);

// The address a redirect moves to, from the current address and the trimmed
// Location value. Throws HttpError(Url, "Ungültiger URL: ...") for a value
// with a control character and for an absolute address that cannot be
// parsed, and HttpError(Url) for a relative path that climbs above the root.
Url ResolveRedirect(const Url& current, std::wstring_view location);

// True for text with a character below U+0020 or U+007F (CR, LF, NUL, ...),
// which no address or cookie sent on a request line or header may carry.
bool HasControlCharacter(std::wstring_view text);

// "::1", "2001:db8::7", "::ffff:192.0.2.1": the text between an address's
// brackets. No zone index.
bool IsIpv6Literal(std::wstring_view text);

// The value of the Range header: "bytes=", the start when >= 0, "-", the
// end when >= 0. The end is the inclusive last byte and is sent unchanged.
std::wstring RangeHeaderValue(std::int64_t start, std::int64_t end);

}  // namespace kelvora::net

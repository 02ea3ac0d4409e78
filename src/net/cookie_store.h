#pragma once
// The client's own cookie store. Cookies go back only where they belong:
// host-only cookies to their host, domain cookies to that domain and its
// subdomains, only under their path, Secure ones only over https, and never
// once expired.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/url.h"

namespace kelvora::net {

class CookieStore {
 public:
  // Seconds since 1970-01-01 UTC; the store takes the time from its caller
  // so that expiry is checked against one clock.
  using Seconds = std::int64_t;

  // Takes one "Set-Cookie" value received for `origin`. Invalid cookies (a
  // control character anywhere makes one invalid) and cookies for other
  // domains are ignored; an expired one removes the cookie
  // of the same name, domain and path.
  void Store(const Url& origin, std::wstring_view set_cookie, Seconds now);

  // The "Cookie" header value for a request to `target`: matching cookies as
  // name=value joined by "; ", longer paths first. Empty when none match.
  std::wstring HeaderFor(const Url& target, Seconds now) const;

  bool empty() const { return cookies_.empty(); }
  size_t size() const { return cookies_.size(); }

 private:
  struct Cookie {
    std::wstring name, value, domain, path;
    bool host_only = true;
    bool secure = false;
    bool persistent = false;
    Seconds expires = 0;
    std::uint64_t order = 0;
  };
  std::vector<Cookie> cookies_;
  std::uint64_t next_order_ = 0;
};

// The cookie date format (day, month name, year, hh:mm:ss in any order);
// returns false when the text is not a date.
bool ParseCookieDate(std::wstring_view text, CookieStore::Seconds& result);

CookieStore::Seconds NowSeconds();

}  // namespace kelvora::net

#include "net/cookie_store.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "common/text.h"
#include "net/http_response.h"

namespace kelvora::net {

namespace {

std::wstring HostOf(const Url& url) { return AsciiLower(url.host); }

bool IsIpLiteral(std::wstring_view host) {
  if (!host.empty() && host.front() == L'[') return true;
  if (host.empty()) return false;
  for (wchar_t c : host)
    if (!(IsAsciiDigit(c) || c == L'.')) return false;
  return true;
}

bool DomainMatches(std::wstring_view host, std::wstring_view domain) {
  if (host == domain) return true;
  if (IsIpLiteral(host)) return false;
  return host.size() > domain.size() && host.substr(host.size() - domain.size()) == domain &&
         host[host.size() - domain.size() - 1] == L'.';
}

bool PathMatches(std::wstring_view request_path, std::wstring_view cookie_path) {
  if (request_path == cookie_path) return true;
  if (request_path.size() > cookie_path.size() && request_path.substr(0, cookie_path.size()) == cookie_path)
    return cookie_path.back() == L'/' || request_path[cookie_path.size()] == L'/';
  return false;
}

std::wstring DefaultPath(std::wstring_view request_path) {
  if (request_path.empty() || request_path.front() != L'/') return L"/";
  const auto last = request_path.rfind(L'/');
  if (last == 0) return L"/";
  return std::wstring(request_path.substr(0, last));
}

bool IsDelimiter(wchar_t c) {
  return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
         (c >= 0x7B && c <= 0x7E);
}

// Leading digits (min_digits..max_digits, min_digits at least 1) of a token;
// -1 when there are too few or too many.
int LeadingNumber(std::wstring_view token, size_t min_digits, size_t max_digits, size_t* used = nullptr) {
  size_t n = 0;
  while (n < token.size() && IsAsciiDigit(token[n])) ++n;
  if (n < min_digits || n > max_digits) return -1;
  const auto value = ParseDecimal(token.substr(0, n), std::numeric_limits<int>::max());
  if (!value) return -1;
  if (used) *used = n;
  return static_cast<int>(*value);
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

bool ParseCookieDate(std::wstring_view text, CookieStore::Seconds& result) {
  static constexpr std::wstring_view kMonths[] = {L"jan", L"feb", L"mar", L"apr", L"may", L"jun",
                                                  L"jul", L"aug", L"sep", L"oct", L"nov", L"dec"};
  int hour = -1, minute = -1, second = -1, day = -1, month = -1, year = -1;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsDelimiter(text[i])) ++i;
    size_t end = i;
    while (end < text.size() && !IsDelimiter(text[end])) ++end;
    const std::wstring_view token = text.substr(i, end - i);
    i = end;
    if (token.empty()) continue;

    if (hour < 0) {
      size_t a = 0, b = 0, c = 0;
      const int h = LeadingNumber(token, 1, 2, &a);
      if (h >= 0 && a < token.size() && token[a] == L':') {
        const auto rest = token.substr(a + 1);
        const int m = LeadingNumber(rest, 1, 2, &b);
        if (m >= 0 && b < rest.size() && rest[b] == L':') {
          const int s = LeadingNumber(rest.substr(b + 1), 1, 2, &c);
          if (s >= 0) {
            hour = h, minute = m, second = s;
            continue;
          }
        }
      }
    }
    if (day < 0) {
      const int d = LeadingNumber(token, 1, 2);
      if (d >= 0) {
        day = d;
        continue;
      }
    }
    if (month < 0 && token.size() >= 3) {
      const std::wstring prefix = AsciiLower(token.substr(0, 3));
      bool found = false;
      for (int m = 0; m < 12; ++m) {
        if (prefix == kMonths[m]) {
          month = m + 1;
          found = true;
          break;
        }
      }
      if (found) continue;
    }
    if (year < 0) {
      const int y = LeadingNumber(token, 2, 4);
      if (y >= 0) year = y;
    }
  }
  if (hour < 0 || day < 0 || month < 0 || year < 0) return false;
  if (year >= 70 && year <= 99) year += 1900;
  else if (year >= 0 && year <= 69) year += 2000;
  if (day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 || second > 59) return false;
  result = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
           minute * 60 + second;
  return true;
}

CookieStore::Seconds NowSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

void CookieStore::Store(const Url& origin, std::wstring_view set_cookie, Seconds now) {
  // A cookie goes back on a request header: a control character in it
  // could split that header, so such a cookie is refused whole.
  if (HasControlCharacter(set_cookie)) return;
  // name=value, then attributes, all separated by ";".
  std::vector<std::wstring_view> parts;
  size_t begin = 0;
  while (begin <= set_cookie.size()) {
    auto end = set_cookie.find(L';', begin);
    if (end == std::wstring_view::npos) end = set_cookie.size();
    parts.push_back(set_cookie.substr(begin, end - begin));
    begin = end + 1;
  }
  const auto pair = parts.front();
  const auto equals = pair.find(L'=');
  if (equals == std::wstring_view::npos) return;
  Cookie cookie;
  cookie.name = TrimBlanks(pair.substr(0, equals));
  cookie.value = TrimBlanks(pair.substr(equals + 1));
  if (cookie.name.empty()) return;

  const std::wstring host = HostOf(origin);
  std::wstring domain_attr;
  std::wstring path_attr;
  bool has_max_age = false;
  Seconds max_age_expiry = 0;
  bool has_expires = false;
  Seconds expires = 0;
  for (size_t k = 1; k < parts.size(); ++k) {
    const auto attr = parts[k];
    const auto eq = attr.find(L'=');
    const std::wstring name = AsciiLower(TrimBlanks(attr.substr(0, eq)));
    const std::wstring value = eq == std::wstring_view::npos ? std::wstring() : TrimBlanks(attr.substr(eq + 1));
    if (name == L"domain") {
      domain_attr = AsciiLower(value);
      if (!domain_attr.empty() && domain_attr.front() == L'.') domain_attr.erase(0, 1);
    } else if (name == L"path") {
      path_attr = value;
    } else if (name == L"secure") {
      cookie.secure = true;
    } else if (name == L"max-age") {
      const bool negative = !value.empty() && value.front() == L'-';
      const std::wstring_view digits = std::wstring_view(value).substr(negative ? 1 : 0);
      if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsAsciiDigit)) continue;
      // Anything longer is as good as forever; the cap keeps now + delta
      // from overflowing.
      constexpr Seconds kForever = std::numeric_limits<Seconds>::max() / 4;
      const Seconds delta = ParseDecimal(digits, kForever).value_or(kForever);
      has_max_age = true;
      max_age_expiry = (negative || delta == 0) ? std::numeric_limits<Seconds>::min() : now + delta;
    } else if (name == L"expires") {
      Seconds when = 0;
      if (ParseCookieDate(value, when)) {
        has_expires = true;
        expires = when;
      }
    }
  }

  if (domain_attr.empty()) {
    cookie.host_only = true;
    cookie.domain = host;
  } else if (domain_attr == host) {
    cookie.host_only = IsIpLiteral(host);
    cookie.domain = host;
  } else {
    // Only the host's own domain or a parent of it, and never a bare top-level name.
    if (!DomainMatches(host, domain_attr) || domain_attr.find(L'.') == std::wstring::npos) return;
    cookie.host_only = false;
    cookie.domain = domain_attr;
  }
  cookie.path = (!path_attr.empty() && path_attr.front() == L'/') ? path_attr : DefaultPath(origin.path);
  // A cookie that is to travel only over https is not accepted from plain http.
  if (cookie.secure && !origin.secure()) return;

  if (has_max_age) {
    cookie.persistent = true;
    cookie.expires = max_age_expiry;
  } else if (has_expires) {
    cookie.persistent = true;
    cookie.expires = expires;
  }

  auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
    return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
  });
  std::uint64_t order = next_order_++;
  if (same != cookies_.end()) {
    order = same->order;  // keeps its creation time
    cookies_.erase(same);
  }
  if (cookie.persistent && cookie.expires <= now) return;
  cookie.order = order;
  cookies_.push_back(std::move(cookie));
}

std::wstring CookieStore::HeaderFor(const Url& target, Seconds now) const {
  const std::wstring host = HostOf(target);
  std::vector<const Cookie*> matching;
  for (const auto& cookie : cookies_) {
    if (cookie.persistent && cookie.expires <= now) continue;
    if (cookie.secure && !target.secure()) continue;
    if (cookie.host_only ? host != cookie.domain : !DomainMatches(host, cookie.domain)) continue;
    if (!PathMatches(target.path, cookie.path)) continue;
    matching.push_back(&cookie);
  }
  std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
    if (a->path.size() != b->path.size()) return a->path.size() > b->path.size();
    return a->order < b->order;
  });
  std::wstring header;
  for (const auto* cookie : matching) {
    if (!header.empty()) header += L"; ";
    header += cookie->name + L"=" + cookie->value;
  }
  return header;
}

}  // namespace kelvora::net

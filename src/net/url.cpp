#include "net/url.h"

#include <vector>

#include "common/text.h"
#include "net/http_error.h"

namespace kelvora::net {

namespace {

bool IsSchemeChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || IsAsciiDigit(c) || c == L'+' ||
         c == L'-' || c == L'.';
}

// Splits "path?query#fragment" into its parts.
void SplitPathQueryFragment(std::wstring_view rest, std::wstring& path, std::wstring& query, bool& has_query,
                            std::wstring& fragment, bool& has_fragment) {
  const auto hash = rest.find(L'#');
  has_fragment = hash != std::wstring_view::npos;
  if (has_fragment) {
    fragment = std::wstring(rest.substr(hash + 1));
    rest = rest.substr(0, hash);
  } else {
    fragment.clear();
  }
  const auto question = rest.find(L'?');
  has_query = question != std::wstring_view::npos;
  if (has_query) {
    query = std::wstring(rest.substr(question + 1));
    rest = rest.substr(0, question);
  } else {
    query.clear();
  }
  path = std::wstring(rest);
}

[[noreturn]] void ThrowBadUrl(std::wstring_view address) {
  throw HttpError(HttpError::Kind::Url, FormatNetMessage(L"Ungültiger URL: \"%s\"", address));
}

bool IsHexDigit(wchar_t c) { return IsAsciiDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

bool IsIpv4Literal(std::wstring_view text) {
  int parts = 0;
  size_t begin = 0;
  while (true) {
    size_t end = text.find(L'.', begin);
    if (end == std::wstring_view::npos) end = text.size();
    const auto part = text.substr(begin, end - begin);
    if (part.size() > 3 || (part.size() > 1 && part.front() == L'0')) return false;
    if (!ParseDecimal(part, 255) || ++parts > 4) return false;
    if (end == text.size()) break;
    begin = end + 1;
  }
  return parts == 4;
}

}  // namespace

bool HasControlCharacter(std::wstring_view text) {
  for (wchar_t c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

bool IsIpv6Literal(std::wstring_view text) {
  // Groups of 1-4 hex digits separated by ":", one "::" standing for at
  // least one zero group, and an IPv4 address in the last 32 bits.
  const auto gap = text.find(L"::");
  if (gap != std::wstring_view::npos && text.find(L"::", gap + 1) != std::wstring_view::npos) return false;
  int groups = 0;
  auto count_groups = [&](std::wstring_view part, bool may_end_in_ipv4) {
    if (part.empty()) return true;
    size_t begin = 0;
    while (true) {
      size_t end = part.find(L':', begin);
      const bool last = end == std::wstring_view::npos;
      if (last) end = part.size();
      const auto group = part.substr(begin, end - begin);
      if (last && may_end_in_ipv4 && group.find(L'.') != std::wstring_view::npos) {
        if (!IsIpv4Literal(group)) return false;
        groups += 2;
        return true;
      }
      if (group.empty() || group.size() > 4) return false;
      for (wchar_t c : group)
        if (!IsHexDigit(c)) return false;
      ++groups;
      if (last) return true;
      begin = end + 1;
    }
  };
  if (gap == std::wstring_view::npos) return count_groups(text, true) && groups == 8;
  if (!count_groups(text.substr(0, gap), false) || !count_groups(text.substr(gap + 2), true)) return false;
  return groups <= 7;
}

std::uint16_t DefaultPort(std::wstring_view scheme) {
  if (EqualsIgnoreCase(scheme, L"https")) return 443;
  if (EqualsIgnoreCase(scheme, L"http")) return 80;
  return 0;
}

std::wstring Url::PathAndQuery() const {
  std::wstring result = path.empty() ? L"/" : path;
  if (has_query) result += L"?" + query;
  return result;
}

std::wstring Url::ToString() const {
  std::wstring result = scheme + L"://" + host;
  if (port != DefaultPort(scheme)) result += L":" + std::to_wstring(port);
  result += PathAndQuery();
  if (has_fragment) result += L"#" + fragment;
  return result;
}

std::optional<Url> ParseUrl(std::wstring_view address) {
  // Nothing of an address may break the request line or a header apart.
  if (HasControlCharacter(address)) return std::nullopt;
  const auto colon = address.find(L':');
  if (colon == std::wstring_view::npos || colon == 0) return std::nullopt;
  for (size_t i = 0; i < colon; ++i)
    if (!IsSchemeChar(address[i])) return std::nullopt;
  Url url;
  url.scheme = AsciiLower(address.substr(0, colon));
  if (url.scheme != L"http" && url.scheme != L"https") return std::nullopt;
  if (address.substr(colon + 1, 2) != L"//") return std::nullopt;

  std::wstring_view rest = address.substr(colon + 3);
  const auto authority_end = rest.find_first_of(L"/?#");
  std::wstring_view authority = rest.substr(0, authority_end);
  rest = authority_end == std::wstring_view::npos ? std::wstring_view{} : rest.substr(authority_end);
  if (authority.find(L'@') != std::wstring_view::npos) return std::nullopt;

  std::wstring_view port_text;
  if (!authority.empty() && authority.front() == L'[') {
    const auto close = authority.find(L']');
    if (close == std::wstring_view::npos || !IsIpv6Literal(authority.substr(1, close - 1))) return std::nullopt;
    url.host = std::wstring(authority.substr(0, close + 1));
    const auto after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != L':') return std::nullopt;
      port_text = after.substr(1);
      if (port_text.empty()) return std::nullopt;
    }
  } else {
    const auto port_colon = authority.find(L':');
    url.host = std::wstring(authority.substr(0, port_colon));
    if (port_colon != std::wstring_view::npos) {
      port_text = authority.substr(port_colon + 1);
      if (port_text.empty()) return std::nullopt;
    }
    for (wchar_t c : url.host)
      if (c <= L' ' || c == L'\\' || c == L'%' || c == L'[' || c == L']') return std::nullopt;
  }
  if (url.host.empty()) return std::nullopt;

  if (port_text.empty()) {
    url.port = DefaultPort(url.scheme);
  } else {
    if (port_text.size() > 5) return std::nullopt;
    const auto port = ParseDecimal(port_text, 65535);
    if (!port || *port == 0) return std::nullopt;
    url.port = static_cast<std::uint16_t>(*port);
  }

  SplitPathQueryFragment(rest, url.path, url.query, url.has_query, url.fragment, url.has_fragment);
  if (url.path.empty()) url.path = L"/";
  for (wchar_t c : url.path)
    if (c <= L' ') return std::nullopt;
  return url;
}

Url ParseUrlOrThrow(std::wstring_view address) {
  auto url = ParseUrl(address);
  if (!url) ThrowBadUrl(address);
  return *url;
}

Url ResolveRedirect(const Url& current, std::wstring_view location) {
  if (HasControlCharacter(location)) ThrowBadUrl(location);
  Url next;
  const auto colon = location.find(L':');
  const auto slash = location.find(L'/');
  if (colon != std::wstring_view::npos && colon < slash) {
    next = ParseUrlOrThrow(location);
  } else {
    next = current;
    std::wstring path;
    SplitPathQueryFragment(location, path, next.query, next.has_query, next.fragment, next.has_fragment);
    if (!path.empty() && path.front() == L'/') {
      next.path = path;
    } else if (path.empty()) {
      // Only a query or fragment: the document stays the same.
      next.path = current.path;
    } else {
      const std::wstring directory = current.path.substr(0, current.path.rfind(L'/') + 1);
      const std::wstring joined = directory + path;
      std::vector<std::wstring> segments;
      size_t begin = 1;  // past the root "/"
      while (begin <= joined.size()) {
        auto end = joined.find(L'/', begin);
        if (end == std::wstring::npos) end = joined.size();
        std::wstring segment = joined.substr(begin, end - begin);
        begin = end + 1;
        if (segment == L".") continue;
        if (segment == L"..") {
          if (segments.empty())
            throw HttpError(HttpError::Kind::Url,
                            FormatNetMessage(L"Ungültiger relativer URL-Pfad: \"%s\"", location));
          segments.pop_back();
          continue;
        }
        segments.push_back(std::move(segment));
      }
      // The trailing "/" is a property of the Location, not of the directory.
      while (!segments.empty() && segments.back().empty()) segments.pop_back();
      next.path.clear();
      for (const auto& segment : segments) next.path += L"/" + segment;
      if (next.path.empty() || path.back() == L'/') next.path += L"/";
    }
  }
  if (!next.has_fragment && current.has_fragment) {
    next.fragment = current.fragment;
    next.has_fragment = true;
  }
  return next;
}

std::wstring RangeHeaderValue(std::int64_t start, std::int64_t end) {
  std::wstring value = L"bytes=";
  if (start >= 0) value += std::to_wstring(start);
  value += L"-";
  if (end >= 0) value += std::to_wstring(end);
  return value;
}

}  // namespace kelvora::net

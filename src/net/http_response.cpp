#include "net/http_response.h"

#include "common/text.h"

namespace kelvora::net {

namespace {
bool IsRequestLine(std::wstring_view line) {
  static constexpr std::wstring_view kMethods[] = {L"GET ",     L"HEAD ",    L"POST ",  L"PUT ",  L"DELETE ",
                                                   L"OPTIONS ", L"CONNECT ", L"TRACE ", L"PATCH "};
  for (auto method : kMethods)
    if (line.substr(0, method.size()) == method) return true;
  return false;
}
}  // namespace

std::wstring HttpResponse::Header(std::wstring_view name) const {
  for (const auto& [key, value] : headers)
    if (EqualsIgnoreCase(key, name)) return value;
  return {};
}

HeaderList ParseHeaderBlock(std::wstring_view raw, std::vector<std::wstring>* set_cookies) {
  HeaderList headers;
  size_t begin = 0;
  while (begin < raw.size()) {
    auto end = raw.find(L"\r\n", begin);
    if (end == std::wstring_view::npos) end = raw.size();
    const std::wstring_view line = raw.substr(begin, end - begin);
    begin = end + 2;

    const auto colon = line.find(L':');
    if (colon == std::wstring_view::npos || colon == 0) continue;
    if (StartsWithIgnoreCase(line, L"HTTP/") || IsRequestLine(line)) continue;
    std::wstring name = TrimBlanks(line.substr(0, colon));
    if (name.empty()) continue;  // only blanks before the colon: no name at all
    std::wstring value = TrimBlanks(line.substr(colon + 1));
    if (set_cookies && EqualsIgnoreCase(name, L"Set-Cookie")) {
      set_cookies->push_back(std::move(value));
      continue;
    }
    bool joined = false;
    for (auto& [key, existing] : headers) {
      if (EqualsIgnoreCase(key, name)) {
        existing += L", " + value;
        joined = true;
        break;
      }
    }
    if (!joined) headers.emplace_back(std::move(name), std::move(value));
  }
  return headers;
}

std::int64_t ParseContentLength(std::wstring_view value) { return ParseDecimal(value).value_or(-1); }

std::int64_t SizeFromHead(const HttpResponse& head) {
  // A 206 describes a part (the HEAD asked for none), so its length is not the file's.
  return head.status >= 200 && head.status <= 299 && head.status != 206 ? head.content_length : -1;
}

}  // namespace kelvora::net

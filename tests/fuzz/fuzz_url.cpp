// Address parsing and redirect resolution on any text. What parses writes
// back to itself; no address that comes out carries a character that could
// break the request line; a bracketed host is always an IPv6 address.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

#include "fuzz_require.h"
#include "fuzz_text.h"
#include "net/http_error.h"
#include "net/url.h"

namespace {

using kelvora::net::Url;

void CheckSound(const Url& url) {
  FUZZ_REQUIRE(url.scheme == L"http" || url.scheme == L"https");
  FUZZ_REQUIRE(!url.host.empty() && url.port != 0);
  FUZZ_REQUIRE(!url.path.empty() && url.path.front() == L'/');
  FUZZ_REQUIRE(!kelvora::net::HasControlCharacter(url.ToString()));
  if (url.host.front() == L'[') {
    FUZZ_REQUIRE(url.host.size() > 2 && url.host.back() == L']');
    FUZZ_REQUIRE(kelvora::net::IsIpv6Literal(std::wstring_view(url.host).substr(1, url.host.size() - 2)));
  }
}

bool SameUrl(const Url& a, const Url& b) {
  return a.scheme == b.scheme && a.host == b.host && a.port == b.port && a.path == b.path && a.query == b.query &&
         a.fragment == b.fragment && a.has_query == b.has_query && a.has_fragment == b.has_fragment;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::wstring address = kelvora::fuzz::ConsumeWide(input, 512);
  const std::wstring location = kelvora::fuzz::RemainingWide(input);

  if (const auto url = kelvora::net::ParseUrl(address)) {
    CheckSound(*url);
    const auto again = kelvora::net::ParseUrl(url->ToString());
    FUZZ_REQUIRE(again.has_value() && SameUrl(*url, *again));
  }

  static const Url kBase = *kelvora::net::ParseUrl(L"https://dl.example:8443/fileadmin/files/a.exe?x=1#f");
  try {
    const Url next = kelvora::net::ResolveRedirect(kBase, location);
    CheckSound(next);
  } catch (const kelvora::net::HttpError& e) {
    FUZZ_REQUIRE(e.kind() == kelvora::net::HttpError::Kind::Url);
  }
  return 0;
}

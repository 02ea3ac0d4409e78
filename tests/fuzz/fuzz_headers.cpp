// Response header blocks and the cookies they set, on any text. Parsing
// keeps names non-empty and lines apart; the Cookie header the store
// builds never carries a control character, whatever was set; a
// Retry-After, as seconds or as a date, is never negative and never above
// its ceiling.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_require.h"
#include "fuzz_text.h"
#include "net/cookie_store.h"
#include "net/http_date.h"
#include "net/http_response.h"
#include "net/retry_after.h"

namespace {

const wchar_t* const kAddresses[] = {
    L"https://dl.example/fileadmin/files/a.exe", L"https://www.dl.example/", L"http://dl.example/x/y",
    L"https://127.0.0.1:8443/", L"https://[::1]/p", L"https://other.example/fileadmin/",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto origin = *kelvora::net::ParseUrl(kAddresses[input.ConsumeIntegralInRange<std::size_t>(0, 5)]);
  const auto target = *kelvora::net::ParseUrl(kAddresses[input.ConsumeIntegralInRange<std::size_t>(0, 5)]);
  const auto now = input.ConsumeIntegralInRange<kelvora::net::CookieStore::Seconds>(0, 4102444800);
  const std::wstring raw = kelvora::fuzz::RemainingWide(input);

  std::vector<std::wstring> set_cookies;
  kelvora::net::HttpResponse response;
  response.headers = kelvora::net::ParseHeaderBlock(raw, &set_cookies);
  for (const auto& [name, value] : response.headers) {
    FUZZ_REQUIRE(!name.empty());
    FUZZ_REQUIRE(name.find(L"\r\n") == std::wstring::npos && value.find(L"\r\n") == std::wstring::npos);
  }
  const std::int64_t length = kelvora::net::ParseContentLength(response.Header(L"Content-Length"));
  FUZZ_REQUIRE(length >= -1);
  response.status = 200;
  response.content_length = length;
  FUZZ_REQUIRE(kelvora::net::SizeFromHead(response) == length);

  const auto retry_after = kelvora::net::RetryAfterSeconds(response, now);
  if (retry_after) FUZZ_REQUIRE(*retry_after >= 0 && *retry_after <= kelvora::net::kRetryAfterCeiling);
  // 9999-12-31 23:59:60 is the latest instant a date may name.
  for (const auto& [name, value] : response.headers) {
    const auto date = kelvora::net::ParseHttpDate(value);
    if (date) FUZZ_REQUIRE(*date >= 0 && *date <= 253402300800);
  }

  kelvora::net::CookieStore store;
  for (const auto& value : set_cookies) store.Store(origin, value, now);
  FUZZ_REQUIRE(store.size() <= set_cookies.size());
  const std::wstring cookie = store.HeaderFor(target, now);
  FUZZ_REQUIRE(!kelvora::net::HasControlCharacter(cookie));
  return 0;
}

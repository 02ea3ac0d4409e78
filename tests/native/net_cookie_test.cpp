#include <gtest/gtest.h>

#include "common/text.h"
#include "net/cookie_store.h"

namespace kelvora::net {
namespace {

constexpr CookieStore::Seconds kNow = 1700000000;  // 2023-11-14 22:13:20 UTC

struct CookieCase {
  const char* name;
  const wchar_t* origin;
  const wchar_t* set_cookie;
  const wchar_t* target;
  const wchar_t* expected;  // the Cookie header value for the target
};

TEST(NetCookies, SendsCookiesOnlyWhereTheyBelong) {
  const CookieCase cases[] = {
      {"host-only to same host", L"https://a.example/x", L"s=1", L"https://a.example/y", L"s=1"},
      {"host-only not to subdomain", L"https://a.example/", L"s=1", L"https://www.a.example/", L""},
      {"host-only not to other host", L"https://a.example/", L"s=1", L"https://b.example/", L""},
      {"host compared without case", L"https://A.Example/", L"s=1", L"https://a.EXAMPLE/", L"s=1"},
      {"domain to subdomain", L"https://www.a.example/", L"s=1; Domain=.a.example", L"https://dl.a.example/", L"s=1"},
      {"domain to itself", L"https://www.a.example/", L"s=1; domain=a.example", L"https://a.example/", L"s=1"},
      {"domain not to lookalike", L"https://www.a.example/", L"s=1; Domain=a.example", L"https://xa.example/", L""},
      {"foreign domain rejected", L"https://a.example/", L"s=1; Domain=b.example", L"https://b.example/", L""},
      {"top-level domain rejected", L"https://a.example/", L"s=1; Domain=example", L"https://b.example/", L""},
      {"domain equal to host covers subdomains", L"https://a.example/", L"s=1; Domain=a.example",
       L"https://x.a.example/", L"s=1"},
      {"default path is the directory", L"https://a.example/dl/file.exe", L"s=1", L"https://a.example/dl/other",
       L"s=1"},
      {"default path excludes siblings", L"https://a.example/dl/file.exe", L"s=1", L"https://a.example/other", L""},
      {"path prefix on segment boundary", L"https://a.example/", L"s=1; Path=/dl", L"https://a.example/dl/x", L"s=1"},
      {"path prefix not mid-segment", L"https://a.example/", L"s=1; Path=/dl", L"https://a.example/dlx", L""},
      {"path with trailing slash", L"https://a.example/", L"s=1; Path=/dl/", L"https://a.example/dl/x", L"s=1"},
      {"invalid path uses default", L"https://a.example/d/f", L"s=1; Path=x", L"https://a.example/d/g", L"s=1"},
      {"secure over https", L"https://a.example/", L"s=1; Secure", L"https://a.example/", L"s=1"},
      {"secure not over http", L"https://a.example/", L"s=1; Secure", L"http://a.example/", L""},
      {"secure not accepted from http", L"http://a.example/", L"s=1; Secure", L"https://a.example/", L""},
      {"plain cookie from http goes to https", L"http://a.example/", L"s=1", L"https://a.example/", L"s=1"},
      {"expired by date dropped", L"https://a.example/", L"s=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT",
       L"https://a.example/", L""},
      {"future date kept", L"https://a.example/", L"s=1; Expires=Fri, 01 Jan 2100 00:00:00 GMT",
       L"https://a.example/", L"s=1"},
      {"max-age zero dropped", L"https://a.example/", L"s=1; Max-Age=0", L"https://a.example/", L""},
      {"max-age wins over date", L"https://a.example/",
       L"s=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=60", L"https://a.example/", L"s=1"},
      {"no name=value ignored", L"https://a.example/", L"garbage", L"https://a.example/", L""},
      {"empty name ignored", L"https://a.example/", L"=v", L"https://a.example/", L""},
      {"value kept as sent", L"https://a.example/", L" tok = a=b=c ; HttpOnly", L"https://a.example/",
       L"tok=a=b=c"},
      {"ip host only exact", L"http://127.0.0.1/", L"s=1; Domain=0.0.1", L"http://127.0.0.1/", L""},
      // A control character could split the Cookie header it would go back on.
      {"carriage return refused", L"https://a.example/", L"s=1\rX-Injected: 1", L"https://a.example/", L""},
      {"line feed refused", L"https://a.example/", L"s=1\nX-Injected: 1", L"https://a.example/", L""},
      {"control character in an attribute", L"https://a.example/", L"s=1; Path=/\x01", L"https://a.example/", L""},
      {"delete character refused", L"https://a.example/", L"s=1\x7F", L"https://a.example/", L""},
      {"tab inside the value refused", L"https://a.example/", L"s=a\tb", L"https://a.example/", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CookieStore store;
    store.Store(*ParseUrl(c.origin), c.set_cookie, kNow);
    EXPECT_EQ(store.HeaderFor(*ParseUrl(c.target), kNow), c.expected);
  }
}

// A site must not plant cookies for another whose name merely ends like its
// own: the Domain attribute is matched on a label boundary when stored, not
// only when the cookies are read back.
TEST(NetCookies, LookAlikeHostCannotSetACookieForTheDomain) {
  CookieStore store;
  store.Store(*ParseUrl(L"https://evila.example/"), L"s=1; Domain=a.example", kNow);
  EXPECT_TRUE(store.empty());
  EXPECT_EQ(store.HeaderFor(*ParseUrl(L"https://a.example/"), kNow), L"");
  EXPECT_EQ(store.HeaderFor(*ParseUrl(L"https://evila.example/"), kNow), L"");
}

TEST(NetCookies, NulInsideASetCookieRefusesIt) {
  CookieStore store;
  store.Store(*ParseUrl(L"https://a.example/"), std::wstring(L"s=1\0X: y", 9), kNow);
  EXPECT_TRUE(store.empty());
}

TEST(NetCookies, JoinsLongerPathsFirstThenOlder) {
  CookieStore store;
  const Url origin = *ParseUrl(L"https://a.example/dl/sub/file");
  store.Store(origin, L"a=1; Path=/", kNow);
  store.Store(origin, L"b=2; Path=/dl/sub", kNow);
  store.Store(origin, L"c=3; Path=/", kNow);
  store.Store(origin, L"d=4; Path=/dl", kNow);
  EXPECT_EQ(store.HeaderFor(*ParseUrl(L"https://a.example/dl/sub/x"), kNow), L"b=2; d=4; a=1; c=3");
}

TEST(NetCookies, ReplacesAndDeletesByNameDomainAndPath) {
  CookieStore store;
  const Url origin = *ParseUrl(L"https://a.example/");
  store.Store(origin, L"s=1", kNow);
  store.Store(origin, L"s=2", kNow);
  store.Store(origin, L"s=other; Path=/dl", kNow);
  EXPECT_EQ(store.size(), 2u);
  EXPECT_EQ(store.HeaderFor(*ParseUrl(L"https://a.example/dl/x"), kNow), L"s=other; s=2");
  store.Store(origin, L"s=; Max-Age=-1", kNow);
  EXPECT_EQ(store.HeaderFor(*ParseUrl(L"https://a.example/dl/x"), kNow), L"s=other");
}

TEST(NetCookies, ExpiresWithTime) {
  CookieStore store;
  store.Store(*ParseUrl(L"https://a.example/"), L"s=1; Max-Age=60", kNow);
  EXPECT_EQ(store.HeaderFor(*ParseUrl(L"https://a.example/"), kNow + 59), L"s=1");
  EXPECT_EQ(store.HeaderFor(*ParseUrl(L"https://a.example/"), kNow + 60), L"");
}

TEST(NetCookies, ParsesCookieDates) {
  struct {
    const wchar_t* text;
    bool valid;
    CookieStore::Seconds expected;
  } cases[] = {
      {L"Wed, 21 Oct 2015 07:28:00 GMT", true, 1445412480},
      {L"Wednesday, 21-Oct-15 07:28:00 GMT", true, 1445412480},
      {L"Wed Oct 21 07:28:00 2015", true, 1445412480},
      {L"Thu, 01 Jan 1970 00:00:00 GMT", true, 0},
      {L"Sat, 29 Feb 2020 23:59:59 GMT", true, 1583020799},
      {L"Wed, 21 Oct 2015", false, 0},
      {L"tomorrow", false, 0},
      {L"Wed, 32 Oct 2015 07:28:00 GMT", false, 0},
  };
  for (const auto& c : cases) {
    CookieStore::Seconds when = -7;
    EXPECT_EQ(ParseCookieDate(c.text, when), c.valid) << ToUtf8(c.text);
    if (c.valid) {
      EXPECT_EQ(when, c.expected) << ToUtf8(c.text);
    }
  }
}

}  // namespace
}  // namespace kelvora::net

#include <gtest/gtest.h>

#include "common/text.h"
#include "net/http_response.h"

namespace kelvora::net {
namespace {

TEST(NetHeaders, ParsesRawBlock) {
  std::vector<std::wstring> cookies;
  const HeaderList headers = ParseHeaderBlock(
      L"HTTP/1.1 302 Found: elsewhere\r\n"
      L"Content-Length:  42 \r\n"
      L"content-type: text/plain\r\n"
      L": no name\r\n"
      L" \t: blank name\r\n"
      L"no colon at all\r\n"
      L"GET /a:b HTTP/1.1\r\n"
      L"Set-Cookie: a=1; Path=/\r\n"
      L"X-Empty:\r\n"
      L"Via: one\r\n"
      L"set-cookie: b=2\r\n"
      L"VIA: two\r\n"
      L"Location: /x:y\r\n"
      L"\r\n",
      &cookies);
  const HeaderList expected = {{L"Content-Length", L"42"}, {L"content-type", L"text/plain"}, {L"X-Empty", L""},
                               {L"Via", L"one, two"},      {L"Location", L"/x:y"}};
  EXPECT_EQ(headers, expected);
  EXPECT_EQ(cookies, (std::vector<std::wstring>{L"a=1; Path=/", L"b=2"}));
}

TEST(NetHeaders, KeepsSetCookieInListWhenNotCollected) {
  const HeaderList headers = ParseHeaderBlock(L"Set-Cookie: a=1\r\nSet-Cookie: b=2");
  EXPECT_EQ(headers, (HeaderList{{L"Set-Cookie", L"a=1, b=2"}}));
}

TEST(NetHeaders, SizeComesFromASuccessfulHeadOnly) {
  struct Case {
    std::int32_t status;
    std::int64_t content_length;
    std::int64_t size;
  } cases[] = {
      {200, 1000, 1000}, {204, 0, 0},    {206, 2, -1}, {299, 5, 5},   {200, -1, -1},
      {403, 162, -1},    {405, 150, -1}, {503, 90, -1},     {302, 0, -1},  {199, 10, -1},
      {300, 10, -1},     {404, 1000, -1}, {0, 1000, -1},
  };
  for (const auto& c : cases) {
    HttpResponse head;
    head.status = c.status;
    head.content_length = c.content_length;
    EXPECT_EQ(SizeFromHead(head), c.size) << c.status;
  }
}

TEST(NetHeaders, LooksUpWithoutRegardToCase) {
  HttpResponse response;
  response.headers = {{L"Content-Length", L"7"}, {L"location", L"/x"}};
  EXPECT_EQ(response.Header(L"LOCATION"), L"/x");
  EXPECT_EQ(response.Header(L"content-length"), L"7");
  EXPECT_EQ(response.Header(L"Missing"), L"");
}

TEST(NetHeaders, ContentLengthValues) {
  struct {
    const wchar_t* raw;  // the header block
    std::int64_t expected;
  } cases[] = {
      {L"Content-Length: 1000", 1000},
      {L"content-length: 0", 0},
      {L"CONTENT-LENGTH: 8589934592", 8589934592LL},
      {L"Content-Length: 9223372036854775807", 9223372036854775807LL},
      {L"Content-Length: 9223372036854775808", -1},
      {L"X-Other: 5", -1},
      {L"Content-Length:", -1},
      {L"Content-Length: 12abc", -1},
      {L"Content-Length: -5", -1},
      {L"Content-Length: 5\r\nContent-Length: 5", -1},  // joined as "5, 5"
  };
  for (const auto& c : cases) {
    HttpResponse response;
    response.headers = ParseHeaderBlock(c.raw);
    EXPECT_EQ(ParseContentLength(response.Header(L"Content-Length")), c.expected) << ToUtf8(c.raw);
  }
}

}  // namespace
}  // namespace kelvora::net

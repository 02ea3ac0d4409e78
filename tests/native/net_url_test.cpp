#include <gtest/gtest.h>

#include "common/text.h"
#include "net/http_error.h"
#include "net/url.h"

namespace kelvora::net {
namespace {

struct ParseCase {
  const wchar_t* address;
  bool valid;
  // Only read for a valid address.
  const wchar_t* scheme = nullptr;
  const wchar_t* host = nullptr;
  int port = 0;
  const wchar_t* path_and_query = nullptr;
  const wchar_t* fragment = nullptr;
};

TEST(NetUrl, ParsesAddresses) {
  const ParseCase cases[] = {
      {L"https://example.com/fileadmin/a.exe", true, L"https", L"example.com", 443, L"/fileadmin/a.exe", L""},
      {L"http://example.com", true, L"http", L"example.com", 80, L"/", L""},
      {L"HTTPS://Example.com:8443/x?y=1&z#frag", true, L"https", L"Example.com", 8443, L"/x?y=1&z", L"frag"},
      {L"https://localhost:1/?", true, L"https", L"localhost", 1, L"/?", L""},
      {L"http://[::1]:8080/p", true, L"http", L"[::1]", 8080, L"/p", L""},
      {L"https://h?q", true, L"https", L"h", 443, L"/?q", L""},
      {L"ftp://example.com/", false},
      {L"https:/example.com/", false},
      {L"https://", false},
      {L"https://:443/", false},
      {L"https://user@example.com/", false},
      {L"https://example.com:0/", false},
      {L"https://example.com:65536/", false},
      {L"https://example.com:/", false},
      {L"https://example.com:12a/", false},
      {L"example.com/path", false},
      {L"", false},
      {L"https://exa mple.com/", false},
      {L"https://example.com/a b", false},
      {L"https://[2001:db8::7]/", true, L"https", L"[2001:db8::7]", 443, L"/", L""},
      {L"https://[1:2:3:4:5:6:7:8]:444/", true, L"https", L"[1:2:3:4:5:6:7:8]", 444, L"/", L""},
      {L"https://[::ffff:192.0.2.1]/", true, L"https", L"[::ffff:192.0.2.1]", 443, L"/", L""},
      {L"https://[::]/", true, L"https", L"[::]", 443, L"/", L""},
      {L"https://[]/", false},
      {L"https://[localhost]/", false},
      {L"https://[example.com]/", false},
      {L"https://[::1%25eth0]/", false},
      {L"https://[1:2:3:4:5:6:7:8:9]/", false},
      {L"https://[1:2:3:4:5:6:7]/", false},
      {L"https://[1::2::3]/", false},
      {L"https://[12345::]/", false},
      {L"https://[:1]/", false},
      {L"https://[1:]/", false},
      {L"https://[::256.1.1.1]/", false},
      {L"https://[::1.2.3]/", false},
      {L"https://[1.2.3.4]/", false},
      {L"https://[::1]x/", false},
      {L"https://[::1/", false},
      {L"https://a.example/x?y\r\nX-Injected: 1", false},
      {L"https://a.example/x#\n", false},
      {L"https://a.example/\x7F", false},
      {L"https://a.example/?\x1B", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.address));
    const auto url = ParseUrl(c.address);
    ASSERT_EQ(url.has_value(), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(url->scheme, c.scheme);
    EXPECT_EQ(url->host, c.host);
    EXPECT_EQ(url->port, c.port);
    EXPECT_EQ(url->PathAndQuery(), c.path_and_query);
    EXPECT_EQ(url->fragment, c.fragment);
  }
}

TEST(NetUrl, WritesPortOnlyWhenNotDefault) {
  EXPECT_EQ(ParseUrl(L"https://h:443/a")->ToString(), L"https://h/a");
  EXPECT_EQ(ParseUrl(L"http://h:443/a#f")->ToString(), L"http://h:443/a#f");
  EXPECT_EQ(ParseUrl(L"https://h:80/a?")->ToString(), L"https://h:80/a?");
}

TEST(NetUrl, BadAddressRaisesUrlError) {
  try {
    ParseUrlOrThrow(L"nonsense");
    FAIL() << "no error";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.kind(), HttpError::Kind::Url);
    EXPECT_EQ(e.message(), L"Ungültiger URL: \"nonsense\"");
    EXPECT_STREQ(e.what(), "Ungültiger URL: \"nonsense\"");
  }
}

struct RedirectCase {
  const wchar_t* current;
  const wchar_t* location;
  const wchar_t* expected;  // nullptr: raises the URL error
};

TEST(NetUrl, ResolvesRedirectTargets) {
  const RedirectCase cases[] = {
      // absolute: a colon before the first "/"
      {L"https://a.example/x/y", L"https://b.example:444/z?q", L"https://b.example:444/z?q"},
      {L"https://a.example/x/y", L"HTTP://b.example/z", L"http://b.example/z"},
      // root-relative: replaces path and query, keeps scheme, host and port
      {L"https://a.example:8443/x/y?old", L"/new/path?n=1", L"https://a.example:8443/new/path?n=1"},
      {L"https://a.example/x/y?old", L"/", L"https://a.example/"},
      // relative: appended to the directory, dot segments resolved
      {L"https://a.example/x/y/file", L"other", L"https://a.example/x/y/other"},
      {L"https://a.example/x/y/file", L"../other", L"https://a.example/x/other"},
      {L"https://a.example/x/y/file", L"./a/./b/../c", L"https://a.example/x/y/a/c"},
      {L"https://a.example/x/y/file", L"../../top?q=1", L"https://a.example/top?q=1"},
      {L"https://a.example/x/y/", L"sub/", L"https://a.example/x/y/sub/"},
      {L"https://a.example/x/y/file", L"..", L"https://a.example/x"},
      {L"https://a.example/x/y/file", L"../", L"https://a.example/x/"},
      {L"https://a.example/x/y/file", L".", L"https://a.example/x/y"},
      {L"https://a.example/file", L"..", nullptr},
      {L"https://a.example/x/file?old", L"?new", L"https://a.example/x/file?new"},
      // above the root
      {L"https://a.example/file", L"../x", nullptr},
      {L"https://a.example/x/file", L"../../x", nullptr},
      // fragments: kept from the current address unless the Location has one
      {L"https://a.example/x#top", L"/y", L"https://a.example/y#top"},
      {L"https://a.example/x#top", L"/y#own", L"https://a.example/y#own"},
      {L"https://a.example/x#top", L"https://b.example/", L"https://b.example/#top"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(std::wstring(c.current) + L" + " + c.location));
    const Url current = *ParseUrl(c.current);
    if (!c.expected) {
      try {
        ResolveRedirect(current, c.location);
        ADD_FAILURE() << "no error";
      } catch (const HttpError& e) {
        EXPECT_EQ(e.kind(), HttpError::Kind::Url);
        EXPECT_EQ(e.message(), L"Ungültiger relativer URL-Pfad: \"" + std::wstring(c.location) + L"\"");
      }
      continue;
    }
    EXPECT_EQ(ResolveRedirect(current, c.location).ToString(), c.expected);
  }
}

TEST(NetUrl, LocationWithAControlCharacterRaisesTheInvalidUrlError) {
  const std::wstring locations[] = {
      L"/next\rX-Injected: 1", L"/next\nSet-Cookie: a=1", std::wstring(L"/next\0.exe", 10), L"other\x01",
      L"https://b.example/\x1F", L"?q=\x7F", L"/a\tb",
  };
  for (const auto& location : locations) {
    SCOPED_TRACE(ToUtf8(location));
    try {
      ResolveRedirect(*ParseUrl(L"https://a.example/x/y"), location);
      ADD_FAILURE() << "no error";
    } catch (const HttpError& e) {
      EXPECT_EQ(e.kind(), HttpError::Kind::Url);
      EXPECT_EQ(e.message(), L"Ungültiger URL: \"" + location + L"\"");
    }
  }
}

TEST(NetUrl, UnparsableAbsoluteLocationRaisesUrlError) {
  try {
    ResolveRedirect(*ParseUrl(L"https://a.example/"), L"mailto:x");
    FAIL() << "no error";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.kind(), HttpError::Kind::Url);
    EXPECT_EQ(e.message(), L"Ungültiger URL: \"mailto:x\"");
  }
}

TEST(NetUrl, RangeHeaderValues) {
  struct {
    std::int64_t start, end;
    const wchar_t* value;
  } cases[] = {
      {0, 1000, L"bytes=0-1000"},
      {0, -1, L"bytes=0-"},
      {-1, 500, L"bytes=-500"},
      {-1, -1, L"bytes=-"},
      {5000000000LL, 9000000000LL, L"bytes=5000000000-9000000000"},
      {10, 5, L"bytes=10-5"},  // sent unchanged, not checked
  };
  for (const auto& c : cases) EXPECT_EQ(RangeHeaderValue(c.start, c.end), c.value) << c.start << " " << c.end;
}

TEST(NetMessages, FillsNumberAndTrimmedText) {
  struct {
    const wchar_t* format;
    std::int64_t code;
    const wchar_t* text;
    const wchar_t* expected;
  } cases[] = {
      {L"Fehler beim Senden der Daten: (%d) %s", 12007, L"Der Servername konnte nicht aufgelöst werden.\r\n",
       L"Fehler beim Senden der Daten: (12007) Der Servername konnte nicht aufgelöst werden"},
      {L"Fehler beim Lesen der Daten: (%d) %s", 12002, L"Zeitüberschreitung. . \n", L"Fehler beim Lesen der Daten: (12002) Zeitüberschreitung"},
      {L"Fehler beim Lesen der Daten: (%d) %s", 1, L"", L"Fehler beim Lesen der Daten: (1) "},
      {L"Fehler beim Lesen der Daten: (%d) %s", 2, L"enthält %d", L"Fehler beim Lesen der Daten: (2) enthält %d"},
      {L"Maximale Anzahl von Umleitungen (%d) überschritten", 5, L"",
       L"Maximale Anzahl von Umleitungen (5) überschritten"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatNetMessage(c.format, c.code, TrimPlatformText(c.text)), c.expected);
}

TEST(NetMessages, StreamWriteErrorText) {
  EXPECT_EQ(StreamWriteError().message(), L"Stream-Schreibfehler");
  EXPECT_EQ(StreamWriteError(L"Datenträger voll").message(), L"Stream-Schreibfehler: Datenträger voll");
  EXPECT_STREQ(StreamWriteError(L"Datenträger voll").what(), "Stream-Schreibfehler: Datenträger voll");
}

}  // namespace
}  // namespace kelvora::net

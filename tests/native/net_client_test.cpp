#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "net/http_client.h"
#include "memory_stream.h"
#include "net_scripted_transport.h"

namespace kelvora::net {
namespace {

using testing::MemoryStream;
using testing::Script;
using testing::ScriptedResponse;
using testing::ScriptedTransport;

constexpr CookieStore::Seconds kNow = 1700000000;

struct Notification {
  const void* sender;
  std::int64_t content_length;
  std::int64_t read_count;
};

// A client over a script, recording every notification; `abort_at` makes
// the handler answer with an abort at that notification (0 = the first).
// Its read clock moves a second at every look: each read is shown.
struct Fixture {
  std::shared_ptr<Script> script = std::make_shared<Script>();
  HttpClient client{std::make_unique<ScriptedTransport>(script), [] { return kNow; }};
  std::vector<Notification> notifications;
  std::optional<size_t> abort_at;

  Fixture() {
    client.SetReadClock([at = std::chrono::steady_clock::time_point{}]() mutable {
      return at += std::chrono::seconds(1);
    });
    client.SetReceiveDataHandler([this](const void* sender, std::int64_t length, std::int64_t count, bool& abort) {
      EXPECT_FALSE(abort);
      notifications.push_back({sender, length, count});
      if (abort_at && notifications.size() == *abort_at + 1) abort = true;
    });
  }
  std::vector<std::int64_t> counts() const {
    std::vector<std::int64_t> result;
    for (const auto& n : notifications) result.push_back(n.read_count);
    return result;
  }
};

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

ScriptedResponse Ok(std::int32_t status, std::wstring headers, std::vector<std::string> chunks = {}) {
  ScriptedResponse response;
  response.status = status;
  response.headers = std::move(headers);
  response.chunks = std::move(chunks);
  return response;
}

ScriptedResponse Redirect(std::int32_t status, std::wstring location, std::wstring more = L"") {
  return Ok(status, L"Location: " + location + (more.empty() ? L"" : L"\r\n" + more), {"moved"});
}

ScriptedResponse Fails(std::uint32_t send_error, std::uint32_t receive_error = 0, std::uint32_t reasons = 0) {
  ScriptedResponse response;
  response.send_error = send_error;
  response.receive_error = receive_error;
  response.secure_failures = reasons;
  return response;
}

// Runs `call` and returns the HttpError it raises (fails the test when none).
template <typename F>
HttpError Raised(F&& call) {
  try {
    call();
  } catch (const HttpError& e) {
    return e;
  }
  ADD_FAILURE() << "no HttpError";
  return HttpError(HttpError::Kind::Client, L"");
}

const wchar_t kUrl[] = L"https://dl.example/fileadmin/files/kelvora/Kelvora_Install.exe";

TEST(NetClient, HeadReturnsResponseAndReadsNoBody) {
  Fixture f;
  f.script->responses.push_back(
      Ok(200, L"Content-Length: 123456\r\nContent-Type: application/octet-stream", {"never read"}));
  const HttpResponse response = f.client.Head(kUrl);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.content_length, 123456);
  EXPECT_EQ(response.Header(L"content-type"), L"application/octet-stream");
  EXPECT_EQ(f.script->reads, 0);
  EXPECT_TRUE(f.notifications.empty());
  ASSERT_EQ(f.script->sent.size(), 1u);
  EXPECT_EQ(f.script->sent[0].method, L"HEAD");
  const HeaderList expected = {{L"User-Agent", HttpClient::kUserAgent}, {L"Host", L"dl.example"}};
  EXPECT_EQ(f.script->sent[0].headers, expected);
  EXPECT_EQ(f.script->disabled_features, 1);
}

TEST(NetClient, HeadContentLengths) {
  struct {
    const wchar_t* headers;
    std::int64_t expected;
  } cases[] = {{L"", -1}, {L"Content-Length: 0", 0}, {L"content-length: 77", 77},
               {L"Content-Length: 5\r\nContent-Length: 5", -1}, {L"Content-Length: x", -1}};
  for (const auto& c : cases) {
    Fixture f;
    f.script->responses.push_back(Ok(200, c.headers));
    EXPECT_EQ(f.client.Head(kUrl).content_length, c.expected) << ToUtf8(c.headers);
  }
}

TEST(NetClient, GetSendsAgentExtraHeadersAndRangeLast) {
  struct {
    std::int64_t start, end;
    HeaderList extra;
    HeaderList expected;
  } cases[] = {
      {0, 1000, {}, {{L"User-Agent", HttpClient::kUserAgent}, {L"Range", L"bytes=0-1000"}, {L"Host", L"dl.example"}}},
      {0, -1, {{L"X-Trace", L"1"}},
       {{L"User-Agent", HttpClient::kUserAgent}, {L"X-Trace", L"1"}, {L"Range", L"bytes=0-"}, {L"Host", L"dl.example"}}},
      {-1, 500, {{L"range", L"bytes=1-2"}, {L"X-A", L"a"}, {L"x-a", L"b"}},
       {{L"User-Agent", HttpClient::kUserAgent}, {L"range", L"bytes=-500"}, {L"X-A", L"b"}, {L"Host", L"dl.example"}}},
  };
  for (const auto& c : cases) {
    Fixture f;
    f.script->responses.push_back(Ok(206, L"Content-Length: 2", {"ok"}));
    MemoryStream target;
    f.client.GetRange(kUrl, c.start, c.end, target, c.extra);
    ASSERT_EQ(f.script->sent.size(), 1u);
    EXPECT_EQ(f.script->sent[0].method, L"GET");
    EXPECT_EQ(f.script->sent[0].headers, c.expected);
  }
}

TEST(NetClient, NotifiesBeforeFirstReadAndAfterEveryChunk) {
  struct {
    const char* name;
    std::int32_t status;
    const wchar_t* headers;
    std::vector<std::string> chunks;
    std::int64_t reported_length;
    std::vector<std::int64_t> counts;
  } cases[] = {
      {"206, three chunks", 206, L"Content-Length: 10", {"abc", "defg", "hij"}, 10, {0, 3, 7, 10}},
      {"200, no length", 200, L"", {"abc", "de"}, -1, {0, 3, 5}},
      {"200, length 0 reported as -1", 200, L"Content-Length: 0", {}, -1, {0}},
      {"204, empty body", 204, L"", {}, -1, {0}},
      {"200, length not an integer", 200, L"Content-Length: 5, 5", {"12345"}, -1, {0, 5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.script->responses.push_back(Ok(c.status, c.headers, c.chunks));
    MemoryStream target;
    const HttpResponse response = f.client.GetRange(kUrl, 0, -1, target);
    EXPECT_EQ(response.status, c.status);
    EXPECT_EQ(f.counts(), c.counts);
    std::string all;
    for (const auto& chunk : c.chunks) all += chunk;
    EXPECT_EQ(Text(target.data()), all);
    for (const auto& n : f.notifications) EXPECT_EQ(n.content_length, c.reported_length);
    for (const auto& n : f.notifications) EXPECT_EQ(n.sender, f.notifications[0].sender);
    EXPECT_NE(f.notifications[0].sender, nullptr);
  }
}

TEST(NetClient, AbortKeepsExactlyTheChunksWritten) {
  const std::vector<std::string> chunks = {"aaaa", "bbb", "cc"};
  for (size_t k = 0; k <= 3; ++k) {
    SCOPED_TRACE("abort after " + std::to_string(k) + " chunks");
    Fixture f;
    f.abort_at = k;
    f.script->responses.push_back(Ok(206, L"Content-Length: 9", chunks));
    MemoryStream target;
    const HttpResponse response = f.client.GetRange(kUrl, 0, 8, target);
    EXPECT_EQ(response.status, 206);
    std::string expected;
    for (size_t i = 0; i < k; ++i) expected += chunks[i];
    EXPECT_EQ(Text(target.data()), expected);
    EXPECT_EQ(f.script->reads, static_cast<int>(k));
    EXPECT_EQ(f.notifications.size(), k + 1);
    EXPECT_EQ(f.script->sent.size(), 1u);
  }
}

TEST(NetClient, ErrorStatusesAreReturnedWithTheirBodyAndNoNotification) {
  struct {
    std::int32_t status;
    const wchar_t* headers;
  } cases[] = {{404, L"Content-Length: 9"}, {416, L"Content-Range: bytes */10"}, {500, L""},
               {401, L"WWW-Authenticate: Basic realm=\"x\""}, {407, L"Proxy-Authenticate: Basic realm=\"p\""},
               {302, L""}, {301, L"Location:   "}, {304, L"Location: /elsewhere"}, {305, L"Location: /p"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    Fixture f;
    f.script->responses.push_back(Ok(c.status, c.headers, {"error", "page"}));
    MemoryStream target(Bytes("0123456789"));
    target.Seek(3);
    const HttpResponse response = f.client.GetRange(kUrl, 3, 9, target);
    EXPECT_EQ(response.status, c.status);
    EXPECT_TRUE(f.notifications.empty());
    EXPECT_EQ(Text(target.data()), "012errorpage");
    EXPECT_EQ(target.Position(), 3);
    EXPECT_EQ(f.script->sent.size(), 1u) << "no further attempt, no credentials asked for";
  }
}

TEST(NetClient, FollowsRedirectsKeepingMethodAndHeaders) {
  struct {
    const char* name;
    std::wstring start;
    std::vector<ScriptedResponse> responses;
    std::vector<std::wstring> urls;  // addresses of the requests sent
  } cases[] = {
      {"absolute", L"https://a.example/x/file",
       {Redirect(302, L"https://b.example:8443/y/file"), Ok(206, L"", {"body"})},
       {L"https://a.example/x/file", L"https://b.example:8443/y/file"}},
      {"root-relative", L"https://a.example:444/x/file?q",
       {Redirect(301, L"/root/file"), Ok(206, L"", {"body"})},
       {L"https://a.example:444/x/file?q", L"https://a.example:444/root/file"}},
      {"relative with ..", L"https://a.example/x/y/file",
       {Redirect(307, L"../z/./file2"), Ok(206, L"", {"body"})},
       {L"https://a.example/x/y/file", L"https://a.example/x/z/file2"}},
      {"all redirect statuses in a chain", L"https://a.example/1",
       {Redirect(300, L"/2"), Redirect(301, L"/3"), Redirect(302, L"/4"), Redirect(303, L"/5"),
        Redirect(308, L"/6"), Ok(200, L"", {"body"})},
       {L"https://a.example/1", L"https://a.example/2", L"https://a.example/3", L"https://a.example/4",
        L"https://a.example/5", L"https://a.example/6"}},
      {"http up to https", L"http://a.example/x", {Redirect(302, L"https://a.example/x"), Ok(206, L"", {"body"})},
       {L"http://a.example/x", L"https://a.example/x"}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    for (auto& r : c.responses) f.script->responses.push_back(r);
    MemoryStream target;
    const HttpResponse response = f.client.GetRange(c.start, 0, 99, target, {{L"X-Trace", L"t"}});
    EXPECT_NE(response.status / 100, 3);
    ASSERT_EQ(f.script->sent.size(), c.urls.size());
    for (size_t i = 0; i < c.urls.size(); ++i) {
      const auto& sent = f.script->sent[i];
      EXPECT_EQ(sent.url, c.urls[i]);
      EXPECT_EQ(sent.method, L"GET");
      const Url url = *ParseUrl(c.urls[i]);
      const std::wstring host = url.host + (url.port == DefaultPort(url.scheme) ? L"" : L":" + std::to_wstring(url.port));
      const HeaderList expected = {{L"User-Agent", HttpClient::kUserAgent}, {L"X-Trace", L"t"},
                                   {L"Range", L"bytes=0-99"}, {L"Host", host}};
      EXPECT_EQ(sent.headers, expected);
    }
    EXPECT_EQ(Text(target.data()), "body");
    EXPECT_EQ(f.counts(), (std::vector<std::int64_t>{0, 4}));
  }
}

TEST(NetClient, HeadStaysHeadOverRedirects) {
  Fixture f;
  f.script->responses.push_back(Redirect(302, L"/b"));
  f.script->responses.push_back(Ok(200, L"Content-Length: 42"));
  EXPECT_EQ(f.client.Head(L"https://a.example/a").content_length, 42);
  ASSERT_EQ(f.script->sent.size(), 2u);
  EXPECT_EQ(f.script->sent[1].method, L"HEAD");
  EXPECT_EQ(f.script->reads, 0);
}

TEST(NetClient, FiveRedirectsAreFollowedTheSixthRaises) {
  for (int redirects : {5, 6}) {
    SCOPED_TRACE(redirects);
    Fixture f;
    for (int i = 0; i < redirects; ++i) f.script->responses.push_back(Redirect(302, L"/r" + std::to_wstring(i)));
    f.script->responses.push_back(Ok(200, L"", {"done"}));
    MemoryStream target;
    if (redirects == 5) {
      EXPECT_EQ(f.client.GetRange(L"https://a.example/", 0, -1, target).status, 200);
      EXPECT_EQ(f.script->sent.size(), 6u);
      continue;
    }
    const HttpError e = Raised([&] { f.client.GetRange(L"https://a.example/", 0, -1, target); });
    EXPECT_EQ(e.kind(), HttpError::Kind::Request);
    EXPECT_EQ(e.message(), L"Maximale Anzahl von Umleitungen (5) überschritten");
    EXPECT_EQ(f.script->sent.size(), 6u);
  }
}

TEST(NetClient, RedirectFromHttpsToOtherSchemeIsNotFollowed) {
  Fixture f;
  f.script->responses.push_back(Redirect(302, L"http://a.example/file.exe"));
  MemoryStream target;
  const HttpResponse response = f.client.GetRange(L"https://a.example/file.exe", 0, -1, target);
  EXPECT_EQ(response.status, 302);
  EXPECT_EQ(response.Header(L"Location"), L"http://a.example/file.exe");
  EXPECT_EQ(f.script->sent.size(), 1u);
  EXPECT_EQ(f.script->opened.size(), 1u);
  EXPECT_TRUE(f.notifications.empty());
}

TEST(NetClient, RelativeLocationAboveRootRaises) {
  Fixture f;
  f.script->responses.push_back(Redirect(302, L"../../x"));
  const HttpError e = Raised([&] { f.client.Head(L"https://a.example/one/file"); });
  EXPECT_EQ(e.kind(), HttpError::Kind::Url);
  EXPECT_EQ(e.message(), L"Ungültiger relativer URL-Pfad: \"../../x\"");
}

TEST(NetClient, RedirectResetsTargetToStartSizeAndPosition) {
  Fixture f;
  f.script->responses.push_back(Ok(302, L"Location: /final", {"0123456789", "ABCDEFGHIJ"}));
  f.script->responses.push_back(Ok(206, L"Content-Length: 3", {"abc"}));
  MemoryStream target(Bytes("........"));
  target.Seek(2);
  EXPECT_EQ(f.client.GetRange(L"https://a.example/start", 2, 4, target).status, 206);
  // The redirect's body is cut back to the start size and then overwritten from the start position.
  EXPECT_EQ(Text(target.data()), "..abc345");
  EXPECT_EQ(target.Position(), 2);
  EXPECT_EQ(f.counts(), (std::vector<std::int64_t>{0, 3}));
}

TEST(NetClient, SendFailuresAreClassified) {
  using namespace secure_failure;
  struct {
    const char* name;
    ScriptedResponse failure;
    std::uint32_t declare_error;
    HttpError::Kind kind;
    const wchar_t* message;
  } cases[] = {
      {"unknown host", Fails(12007), 0, HttpError::Kind::Client,
       L"Fehler beim Senden der Daten: (12007) Meldung 12007"},
      {"no connection", Fails(12029), 0, HttpError::Kind::Client,
       L"Fehler beim Senden der Daten: (12029) Meldung 12029"},
      {"timeout waiting for headers", Fails(0, 12002), 0, HttpError::Kind::Client,
       L"Fehler beim Empfangen der Daten: (12002) Meldung 12002"},
      {"no platform text", Fails(0, 12999), 0, HttpError::Kind::Client, L"Fehler beim Empfangen der Daten: (12999) "},
      {"secure channel only", Fails(12175, 0, kSecurityChannelError), 0, HttpError::Kind::Client,
       L"Fehler beim Senden der Daten: (12175) Meldung 12175"},
      {"secure channel on receive", Fails(0, 12175, kSecurityChannelError), 0, HttpError::Kind::Client,
       L"Fehler beim Empfangen der Daten: (12175) Meldung 12175"},
      {"untrusted issuer", Fails(12175, 0, kInvalidCa), 0, HttpError::Kind::Certificate,
       L"Serverzertifikat ungültig oder nicht vorhanden"},
      {"expired and channel", Fails(12175, 0, kCertDateInvalid | kSecurityChannelError), 0,
       HttpError::Kind::Certificate, L"Serverzertifikat ungültig oder nicht vorhanden"},
      {"wrong name", Fails(0, 12175, kCertCnInvalid), 0, HttpError::Kind::Certificate,
       L"Serverzertifikat ungültig oder nicht vorhanden"},
      {"no reasons recorded", Fails(12175), 0, HttpError::Kind::Certificate,
       L"Serverzertifikat ungültig oder nicht vorhanden"},
      {"client certificate cannot be declared absent", Fails(12044), 5, HttpError::Kind::Certificate,
       L"Nicht spezifiziertes Zertifikat vom Client"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.script->declare_error = c.declare_error;
    f.script->responses.push_back(c.failure);
    const HttpError e = Raised([&] { f.client.Head(kUrl); });
    EXPECT_EQ(e.kind(), c.kind);
    EXPECT_EQ(e.message(), c.message);
    EXPECT_EQ(f.script->sent.size(), 1u);
  }
}

TEST(NetClient, ResendAndClientCertificateRequestsRepeatTheAttempt) {
  Fixture f;
  f.script->responses.push_back(Fails(12032));
  f.script->responses.push_back(Fails(0, 12032));
  f.script->responses.push_back(Fails(12044));
  f.script->responses.push_back(Fails(0, 12044));
  f.script->responses.push_back(Ok(206, L"Content-Length: 2", {"ok"}));
  MemoryStream target;
  EXPECT_EQ(f.client.GetRange(kUrl, 0, 1, target).status, 206);
  EXPECT_EQ(f.script->sent.size(), 5u);
  EXPECT_EQ(f.script->declared_no_certificate, 2);
  EXPECT_EQ(f.script->find_proxy_calls, 5);
  EXPECT_EQ(f.script->opened.size(), 1u) << "a repeated attempt reuses the request";
  EXPECT_EQ(Text(target.data()), "ok");
}

TEST(NetClient, RepeatedResendRequestsEndWithTheLastAttemptsError) {
  struct {
    const char* name;
    ScriptedResponse failure;
    const wchar_t* message;
  } cases[] = {
      {"resend on sending", Fails(12032), L"Fehler beim Senden der Daten: (12032) Meldung 12032"},
      {"resend on receiving", Fails(0, 12032), L"Fehler beim Empfangen der Daten: (12032) Meldung 12032"},
      {"client certificate", Fails(12044), L"Fehler beim Senden der Daten: (12044) Meldung 12044"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    for (int i = 0; i < 50; ++i) f.script->responses.push_back(c.failure);
    const HttpError e = Raised([&] { f.client.Head(kUrl); });
    EXPECT_EQ(e.kind(), HttpError::Kind::Client);
    EXPECT_EQ(e.message(), c.message);
    EXPECT_EQ(f.script->sent.size(), 1u + HttpClient::kMaxResends);
  }
}

TEST(NetClient, ARedirectedRequestGetsResendsOfItsOwn) {
  Fixture f;
  for (int i = 0; i < HttpClient::kMaxResends; ++i) f.script->responses.push_back(Fails(12032));
  f.script->responses.push_back(Redirect(302, L"/next"));
  for (int i = 0; i < HttpClient::kMaxResends; ++i) f.script->responses.push_back(Fails(0, 12032));
  f.script->responses.push_back(Ok(200, L""));
  EXPECT_EQ(f.client.Head(kUrl).status, 200);
  EXPECT_EQ(f.script->sent.size(), 2u * HttpClient::kMaxResends + 2);
}

TEST(NetClient, ABodyLongerThanAskedForStopsOneBytePastTheLimit) {
  const std::vector<std::string> endless(12000, std::string(100, 'x'));  // more than any limit here
  struct {
    const char* name;
    std::int64_t end;                // of the range asked for, from 0
    std::int64_t open_limit;         // for open ranges
    ScriptedResponse response;
    std::size_t written;             // bytes in the target afterwards: the limit, not one more
    std::vector<std::int64_t> counts;
  } cases[] = {
      {"range end ignored by a 200", 149, 0, Ok(200, L"Content-Length: 1000000", endless), 150, {0, 100}},
      {"endless body without length", 149, 0, Ok(200, L"", endless), 150, {0, 100}},
      {"206 longer than its range", 249, 0, Ok(206, L"Content-Range: bytes 0-249/1000", endless), 250, {0, 100, 200}},
      {"one chunk past the end", 49, 0, Ok(206, L"", {std::string(51, 'y')}), 50, {0}},
      {"open range past its limit", -1, 350, Ok(200, L"", endless), 350, {0, 100, 200, 300}},
      {"endless error page", 99, 0, Ok(404, L"", endless), HttpClient::kStatusPageBodyLimit, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    if (c.open_limit) f.client.SetOpenRangeBodyLimit(c.open_limit);
    f.script->responses.push_back(c.response);
    MemoryStream target;
    const HttpError e = Raised([&] { f.client.GetRange(kUrl, 0, c.end, target); });
    EXPECT_EQ(e.kind(), HttpError::Kind::Response);
    EXPECT_EQ(e.message(), L"Fehler beim Lesen der Daten: (12152) Meldung 12152");
    EXPECT_EQ(target.data().size(), c.written);
    EXPECT_EQ(f.counts(), c.counts);
    EXPECT_LE(f.script->reads, static_cast<int>(c.written / 100) + 1) << "reading stopped at once";
  }
}

// The read loop over both kinds of read: Windows' (a read returns once some
// bytes are there) and Wine's (a read waits until its buffer is full or the
// body ends, and a failed one keeps nothing). Each row is a line of 16 KiB
// records, each taking its time to arrive (scripted time). Every record must
// reach the bar within 50 ms plus the shortest wait the transport reports, a
// dying line must lose nothing that arrived, and a fast line must cost few
// hand-overs.
TEST(NetClient, ReadsFollowTheLineInBothReadModes) {
  using std::chrono::microseconds;
  using testing::ReadMode;
  constexpr std::uint32_t kCancelled = 12017;
  constexpr std::size_t kRecord = 16 * 1024;
  const microseconds fast(100);         // 160 MB/s
  const microseconds megabyte(16000);   // 1 MB/s
  const microseconds trickle(1600000);  // 10 KB/s
  const microseconds silence(20000000);
  struct Segment {
    int records;
    microseconds each;
  };
  struct Row {
    const char* name;
    std::vector<Segment> line;
    std::uint32_t read_error;  // after the last record: the line dies
    std::size_t most_shows;    // notifications, the first before any read included
  } rows[] = {
      {"a collapse from full speed to a trickle", {{128, fast}, {12, trickle}}, 0, 16},
      {"a slow start that then speeds up", {{4, trickle}, {128, fast}}, 0, 8},
      {"a rate that rises and falls", {{128, fast}, {64, megabyte}, {128, fast}}, 0, 24},
      {"full speed alone", {{256, fast}}, 0, 3},
      {"a burst before a long silence is shown as the silence begins", {{8, fast}, {1, silence}, {8, fast}}, 0, 5},
      {"a line that dies in a trickle after full speed", {{128, fast}, {6, trickle}}, kCancelled, 9},
      {"a line at 1 MB/s that dies", {{64, megabyte}}, kCancelled, 24},
      {"a trickle that stalls", {{5, trickle}}, kCancelled, 7},
  };
  for (const ReadMode mode : {ReadMode::Windows, ReadMode::Wine}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (mode == ReadMode::Wine ? " (Wine's reads)" : " (Windows' reads)"));
      Fixture f;
      f.script->read_mode = mode;
      f.client.SetReadClock([script = f.script] { return script->now; });
      std::vector<std::pair<std::chrono::steady_clock::time_point, std::int64_t>> shown;
      f.client.SetReceiveDataHandler([&](const void*, std::int64_t, std::int64_t count, bool&) {
        shown.emplace_back(f.script->now, count);
      });
      ScriptedResponse response = Ok(200, L"", {});
      std::vector<std::chrono::steady_clock::time_point> arrived;  // when each record is all there
      std::chrono::steady_clock::time_point at = f.script->now;
      for (const auto& segment : row.line) {
        for (int i = 0; i < segment.records; ++i) {
          response.chunks.push_back(std::string(kRecord, static_cast<char>('a' + response.chunks.size() % 26)));
          response.chunk_times.push_back(segment.each);
          arrived.push_back(at += segment.each);
        }
      }
      response.read_error = row.read_error;
      f.script->responses.push_back(response);
      MemoryStream target;
      if (row.read_error) {
        EXPECT_EQ(Raised([&] { f.client.GetRange(kUrl, 0, -1, target); }).kind(), HttpError::Kind::Response);
      } else {
        EXPECT_EQ(f.client.GetRange(kUrl, 0, -1, target).status, 200);
      }
      // Everything that arrived is in the file, in order, whatever the reads.
      std::string expected;
      for (const auto& chunk : response.chunks) expected += chunk;
      EXPECT_EQ(Text(target.data()), expected);
      // Every record is shown soon after it is all there: no read waits for
      // more than is at hand, and a wait shows what came before it.
      ASSERT_FALSE(shown.empty());
      for (std::size_t i = 0; i < arrived.size(); ++i) {
        const auto covered = std::find_if(shown.begin(), shown.end(), [&](const auto& show) {
          return show.second >= static_cast<std::int64_t>((i + 1) * kRecord);
        });
        ASSERT_NE(covered, shown.end()) << "record " << i << " never shown";
        EXPECT_LE(covered->first - arrived[i], microseconds(50000) + testing::kWaitingAfter) << "record " << i;
      }
      EXPECT_LE(shown.size(), row.most_shows);
      // Never more asked of a read than was at hand: one record.
      for (const auto size : f.script->read_sizes) EXPECT_LE(size, kRecord);
    }
  }
}

TEST(NetClient, ALocationWithALoneLineBreakIsNotFollowed) {
  Fixture f;
  f.script->responses.push_back(Redirect(302, L"/next\nX-Injected: 1"));
  f.script->responses.push_back(Ok(200, L""));
  MemoryStream target;
  const HttpError e = Raised([&] { f.client.GetRange(kUrl, 0, -1, target); });
  EXPECT_EQ(e.kind(), HttpError::Kind::Url);
  EXPECT_EQ(e.message(), L"Ungültiger URL: \"/next\nX-Injected: 1\"");
  EXPECT_EQ(f.script->sent.size(), 1u);
}

TEST(NetClient, SecureFailureReasonsAreClearedAtARedirect) {
  Fixture f;
  // The certificate problem recorded for the first server must not colour the second's failure.
  ScriptedResponse redirect = Redirect(302, L"https://b.example/");
  redirect.secure_failures = secure_failure::kInvalidCa;
  f.script->responses.push_back(redirect);
  f.script->responses.push_back(Fails(12175, 0, secure_failure::kSecurityChannelError));
  const HttpError e = Raised([&] { f.client.Head(kUrl); });
  EXPECT_EQ(e.kind(), HttpError::Kind::Client);
  EXPECT_EQ(e.message(), L"Fehler beim Senden der Daten: (12175) Meldung 12175");
}

TEST(NetClient, ReadFailureKeepsBytesAndRestoresPosition) {
  Fixture f;
  ScriptedResponse response = Ok(206, L"Content-Length: 100", {"abc", "def"});
  response.read_error = 12002;
  f.script->responses.push_back(response);
  MemoryStream target(Bytes("xy"));
  target.Seek(2);
  const HttpError e = Raised([&] { f.client.GetRange(kUrl, 2, 101, target); });
  EXPECT_EQ(e.kind(), HttpError::Kind::Response);
  EXPECT_EQ(e.message(), L"Fehler beim Lesen der Daten: (12002) Meldung 12002");
  EXPECT_EQ(Text(target.data()), "xyabcdef");
  EXPECT_EQ(target.Position(), 2);
  EXPECT_EQ(f.counts(), (std::vector<std::int64_t>{0, 3, 6}));
}

TEST(NetClient, StreamWritesArePartialOrFail) {
  {
    Fixture f;
    f.script->responses.push_back(Ok(206, L"", {"0123456789", "abcdefg"}));
    MemoryStream target;
    target.set_max_write(3);
    f.client.GetRange(kUrl, 0, -1, target);
    EXPECT_EQ(Text(target.data()), "0123456789abcdefg");
    EXPECT_EQ(f.counts(), (std::vector<std::int64_t>{0, 10, 17}));
  }
  {
    Fixture f;
    f.script->responses.push_back(Ok(206, L"", {"0123456789", "abcdefg"}));
    MemoryStream target;
    target.set_fail_at(12);
    try {
      f.client.GetRange(kUrl, 0, -1, target);
      FAIL() << "no error";
    } catch (const StreamWriteError& e) {
      EXPECT_EQ(e.message(), L"Stream-Schreibfehler: Auf dem Datenträger ist nicht genügend Speicherplatz vorhanden");
    }
    EXPECT_EQ(Text(target.data()), "0123456789");
    EXPECT_EQ(target.Position(), 0);
  }
}

TEST(NetClient, HandlerErrorEndsTheExchange) {
  Fixture f;
  f.client.SetReceiveDataHandler([](const void*, std::int64_t, std::int64_t count, bool&) {
    if (count > 0) throw std::runtime_error("receiver failed");
  });
  f.script->responses.push_back(Ok(206, L"", {"abc", "def"}));
  MemoryStream target(Bytes("__"));
  target.Seek(1);
  EXPECT_THROW(
      try { f.client.GetRange(kUrl, 1, 6, target); } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "receiver failed");
        throw;
      },
      std::runtime_error);
  EXPECT_EQ(Text(target.data()), "_abc");
  EXPECT_EQ(target.Position(), 1);
}

TEST(NetClient, HandlerIsCopiedWhenTheExchangeBegins) {
  Fixture f;
  int late_calls = 0;
  f.client.SetReceiveDataHandler([&](const void*, std::int64_t, std::int64_t, bool&) {
    // Replacing the handler mid-exchange must not affect this exchange.
    f.client.SetReceiveDataHandler([&](const void*, std::int64_t, std::int64_t, bool&) { ++late_calls; });
    f.notifications.push_back({});
  });
  f.script->responses.push_back(Ok(206, L"", {"a", "b"}));
  MemoryStream target;
  f.client.GetRange(kUrl, 0, -1, target);
  EXPECT_EQ(f.notifications.size(), 3u);
  EXPECT_EQ(late_calls, 0);
}

TEST(NetClient, CookiesGoOnlyWhereTheyMatchAcrossRedirects) {
  struct {
    const char* name;
    std::wstring start;
    std::wstring set_cookie;
    std::wstring location;
    const wchar_t* expected_cookie;  // on the redirected request, "" for none
  } cases[] = {
      {"same host", L"https://a.example/dl/x", L"sid=1", L"/dl/y", L"sid=1"},
      {"other host", L"https://a.example/dl/x", L"sid=1", L"https://b.example/dl/y", L""},
      {"other path", L"https://a.example/dl/x", L"sid=1; Path=/dl", L"/other", L""},
      {"parent domain", L"https://www.a.example/x", L"sid=1; Domain=a.example", L"https://dl.a.example/x", L"sid=1"},
      {"expired", L"https://a.example/x", L"sid=1; Max-Age=0", L"/y", L""},
      {"secure over https", L"https://a.example/x", L"sid=1; Secure", L"/y", L"sid=1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.script->responses.push_back(Redirect(302, c.location, L"Set-Cookie: " + c.set_cookie));
    f.script->responses.push_back(Redirect(302, L"https://c.example/elsewhere"));
    f.script->responses.push_back(Ok(200, L""));
    f.client.Head(c.start);
    ASSERT_EQ(f.script->sent.size(), 3u);
    std::wstring cookie;
    for (const auto& [name, value] : f.script->sent[1].headers)
      if (EqualsIgnoreCase(name, L"Cookie")) cookie = value;
    EXPECT_EQ(cookie, c.expected_cookie);
    for (const auto& [name, value] : f.script->sent[0].headers) EXPECT_FALSE(EqualsIgnoreCase(name, L"Cookie"));
    for (const auto& [name, value] : f.script->sent[2].headers)
      EXPECT_FALSE(EqualsIgnoreCase(name, L"Cookie")) << "a cookie reached another host";
  }
}

TEST(NetClient, CookiesStayWithTheClient) {
  Fixture f;
  f.script->responses.push_back(Ok(200, L"Set-Cookie: sid=7"));
  f.script->responses.push_back(Ok(200, L""));
  f.client.Head(L"https://a.example/x");
  f.client.Head(L"https://a.example/y");
  ASSERT_EQ(f.script->sent.size(), 2u);
  EXPECT_EQ(f.script->sent[1].headers[1], (std::pair<std::wstring, std::wstring>{L"Cookie", L"sid=7"}));

  Fixture other;
  other.script->responses.push_back(Ok(200, L""));
  other.client.Head(L"https://a.example/y");
  for (const auto& [name, value] : other.script->sent[0].headers) EXPECT_NE(name, L"Cookie");
}

TEST(NetClient, EachAttemptGetsTheProxyFoundForItsAddress) {
  Fixture f;
  f.script->proxy = {L"proxy.example:3128", L"<local>", ProxySetting::Source::Fixed};
  std::vector<AttemptRecord> records;
  f.client.SetAttemptObserver([&](const AttemptRecord& r) { records.push_back(r); });
  f.script->responses.push_back(Fails(12032));
  f.script->responses.push_back(Redirect(302, L"/next"));
  f.script->responses.push_back(Ok(200, L""));
  f.client.Head(L"https://a.example/first");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(f.script->find_proxy_calls, 3);
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].proxy.proxy, L"proxy.example:3128");
    EXPECT_EQ(records[i].proxy.bypass, L"<local>");
    EXPECT_EQ(f.script->sent[i].proxy.proxy, L"proxy.example:3128");
    EXPECT_EQ(records[i].method, L"HEAD");
  }
  EXPECT_EQ(records[0].send_error, 12032u);
  EXPECT_EQ(records[2].url, L"https://a.example/next");
  EXPECT_EQ(records[2].request_headers,
            (HeaderList{{L"User-Agent", HttpClient::kUserAgent}, {L"Host", L"a.example"}}));
}

TEST(NetClient, SetUpFailuresRaiseRequestErrors) {
  struct {
    OpenFailure failure;
    std::uint32_t add_header_error;
    HttpError::Kind kind;
    const wchar_t* message;
  } cases[] = {
      {OpenFailure::Connect, 0, HttpError::Kind::Request, L"Fehler beim Verbinden zum Server: dl.example"},
      {OpenFailure::OpenRequest, 0, HttpError::Kind::Request,
       L"Fehler beim Öffnen der Anforderung: (12005) Meldung 12005"},
      {OpenFailure::Timeouts, 0, HttpError::Kind::Request,
       L"Fehler beim Festlegen der Zeitüberschreitung für die Anforderung: (12005) Meldung 12005"},
      {OpenFailure::None, 87, HttpError::Kind::Request, L"Fehler beim Hinzufügen des Headers: (87) Meldung 87"},
  };
  for (const auto& c : cases) {
    Fixture f;
    f.script->open_failure = c.failure;
    f.script->open_error = 12005;
    f.script->add_header_error = c.add_header_error;
    const HttpError e = Raised([&] { f.client.Head(kUrl); });
    EXPECT_EQ(e.kind(), c.kind);
    EXPECT_EQ(e.message(), c.message);
    EXPECT_TRUE(f.script->sent.empty());
  }
}

TEST(NetClient, BadAddressAndHeaderQueryFailure) {
  Fixture f;
  HttpError e = Raised([&] { f.client.Head(L"htp:/broken"); });
  EXPECT_EQ(e.kind(), HttpError::Kind::Url);
  EXPECT_EQ(e.message(), L"Ungültiger URL: \"htp:/broken\"");

  ScriptedResponse response = Ok(200, L"");
  response.status_query_error = 12150;
  f.script->responses.push_back(response);
  e = Raised([&] { f.client.Head(kUrl); });
  EXPECT_EQ(e.kind(), HttpError::Kind::Header);
  EXPECT_EQ(e.message(), L"Fehler beim Abrufen der Header: (12150) Meldung 12150");
}

}  // namespace
}  // namespace kelvora::net

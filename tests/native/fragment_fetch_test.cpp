#include "download/fragment_fetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "memory_stream.h"
#include "net_scripted_transport.h"

namespace kelvora {
namespace {

using net::testing::MemoryStream;
using net::testing::Script;
using net::testing::ScriptedResponse;
using net::testing::ScriptedTransport;

constexpr char kV1[] = "ABCDEFGHIJ";
constexpr char kV2[] = "abcdefghij";
constexpr std::uint32_t kReset = 12030;  // the connection was ended

std::wstring Range(int first, int last, const std::wstring& total = L"10") {
  return L"Content-Range: bytes " + std::to_wstring(first) + L"-" + std::to_wstring(last) + L"/" + total +
         L"\r\nContent-Length: " + std::to_wstring(last - first + 1);
}

// A 206 (or `status`) with `headers` whose body brings `body` and then, with
// `error`, breaks off.
ScriptedResponse Reply(std::int32_t status, std::wstring headers, std::string body, std::uint32_t error = 0) {
  ScriptedResponse response;
  response.status = status;
  response.headers = std::move(headers);
  if (!body.empty()) response.chunks = {std::move(body)};
  response.read_error = error;
  return response;
}

std::wstring HeaderOf(const net::testing::SentRequest& sent, std::wstring_view name) {
  for (const auto& [key, value] : sent.headers)
    if (key == name) return value;
  return L"";
}

const std::wstring kETag = L"\r\nETag: \"v1\"";
const std::wstring kETag2 = L"\r\nETag: \"v2\"";
// The first response for the whole file, broken off after `bytes` bytes.
ScriptedResponse FirstBrokenAt(int bytes) {
  return Reply(206, Range(0, 9) + kETag, std::string(kV1, bytes), kReset);
}
ScriptedResponse Rest(int from, std::uint32_t error = 0, int upto = 10) {
  return Reply(206, Range(from, 9) + kETag, std::string(kV1 + from, upto - from), error);
}

struct Case {
  const char* name;
  int attempts;
  std::vector<ScriptedResponse> responses;
  bool complete;
  std::vector<std::wstring> ranges;     // the Range of each GET, in order
  std::vector<std::wstring> if_ranges;  // the If-Range of each GET ("" for none)
  std::string file;                     // the file afterwards ("" to skip)
  bool throws = false;
  std::vector<long long> waits_ms = {};
};

class FragmentFetchTable : public ::testing::TestWithParam<Case> {};

TEST_P(FragmentFetchTable, AsksForWhatIsMissingAndNeverSplicesTwoVersions) {
  const Case& c = GetParam();
  auto script = std::make_shared<Script>();
  for (const auto& response : c.responses) script->responses.push_back(response);
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1700000000; });
  MemoryStream file(std::vector<std::uint8_t>(10, '0'));
  const Fragment fragment{0, 9, 10};
  std::vector<long long> waits;
  std::vector<std::int64_t> counts;

  TransferOutcome outcome;
  bool threw = false;
  try {
    outcome = FetchFragment(
        client, {L"https://vendor.example/f.exe", fragment, c.attempts}, file,
        [&](const void*, std::int64_t length, std::int64_t count, bool&) {
          EXPECT_EQ(length, 10);
          counts.push_back(count);
        },
        [&](std::chrono::milliseconds delay) {
          waits.push_back(delay.count());
          return true;
        });
  } catch (const net::HttpError&) {
    threw = true;
  }

  EXPECT_EQ(threw, c.throws);
  EXPECT_EQ(!threw && FragmentComplete(fragment, 10, outcome), c.complete);
  ASSERT_EQ(script->sent.size(), c.ranges.size());
  for (size_t i = 0; i < c.ranges.size(); ++i) {
    EXPECT_EQ(HeaderOf(script->sent[i], L"Range"), c.ranges[i]) << "GET " << i;
    EXPECT_EQ(HeaderOf(script->sent[i], L"If-Range"), c.if_ranges[i]) << "GET " << i;
  }
  if (!c.file.empty()) {
    EXPECT_EQ(std::string(file.data().begin(), file.data().end()), c.file);
  }
  EXPECT_EQ(waits, c.waits_ms);
  // The bar only goes forward, except back to 0 where the fragment starts over.
  for (size_t i = 1; i < counts.size(); ++i)
    EXPECT_TRUE(counts[i] >= counts[i - 1] || counts[i] == 0) << "notification " << i;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
}

const std::wstring kWhole = L"bytes=0-9";
const std::wstring kTag = L"\"v1\"";

INSTANTIATE_TEST_SUITE_P(
    Resume, FragmentFetchTable,
    ::testing::Values(
        Case{"no drop, one GET", 3, {Rest(0)}, true, {kWhole}, {L""}, kV1},
        Case{"off: a drop fails as one GET", 0, {FirstBrokenAt(5)}, false, {kWhole}, {L""}, "", true},
        Case{"drop at the first byte", 3, {FirstBrokenAt(0), Rest(0)}, true, {kWhole, kWhole}, {L"", kTag}, kV1,
             false, {1000}},
        Case{"drop in mid-body", 3, {FirstBrokenAt(5), Rest(5)}, true, {kWhole, L"bytes=5-9"}, {L"", kTag}, kV1,
             false, {1000}},
        Case{"drop before the last byte", 3, {FirstBrokenAt(9), Rest(9)}, true, {kWhole, L"bytes=9-9"},
             {L"", kTag}, kV1, false, {1000}},
        Case{"a body that ends early without an error", 3,
             {Reply(206, Range(0, 9) + kETag, "ABCDEF"), Rest(6)}, true, {kWhole, L"bytes=6-9"}, {L"", kTag}, kV1,
             false, {1000}},
        Case{"two drops, waits growing", 3, {FirstBrokenAt(3), Rest(3, kReset, 7), Rest(7)}, true,
             {kWhole, L"bytes=3-9", L"bytes=7-9"}, {L"", kTag, kTag}, kV1, false, {1000, 2000}},
        Case{"a resumed request that cannot connect is asked again", 3,
             {FirstBrokenAt(4), [] { ScriptedResponse r; r.send_error = 12029; return r; }(), Rest(4)}, true,
             {kWhole, L"bytes=4-9", L"bytes=4-9"}, {L"", kTag, kTag}, kV1, false, {1000, 2000}},
        Case{"an error page that breaks off ends the fetch and leaves nothing behind", 3,
             {FirstBrokenAt(5), Reply(404, L"Content-Length: 40", "status page of some length", kReset), Rest(5)},
             false, {kWhole, L"bytes=5-9"}, {L"", kTag}, "ABCDE00000", false, {1000}},
        Case{"more drops than attempts: 1 + N GETs, then the failure", 2,
             {FirstBrokenAt(2), Rest(2, kReset, 4), Rest(4, kReset, 6), Rest(6)}, false,
             {kWhole, L"bytes=2-9", L"bytes=4-9"}, {L"", kTag, kTag}, "", true, {1000, 2000}},
        Case{"a changed file starts over", 3,
             {FirstBrokenAt(5), Reply(200, L"Content-Length: 10" + kETag2, kV2),
              Reply(206, Range(0, 9) + kETag2, kV2)},
             true, {kWhole, L"bytes=5-9", kWhole}, {L"", kTag, L""}, kV2, false, {1000, 2000}},
        Case{"a start-over with no attempt left fails", 1,
             {FirstBrokenAt(5), Reply(200, L"Content-Length: 10" + kETag2, kV2)}, false,
             {kWhole, L"bytes=5-9"}, {L"", kTag}, "ABCDE00000", false, {1000}},
        Case{"416 on resume", 3,
             {FirstBrokenAt(5), Reply(416, L"Content-Range: bytes */10\r\nContent-Length: 0", "")}, false,
             {kWhole, L"bytes=5-9"}, {L"", kTag}, "ABCDE00000", false, {1000}},
        Case{"a resumed range that starts elsewhere is not written: the fragment starts over", 3,
             {FirstBrokenAt(5), Reply(206, Range(4, 9) + kETag, "EFGHIJ"), Rest(0)}, true,
             {kWhole, L"bytes=5-9", kWhole}, {L"", kTag, L""}, kV1, false, {1000, 2000}},
        Case{"a resumed range of another total is not written: the fragment starts over", 3,
             {FirstBrokenAt(5), Reply(206, Range(5, 9, L"11") + kETag, "FGHIJ"), Rest(0)}, true,
             {kWhole, L"bytes=5-9", kWhole}, {L"", kTag, L""}, kV1, false, {1000, 2000}},
        Case{"a server that ignores If-Range: another version's range is not written, the fragment starts over", 3,
             {FirstBrokenAt(5), Reply(206, Range(5, 9) + kETag2, "fghij"), Reply(206, Range(0, 9) + kETag2, kV2)},
             true, {kWhole, L"bytes=5-9", kWhole}, {L"", kTag, L""}, kV2, false, {1000, 2000}},
        Case{"another version's range with no attempt left is not written", 1,
             {FirstBrokenAt(5), Reply(206, Range(5, 9) + kETag2, "fghij"), Reply(206, Range(0, 9) + kETag2, kV2)},
             false, {kWhole, L"bytes=5-9"}, {L"", kTag}, "ABCDE00000", false, {1000}},
        Case{"no validator: no resume", 3, {Reply(206, Range(0, 9), "ABC", kReset)}, false, {kWhole}, {L""}, "",
             true},
        Case{"a weak ETag alone proves nothing", 3, {Reply(206, Range(0, 9) + L"\r\nETag: W/\"v1\"", "ABC", kReset)},
             false, {kWhole}, {L""}, "", true},
        Case{"Last-Modified where the ETag is weak", 3,
             {Reply(206, Range(0, 9) + L"\r\nETag: W/\"v1\"\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT", "ABC",
                    kReset),
              Reply(206, Range(3, 9) + L"\r\nETag: W/\"v1\"\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT",
                    "DEFGHIJ")},
             true, {kWhole, L"bytes=3-9"}, {L"", L"Tue, 01 Dec 2026 10:00:00 GMT"}, kV1, false, {1000}},
        Case{"a server that ignores ranges at first, then resumes", 3,
             {Reply(200, L"Content-Length: 10" + kETag, "ABCD", kReset), Rest(4)}, true, {kWhole, L"bytes=4-9"},
             {L"", kTag}, kV1, false, {1000}},
        Case{"a 404 is the answer as it stands", 3, {Reply(404, L"Content-Length: 3", "bad")}, false, {kWhole},
             {L""}, "", false}),
    CaseName);

ScriptedResponse Busy(std::int32_t status, const std::wstring& retry_after = L"") {
  std::wstring headers = L"Content-Length: 9";
  if (!retry_after.empty()) headers += L"\r\nRetry-After: " + retry_after;
  return Reply(status, headers, "busy page");
}
ScriptedResponse NoAnswer(std::uint32_t error) {
  ScriptedResponse response;
  response.send_error = error;
  return response;
}
constexpr char kUntouched[] = "0000000000";

// The GET's column of the retry table: what each answer does to the budget
// of 1 + N GETs, and that a busy page never reaches the file.
INSTANTIATE_TEST_SUITE_P(
    BusyOrUnreachable, FragmentFetchTable,
    ::testing::Values(
        Case{"503 once, then served", 3, {Busy(503), Rest(0)}, true, {kWhole, kWhole}, {L"", L""}, kV1, false,
             {1000}},
        Case{"429 with Retry-After 2", 3, {Busy(429, L"2"), Rest(0)}, true, {kWhole, kWhole}, {L"", L""}, kV1,
             false, {2000}},
        Case{"502, 504 and 408 are busy too", 3, {Busy(502), Busy(504), Busy(408), Rest(0)}, true,
             {kWhole, kWhole, kWhole, kWhole}, {L"", L"", L"", L""}, kV1, false, {1000, 2000, 4000}},
        Case{"busy beyond the budget: 1 + N GETs, the page never written", 2, {Busy(503), Busy(503), Busy(503)},
             false, {kWhole, kWhole, kWhole}, {L"", L"", L""}, kUntouched, false, {1000, 2000}},
        Case{"a Retry-After above a minute ends at once", 3, {Busy(503, L"61"), Rest(0)}, false, {kWhole}, {L""},
             kUntouched},
        Case{"a Retry-After of a minute is waited", 3, {Busy(503, L"60"), Rest(0)}, true, {kWhole, kWhole},
             {L"", L""}, kV1, false, {60000}},
        Case{"a Retry-After date read against the Date", 3,
             {Busy(503, L"Tue, 01 Dec 2026 10:00:07 GMT\r\nDate: Tue, 01 Dec 2026 10:00:00 GMT"), Rest(0)}, true,
             {kWhole, kWhole}, {L"", L""}, kV1, false, {7000}},
        Case{"no connection, then served", 3, {NoAnswer(12029), Rest(0)}, true, {kWhole, kWhole}, {L"", L""}, kV1,
             false, {1000}},
        Case{"a time-out before the headers, then served", 3,
             {[] { ScriptedResponse r; r.receive_error = 12002; return r; }(), Rest(0)}, true, {kWhole, kWhole},
             {L"", L""}, kV1, false, {1000}},
        Case{"no connection beyond the budget fails", 1, {NoAnswer(12029), NoAnswer(12029), Rest(0)}, false,
             {kWhole, kWhole}, {L"", L""}, "", true, {1000}},
        Case{"a busy answer to a resume is asked again with If-Range", 3,
             {FirstBrokenAt(5), Busy(503, L"1"), Rest(5)}, true, {kWhole, L"bytes=5-9", L"bytes=5-9"},
             {L"", kTag, kTag}, kV1, false, {1000, 1000}},
        Case{"drops and busy answers share the budget", 2, {FirstBrokenAt(5), Busy(503), Busy(503), Rest(5)}, false,
             {kWhole, L"bytes=5-9", L"bytes=5-9"}, {L"", kTag, kTag}, "", false, {1000, 2000}},
        Case{"410 fails at once", 3, {Reply(410, L"Content-Length: 4", "gone")}, false, {kWhole}, {L""}, ""},
        Case{"401 fails at once", 3, {Reply(401, L"Content-Length: 4", "auth")}, false, {kWhole}, {L""}, ""},
        Case{"403 fails at once", 3, {Reply(403, L"Content-Length: 4", "nope")}, false, {kWhole}, {L""}, ""},
        Case{"500 fails at once", 3, {Reply(500, L"Content-Length: 4", "oops")}, false, {kWhole}, {L""}, ""},
        Case{"a 500 whose page breaks off fails at once, its page never written", 3,
             {Reply(500, L"Content-Length: 40", "oops", kReset), Rest(0)}, false, {kWhole}, {L""}, kUntouched},
        Case{"a 404 whose page ends short fails at once", 3, {Reply(404, L"Content-Length: 40", "gone"), Rest(0)},
             false, {kWhole}, {L""}, kUntouched},
        Case{"a secure channel error fails at once", 3, {NoAnswer(12157), Rest(0)}, false, {kWhole}, {L""}, "",
             true},
        Case{"a bad certificate fails at once", 3,
             {[] { ScriptedResponse r; r.send_error = 12175; r.secure_failures = 0x8; return r; }(), Rest(0)}, false,
             {kWhole}, {L""}, "", true},
        Case{"without attempts a busy answer is the answer", 0, {Busy(503, L"1"), Rest(0)}, false, {kWhole}, {L""},
             ""},
        Case{"without attempts no connection fails at once", 0, {NoAnswer(12029), Rest(0)}, false, {kWhole}, {L""},
             "", true}),
    CaseName);

TEST(FragmentFetch, ACloseDuringTheWaitEndsAtOnceWithoutAnotherRequest) {
  auto script = std::make_shared<Script>();
  script->responses.push_back(FirstBrokenAt(5));
  script->responses.push_back(Rest(5));
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1700000000; });
  MemoryStream file(std::vector<std::uint8_t>(10, '0'));
  const TransferOutcome outcome =
      FetchFragment(client, {L"https://vendor.example/f.exe", {0, 9, 10}, 3}, file, nullptr,
                    [](std::chrono::milliseconds) { return false; });
  EXPECT_TRUE(outcome.aborted);
  EXPECT_FALSE(FragmentComplete({0, 9, 10}, 10, outcome));
  EXPECT_EQ(script->sent.size(), 1u);
}

TEST(FragmentFetch, AnOpenFragmentResumesOpenAndAStartOverLeavesNoOldTail) {
  auto script = std::make_shared<Script>();
  // Size unknown beforehand: the first answer names 10 bytes, breaks off,
  // the resumed request is open-ended; then the file changes to 8 bytes.
  script->responses.push_back(Reply(200, L"Content-Length: 10" + kETag, "ABCDEFGHI", kReset));
  script->responses.push_back(Reply(200, L"Content-Length: 8" + kETag2, "abcdefgh"));
  script->responses.push_back(Reply(200, L"Content-Length: 8" + kETag2, "abcdefgh"));
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1700000000; });
  MemoryStream file;
  const Fragment open{0, -1, -1};
  const TransferOutcome outcome = FetchFragment(client, {L"https://vendor.example/f.exe", open, 3}, file, nullptr,
                                                [](std::chrono::milliseconds) { return true; });
  ASSERT_EQ(script->sent.size(), 3u);
  EXPECT_EQ(HeaderOf(script->sent[1], L"Range"), L"bytes=9-");
  EXPECT_EQ(HeaderOf(script->sent[2], L"Range"), L"bytes=0-");
  EXPECT_TRUE(FragmentComplete(open, -1, outcome));
  EXPECT_EQ(std::string(file.data().begin(), file.data().end()), "abcdefgh");
}

TEST(FragmentFetch, ProgressGoesOnFromTheFirstMissingByte) {
  auto script = std::make_shared<Script>();
  script->responses.push_back(FirstBrokenAt(6));
  script->responses.push_back(Rest(6));
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1700000000; });
  MemoryStream file(std::vector<std::uint8_t>(10, '0'));
  std::vector<std::pair<std::int64_t, std::int64_t>> seen;
  FetchFragment(
      client, {L"https://vendor.example/f.exe", {0, 9, 10}, 1}, file,
      [&](const void*, std::int64_t length, std::int64_t count, bool&) { seen.emplace_back(length, count); },
      [](std::chrono::milliseconds) { return true; });
  const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {{10, 0}, {10, 6}, {10, 6}, {10, 10}};
  EXPECT_EQ(seen, expected);
}

TEST(FragmentFetch, AResumeGoesThroughTheOriginalAddressAgainWithTheCookiesItGot) {
  // A signed mirror link expires: the vendor's address hands out a fresh one.
  auto script = std::make_shared<Script>();
  const auto to_mirror = [] {
    return Reply(302, L"Location: https://mirror.example/f.exe?sig=1\r\nSet-Cookie: s=1; Path=/", "");
  };
  script->responses.push_back(to_mirror());
  script->responses.push_back(FirstBrokenAt(4));
  script->responses.push_back(to_mirror());
  script->responses.push_back(Rest(4));
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1700000000; });
  MemoryStream file(std::vector<std::uint8_t>(10, '0'));
  const TransferOutcome outcome =
      FetchFragment(client, {L"https://vendor.example/f.exe", {0, 9, 10}, 1}, file, nullptr,
                    [](std::chrono::milliseconds) { return true; });
  EXPECT_TRUE(FragmentComplete({0, 9, 10}, 10, outcome));
  ASSERT_EQ(script->sent.size(), 4u);
  EXPECT_EQ(script->sent[2].url, L"https://vendor.example/f.exe");
  EXPECT_EQ(HeaderOf(script->sent[2], L"Cookie"), L"s=1");
  EXPECT_EQ(HeaderOf(script->sent[3], L"Range"), L"bytes=4-9");
  EXPECT_EQ(HeaderOf(script->sent[3], L"If-Range"), kTag);
}

// Bytes an earlier run left: ABCDE of version "v1", ten bytes in all.
const ResumePoint kKept{L"\"v1\"", 5, 10};

TEST(FragmentFetch, KeptBytesAreContinuedFromTheFirstMissingByteWithIfRange) {
  auto script = std::make_shared<Script>();
  script->responses.push_back(Rest(5));
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1700000000; });
  MemoryStream file(std::vector<std::uint8_t>{'A', 'B', 'C', 'D', 'E', 0, 0, 0, 0, 0});
  std::vector<std::pair<std::int64_t, std::int64_t>> seen;
  FetchProgress made;
  const TransferOutcome outcome = FetchFragment(
      client, {L"https://vendor.example/f.exe", {0, 9, 10}, {3}, kKept}, file,
      [&](const void*, std::int64_t length, std::int64_t count, bool&) { seen.emplace_back(length, count); },
      [](std::chrono::milliseconds) { return true; }, &made);
  EXPECT_TRUE(FragmentComplete({0, 9, 10}, 10, outcome));
  ASSERT_EQ(script->sent.size(), 1u);
  EXPECT_EQ(HeaderOf(script->sent[0], L"Range"), L"bytes=5-9");
  EXPECT_EQ(HeaderOf(script->sent[0], L"If-Range"), kTag);
  EXPECT_EQ(std::string(file.data().begin(), file.data().end()), kV1);
  // The bar starts at the kept bytes.
  const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {{10, 5}, {10, 10}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(made.reached.in_place, 10);
  EXPECT_EQ(made.further_requests, 0);
}

TEST(FragmentFetch, KeptBytesOfAnOldVersionStartOverFromZeroAtA200) {
  auto script = std::make_shared<Script>();
  script->responses.push_back(Reply(200, L"Content-Length: 10" + kETag2, kV2));
  script->responses.push_back(Reply(206, Range(0, 9) + kETag2, kV2));
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1700000000; });
  MemoryStream file(std::vector<std::uint8_t>{'A', 'B', 'C', 'D', 'E', 0, 0, 0, 0, 0});
  FetchProgress made;
  const TransferOutcome outcome =
      FetchFragment(client, {L"https://vendor.example/f.exe", {0, 9, 10}, {3}, kKept}, file, nullptr,
                    [](std::chrono::milliseconds) { return true; }, &made);
  EXPECT_TRUE(FragmentComplete({0, 9, 10}, 10, outcome));
  ASSERT_EQ(script->sent.size(), 2u);
  EXPECT_EQ(HeaderOf(script->sent[1], L"Range"), kWhole);
  EXPECT_EQ(HeaderOf(script->sent[1], L"If-Range"), L"");
  EXPECT_EQ(std::string(file.data().begin(), file.data().end()), kV2);
  EXPECT_EQ(made.further_requests, 1);
  EXPECT_EQ(made.reached.validator, L"\"v2\"");
}

// A 206 that does not continue the kept bytes (a server or proxy that
// ignores If-Range, a same-size new release) starts the fragment over from
// byte 0 within the budget; the kept bytes are never reported as in place
// again, so nobody keeps them once more, and nothing is written after them.
TEST(FragmentFetch, KeptBytesThatA206DoesNotContinueStartOverAndAreNotKeptAgain) {
  struct Row {
    const char* name;
    int attempts;
    std::vector<ScriptedResponse> responses;
    std::vector<std::wstring> ranges;
    std::vector<std::wstring> if_ranges;
    bool complete;
    std::string file;
    ResumePoint reached;
  };
  const Row rows[] = {
      {"another version's rest, then its whole", 3,
       {Reply(206, Range(5, 9) + kETag2, "fghij"), Reply(206, Range(0, 9) + kETag2, kV2)},
       {L"bytes=5-9", kWhole}, {kTag, L""}, true, kV2, {L"\"v2\"", 10, 10}},
      {"a rest that starts elsewhere, then the whole", 3, {Reply(206, Range(4, 9) + kETag, "EFGHIJ"), Rest(0)},
       {L"bytes=5-9", kWhole}, {kTag, L""}, true, kV1, {kTag, 10, 10}},
      {"the Last-Modified kept, a strong ETag sent now", 3,
       {Reply(206, Range(5, 9) + kETag, "FGHIJ"), Rest(0)}, {L"bytes=5-9", kWhole}, {L"Tue, 01 Dec 2026", L""}, true,
       kV1, {kTag, 10, 10}},
      {"another version's rest with no attempt left", 0, {Reply(206, Range(5, 9) + kETag2, "fghij")},
       {L"bytes=5-9"}, {kTag}, false, "ABCDE00000", {L"", 0, -1}},
      {"another version's rest, then a drop of its whole", 3,
       {Reply(206, Range(5, 9) + kETag2, "fghij"), Reply(206, Range(0, 9) + kETag2, "abc", kReset),
        NoAnswer(12029), NoAnswer(12029)},
       {L"bytes=5-9", kWhole, L"bytes=3-9", L"bytes=3-9"}, {kTag, L"", L"\"v2\"", L"\"v2\""}, false, "",
       {L"\"v2\"", 3, 10}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto script = std::make_shared<Script>();
    for (const auto& response : row.responses) script->responses.push_back(response);
    net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1700000000; });
    MemoryStream file(std::vector<std::uint8_t>{'A', 'B', 'C', 'D', 'E', '0', '0', '0', '0', '0'});
    const ResumePoint kept{row.if_ranges.front(), 5, 10};
    FetchProgress made;
    TransferOutcome outcome;
    try {
      outcome = FetchFragment(client, {L"https://vendor.example/f.exe", {0, 9, 10}, {row.attempts}, kept}, file,
                              nullptr, [](std::chrono::milliseconds) { return true; }, &made);
    } catch (const net::HttpError&) {
    }
    EXPECT_EQ(FragmentComplete({0, 9, 10}, 10, outcome), row.complete);
    std::vector<std::wstring> ranges, if_ranges;
    for (const auto& sent : script->sent) {
      ranges.push_back(HeaderOf(sent, L"Range"));
      if_ranges.push_back(HeaderOf(sent, L"If-Range"));
    }
    EXPECT_EQ(ranges, row.ranges);
    EXPECT_EQ(if_ranges, row.if_ranges);
    if (!row.file.empty()) {
      EXPECT_EQ(std::string(file.data().begin(), file.data().end()), row.file);
    }
    EXPECT_EQ(made.reached.validator, row.reached.validator);
    EXPECT_EQ(made.reached.in_place, row.reached.in_place);
    EXPECT_EQ(made.reached.total, row.reached.total);
  }
}

// After the publisher check refuses the finished file, it is fetched once
// more from byte 0 only when it held bytes an earlier run kept; one fetched
// whole from byte 0 (the If-Range answered with a 200 or another version)
// would be the same refused file again.
TEST(FragmentFetch, ARefusedFileIsFetchedAgainOnlyWhenItHeldKeptBytes) {
  struct Row {
    const char* name;
    std::optional<ResumePoint> kept;
    std::vector<ScriptedResponse> responses;
    std::optional<int> again;  // the attempts of the download from byte 0, none for no download
  };
  const Row rows[] = {
      {"kept bytes continued", kKept, {Rest(5)}, 2},
      {"kept bytes continued after a drop", kKept, {Rest(5, kReset, 7), Rest(7)}, 1},
      {"kept bytes continued after the budget", kKept, {Busy(503), Busy(503), Busy(503), Rest(5)}, std::nullopt},
      {"the If-Range answered with a 200: fetched whole from byte 0", kKept,
       {Reply(200, L"Content-Length: 10" + kETag2, kV2), Reply(206, Range(0, 9) + kETag2, kV2)}, std::nullopt},
      {"another version's rest: fetched whole from byte 0", kKept,
       {Reply(206, Range(5, 9) + kETag2, "fghij"), Reply(206, Range(0, 9) + kETag2, kV2)}, std::nullopt},
      {"nothing kept", std::nullopt, {Rest(0)}, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto script = std::make_shared<Script>();
    for (const auto& response : row.responses) script->responses.push_back(response);
    net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1700000000; });
    MemoryStream file(std::vector<std::uint8_t>{'A', 'B', 'C', 'D', 'E', '0', '0', '0', '0', '0'});
    FetchProgress made;
    const TransferOutcome outcome =
        FetchFragment(client, {L"https://vendor.example/f.exe", {0, 9, 10}, {3}, row.kept}, file, nullptr,
                      [](std::chrono::milliseconds) { return true; }, &made);
    EXPECT_TRUE(FragmentComplete({0, 9, 10}, 10, outcome));
    EXPECT_EQ(AttemptsForRefetch(made, 3), row.again);
  }
}

TEST(FragmentFetch, TellsWhereItStandsWhenStoppedOrFailed) {
  struct Row {
    const char* name;
    std::vector<ScriptedResponse> responses;
    int attempts;
    bool stop_at_second_chunk;
    ResumePoint reached;
  };
  const Row rows[] = {
      {"a drop after 4 bytes, no attempts", {FirstBrokenAt(4)}, 0, false, {kTag, 4, 10}},
      {"a close in mid-body", {[] { auto r = Rest(0); r.chunks = {"ABC", "DEFGHIJ"}; return r; }()}, 3, true,
       {kTag, 3, 10}},
      {"no validator", {Reply(206, Range(0, 9), "ABC", kReset)}, 3, false, {L"", 3, 10}},
      {"a stop that cancels a read", {Reply(206, Range(0, 9) + kETag, "ABCD", 12017)}, 3, false, {kTag, 4, 10}},
      {"nothing began", {Reply(404, L"Content-Length: 3", "bad")}, 3, false, {L"", 0, -1}},
  };
  for (const auto& row : rows) {
    auto script = std::make_shared<Script>();
    for (const auto& response : row.responses) script->responses.push_back(response);
    net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1700000000; });
    // A slow line: every chunk is shown, so the close can come after the first.
    client.SetReadClock([at = std::chrono::steady_clock::time_point{}]() mutable {
      return at += std::chrono::seconds(1);
    });
    MemoryStream file(std::vector<std::uint8_t>(10, '0'));
    FetchProgress made;
    try {
      FetchFragment(
          client, {L"https://vendor.example/f.exe", {0, 9, 10}, {row.attempts}}, file,
          [&](const void*, std::int64_t, std::int64_t count, bool& abort) {
            abort = row.stop_at_second_chunk && count > 0;
          },
          [](std::chrono::milliseconds) { return true; }, &made);
    } catch (const net::HttpError&) {
    }
    EXPECT_EQ(made.reached.validator, row.reached.validator) << row.name;
    EXPECT_EQ(made.reached.in_place, row.reached.in_place) << row.name;
    EXPECT_EQ(made.reached.total, row.reached.total) << row.name;
  }
}

}  // namespace
}  // namespace kelvora

#include "download/size_request.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "net_scripted_transport.h"

namespace kelvora {
namespace {

using net::testing::Script;
using net::testing::ScriptedResponse;
using net::testing::ScriptedTransport;

ScriptedResponse Answer(std::int32_t status, std::wstring headers = L"") {
  ScriptedResponse response;
  response.status = status;
  response.headers = std::move(headers);
  return response;
}
ScriptedResponse NoAnswer(std::uint32_t send_error) {
  ScriptedResponse response;
  response.send_error = send_error;
  return response;
}
const ScriptedResponse kSized = Answer(200, L"Content-Length: 1234");

struct SizeCase {
  const char* name;
  int attempts;
  std::vector<ScriptedResponse> responses;
  std::size_t requests;  // HEADs sent
  bool answered;
  bool usable;
  std::int64_t size;
  std::vector<long long> waits_ms;
};

class SizeRequestTable : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeRequestTable, AsksAgainOnlyWhereAnotherTryMayHelp) {
  const auto& c = GetParam();
  auto script = std::make_shared<Script>();
  for (const auto& response : c.responses) script->responses.push_back(response);
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1796119200; });
  std::vector<long long> waits;
  const RetryRules rules{c.attempts, [] { return 0xFFFFFFFFu; }, [] { return std::int64_t{1796119200}; }};
  const SizeAnswer answer = AskSize(client, L"https://vendor.example/f.exe", rules, [&](std::chrono::milliseconds d) {
    waits.push_back(d.count());
    return true;
  });
  EXPECT_EQ(script->sent.size(), c.requests);
  for (const auto& sent : script->sent) EXPECT_EQ(sent.method, L"HEAD");
  EXPECT_EQ(answer.answered, c.answered);
  EXPECT_EQ(answer.usable, c.usable);
  EXPECT_EQ(answer.size, c.size);
  EXPECT_FALSE(answer.stopped);
  EXPECT_EQ(waits, c.waits_ms);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, SizeRequestTable,
    ::testing::Values(
        SizeCase{"served at once", 3, {kSized}, 1, true, true, 1234, {}},
        SizeCase{"503 then served", 3, {Answer(503), kSized}, 2, true, true, 1234, {1000}},
        SizeCase{"503 with Retry-After 2 then served", 3, {Answer(503, L"Retry-After: 2"), kSized}, 2, true, true,
                 1234, {2000}},
        SizeCase{"502 504 429 408 then served", 4, {Answer(502), Answer(504), Answer(429), Answer(408), kSized}, 5,
                 true, true, 1234, {1000, 2000, 4000, 8000}},
        SizeCase{"busy beyond the budget goes on without a size", 2, {Answer(503), Answer(503), Answer(503), kSized},
                 3, true, true, -1, {1000, 2000}},
        SizeCase{"Retry-After above a minute fails the address", 3, {Answer(503, L"Retry-After: 61"), kSized}, 1,
                 true, false, -1, {}},
        SizeCase{"no connection then served", 3, {NoAnswer(12029), kSized}, 2, true, true, 1234, {1000}},
        SizeCase{"a reset then served", 3, {NoAnswer(12030), kSized}, 2, true, true, 1234, {1000}},
        SizeCase{"a time-out then served", 3,
                 {[] { ScriptedResponse r; r.receive_error = 12002; return r; }(), kSized}, 2, true, true, 1234,
                 {1000}},
        SizeCase{"no connection beyond the budget fails", 1, {NoAnswer(12029), NoAnswer(12029), kSized}, 2, false,
                 false, -1, {1000}},
        SizeCase{"a busy answer, then none, beyond the budget fails", 1, {Answer(503), NoAnswer(12029), kSized}, 2,
                 true, false, -1, {1000}},
        SizeCase{"404 goes on without a size", 3, {Answer(404, L"Content-Length: 9"), kSized}, 1, true, true, -1, {}},
        SizeCase{"500 goes on without a size", 3, {Answer(500, L"Content-Length: 9"), kSized}, 1, true, true, -1, {}},
        SizeCase{"a secure channel error fails at once", 3, {NoAnswer(12157), kSized}, 1, false, false, -1, {}},
        SizeCase{"a bad certificate fails at once", 3,
                 {[] { ScriptedResponse r; r.send_error = 12175; r.secure_failures = 0x8; return r; }(), kSized}, 1,
                 false, false, -1, {}},
        SizeCase{"without attempts a busy answer goes on without a size", 0, {Answer(503, L"Retry-After: 999")}, 1,
                 true, true, -1, {}},
        SizeCase{"without attempts no connection fails", 0, {NoAnswer(12029), kSized}, 1, false, false, -1, {}}),
    [](const ::testing::TestParamInfo<SizeCase>& info) {
      std::string name;
      for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

TEST(SizeRequest, ACloseDuringAPauseEndsItWithoutAnotherRequest) {
  auto script = std::make_shared<Script>();
  script->responses.push_back(Answer(503, L"Retry-After: 2"));
  script->responses.push_back(kSized);
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1796119200; });
  const SizeAnswer answer = AskSize(client, L"https://vendor.example/f.exe", {3, nullptr, nullptr},
                                    [](std::chrono::milliseconds) { return false; });
  EXPECT_TRUE(answer.stopped);
  EXPECT_FALSE(answer.usable);
  EXPECT_EQ(script->sent.size(), 1u);
}

TEST(SizeRequest, ACancelledCallEndsItAsStoppedWithoutAnotherRequest) {
  auto script = std::make_shared<Script>();
  script->responses.push_back(NoAnswer(12017));
  script->responses.push_back(kSized);
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1796119200; });
  const SizeAnswer answer = AskSize(client, L"https://vendor.example/f.exe", {3, nullptr, nullptr},
                                    [](std::chrono::milliseconds) { return true; });
  EXPECT_TRUE(answer.stopped);
  EXPECT_FALSE(answer.usable);
  EXPECT_FALSE(answer.answered);
  EXPECT_EQ(script->sent.size(), 1u);
}

}  // namespace
}  // namespace kelvora

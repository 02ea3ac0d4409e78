#include "download/installer_signature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net_scripted_transport.h"

namespace kelvora {
namespace {

using net::testing::Script;
using net::testing::ScriptedResponse;
using net::testing::ScriptedTransport;

TEST(SignatureAddress, AppendsToThePathBeforeAnyQuery) {
  const struct {
    const wchar_t* installer;
    const wchar_t* signature;
  } rows[] = {
      {L"https://dl.example/files/Kelvora_Install.exe", L"https://dl.example/files/Kelvora_Install.exe.sig"},
      {L"https://dl.example:8443/a/b.exe?v=2&x=y", L"https://dl.example:8443/a/b.exe.sig?v=2&x=y"},
      {L"https://dl.example/a/b.exe?q=1#part", L"https://dl.example/a/b.exe.sig?q=1"},
      {L"https://dl.example/a/b.exe#part", L"https://dl.example/a/b.exe.sig"},
      {L"http://dl.example/a/b.exe", L""},
      {L"not an address", L""},
  };
  for (const auto& row : rows) EXPECT_EQ(SignatureAddress(row.installer), row.signature) << row.installer;
}

// What `openssl dgst -sha256 -sign` wrote with a P-256 key.
const std::string kDer(
    "\x30\x46\x02\x21\x00\xa0\xae\x02\x19\xed\xa0\xbe\xe5\xc6\x7f\x6c\x94\xaa\xf6\x56\xbe\x3e\x83\xa7\x03\x78\x8d"
    "\xa6\xba\x0b\xe7\xd0\xbe\xd6\x8a\x31\xd7\x02\x21\x00\xba\x61\x41\x3b\xd0\x7a\xd3\xac\x32\x1f\x0e\xeb\xd6\xa2"
    "\x8d\x62\x69\xc9\x12\x55\x97\xac\x3d\xd5\xf9\x2d\x60\x94\xfd\xac\xc0\xa8",
    72);

ScriptedResponse Answer(std::int32_t status, std::wstring headers = L"", std::vector<std::string> chunks = {}) {
  ScriptedResponse response;
  response.status = status;
  response.headers = std::move(headers);
  response.chunks = std::move(chunks);
  return response;
}
ScriptedResponse NoAnswer(std::uint32_t send_error) {
  ScriptedResponse response;
  response.send_error = send_error;
  return response;
}
const ScriptedResponse kSigned = Answer(200, L"Content-Length: 72", {kDer});

struct FetchCase {
  const char* name;
  int attempts;
  std::vector<ScriptedResponse> responses;
  std::size_t requests;
  bool signature;
  int reads;  // ReadData calls that brought bytes
  std::vector<long long> waits_ms;
};

class SignatureFetchTable : public ::testing::TestWithParam<FetchCase> {};

TEST_P(SignatureFetchTable, TakesOnlyASmallParsableSuccess) {
  const auto& c = GetParam();
  auto script = std::make_shared<Script>();
  for (const auto& response : c.responses) script->responses.push_back(response);
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1796119200; });
  std::vector<long long> waits;
  const RetryRules rules{c.attempts, [] { return 0xFFFFFFFFu; }, [] { return std::int64_t{1796119200}; }};
  const SignatureAnswer answer =
      FetchSignature(client, L"https://vendor.example/f.exe?v=1", rules, [&](std::chrono::milliseconds d) {
        waits.push_back(d.count());
        return true;
      });
  ASSERT_EQ(script->sent.size(), c.requests);
  EXPECT_EQ(script->sent.front().method, L"GET");
  EXPECT_EQ(script->sent.front().url, L"https://vendor.example/f.exe.sig?v=1");
  for (const auto& sent : script->sent)
    for (const auto& [name, value] : sent.headers) EXPECT_NE(name, L"Range") << "a signature is asked for whole";
  EXPECT_EQ(answer.signature.has_value(), c.signature);
  if (c.signature) {
    EXPECT_EQ(answer.signature->at(0), 0xa0);
    EXPECT_EQ(answer.signature->at(32), 0xba);
  }
  EXPECT_EQ(script->reads, c.reads);
  EXPECT_FALSE(answer.stopped);
  EXPECT_EQ(waits, c.waits_ms);
}

const std::string k4KiB(4096, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cells, SignatureFetchTable,
    ::testing::Values(
        FetchCase{"served", 0, {kSigned}, 1, true, 1, {}},
        FetchCase{"served in pieces without a length", 0, {Answer(200, L"", {kDer.substr(0, 5), kDer.substr(5)})}, 1,
                  true, 2, {}},
        FetchCase{"served as a part", 0, {Answer(206, L"Content-Length: 72", {kDer})}, 1, true, 1, {}},
        FetchCase{"after a redirect", 0, {Answer(302, L"Location: /mirror/f.exe.sig"), kSigned}, 2, true, 1, {}},
        FetchCase{"not found", 3, {Answer(404, L"Content-Length: 9", {"not found"}), kSigned}, 1, false, 0, {}},
        FetchCase{"server error", 3, {Answer(500, L"Content-Length: 5", {"error"}), kSigned}, 1, false, 0, {}},
        FetchCase{"a redirect to http", 0, {Answer(302, L"Location: http://vendor.example/f.exe.sig"), kSigned}, 1,
                  false, 0, {}},
        FetchCase{"random bytes", 0, {Answer(200, L"Content-Length: 5", {"\x13\x37\xfe\x00\x42"})}, 1, false, 1, {}},
        FetchCase{"the signature and a byte more", 0, {Answer(200, L"Content-Length: 73", {kDer + "\n"})}, 1, false, 1,
                  {}},
        FetchCase{"an announced 10 MB is not read", 0,
                  {Answer(200, L"Content-Length: 10485760", {std::string(65536, 'x')})}, 1, false, 0, {}},
        FetchCase{"an announced 4097 bytes is not read", 0, {Answer(200, L"Content-Length: 4097", {k4KiB + "x"})}, 1,
                  false, 0, {}},
        FetchCase{"an unannounced long body ends at the limit", 0, {Answer(200, L"", {k4KiB, k4KiB, k4KiB})}, 1,
                  false, 2, {}},
        FetchCase{"busy, then served", 2, {Answer(503), kSigned}, 2, true, 1, {1000}},
        FetchCase{"busy with Retry-After, then served", 2, {Answer(429, L"Retry-After: 3"), kSigned}, 2, true, 1,
                  {3000}},
        FetchCase{"busy beyond its budget", 1, {Answer(503), Answer(503), kSigned}, 2, false, 0, {1000}},
        FetchCase{"busy without attempts", 0, {Answer(503), kSigned}, 1, false, 0, {}},
        FetchCase{"busy for longer than a minute", 3, {Answer(503, L"Retry-After: 61"), kSigned}, 1, false, 0, {}},
        FetchCase{"no connection, then served", 1, {NoAnswer(12029), kSigned}, 2, true, 1, {1000}},
        FetchCase{"no connection without attempts", 0, {NoAnswer(12029), kSigned}, 1, false, 0, {}},
        FetchCase{"a bad certificate", 3, {NoAnswer(12157), kSigned}, 1, false, 0, {}}),
    [](const ::testing::TestParamInfo<FetchCase>& info) {
      std::string name;
      for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

TEST(SignatureFetch, ACloseDuringAPauseEndsItWithoutAnotherRequest) {
  auto script = std::make_shared<Script>();
  script->responses.push_back(Answer(503));
  script->responses.push_back(kSigned);
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1796119200; });
  const SignatureAnswer answer = FetchSignature(client, L"https://vendor.example/f.exe", {3, nullptr, nullptr},
                                                [](std::chrono::milliseconds) { return false; });
  EXPECT_TRUE(answer.stopped);
  EXPECT_FALSE(answer.signature);
  EXPECT_EQ(script->sent.size(), 1u);
}

TEST(SignatureFetch, AnHttpAddressIsNeverAsked) {
  auto script = std::make_shared<Script>();
  script->responses.push_back(kSigned);
  net::HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return 1796119200; });
  EXPECT_FALSE(FetchSignature(client, L"http://vendor.example/f.exe", {}, nullptr).signature);
  EXPECT_TRUE(script->sent.empty());
}

}  // namespace
}  // namespace kelvora

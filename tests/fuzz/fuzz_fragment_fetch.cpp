// One worker's resuming fetch over a transport that answers as the fuzzer
// says: every response is a 200 or 206 of one of two versions of the file
// (labelled truthfully, or not at all), a redirect, a busy answer with or
// without a Retry-After, or any status, and may break off anywhere.
// It may start from bytes of the first version that an earlier run kept.
// Whatever happens: at most 1 + attempts requests for the fragment, no pause
// above a minute, no request after an answer of 300 or more that is not busy
// (whatever its body did), what the fetch reports as in place (what the next
// run would keep) is a true start of the version its validator names, and a
// fragment accepted as complete is exactly one version, never bytes of both.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_require.h"
#include "memory_stream.h"
#include "net/http_client.h"
#include "net_scripted_transport.h"
#include "download/fragment_fetch.h"
#include "window/fragment_plan.h"
#include "download/transfer_check.h"

namespace {

using namespace kelvora;
using namespace kelvora::net;
using testing::MemoryStream;
using testing::Script;
using testing::ScriptedResponse;
using testing::ScriptedTransport;

constexpr wchar_t kUrl[] = L"https://dl.example/fileadmin/files/kelvora/Kelvora_Install.exe";
constexpr std::size_t kMaxResponses = 32;

std::wstring Number(std::int64_t value) { return std::to_wstring(value); }

ScriptedResponse Response(FuzzedDataProvider& input, const std::string versions[2]) {
  ScriptedResponse r;
  const int which = input.ConsumeIntegralInRange<int>(0, 1);
  const std::string& data = versions[which];
  const std::int64_t size = static_cast<std::int64_t>(data.size());
  std::wstring headers;
  // A label that tells the truth about the version served, or none.
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: headers += L"ETag: \"v" + Number(which) + L"\"\r\n"; break;
    case 1: headers += L"ETag: W/\"v" + Number(which) + L"\"\r\n"; break;
    case 2: headers += L"Last-Modified: day " + Number(which) + L"\r\n"; break;
    default: break;
  }
  std::string body;
  switch (input.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
    case 1: {
      r.status = 200;
      if (input.ConsumeBool()) headers += L"Content-Length: " + Number(size) + L"\r\n";
      body = data;
      break;
    }
    case 2:
    case 3: {
      r.status = 206;
      const auto first = input.ConsumeIntegralInRange<std::int64_t>(0, size - 1);
      const auto last = input.ConsumeIntegralInRange<std::int64_t>(first, size - 1);
      headers += L"Content-Range: bytes " + Number(first) + L"-" + Number(last) + L"/" +
                 (input.ConsumeBool() ? Number(size) : std::wstring(L"*")) + L"\r\n";
      if (input.ConsumeBool()) headers += L"Content-Length: " + Number(last - first + 1) + L"\r\n";
      body = data.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1));
      break;
    }
    case 4:
      r.status = input.PickValueInArray<std::int32_t>({302, 404, 412, 416, 500});
      if (r.status == 302) headers += L"Location: /again\r\n";
      body = "status page";
      break;
    default:
      r.status = input.PickValueInArray<std::int32_t>({408, 429, 502, 503, 504});
      switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: headers += L"Retry-After: " + Number(input.ConsumeIntegralInRange<std::int64_t>(0, 120)) + L"\r\n"; break;
        case 1: headers += L"Retry-After: Tue, 01 Dec 2026 10:00:30 GMT\r\nDate: Tue, 01 Dec 2026 10:00:00 GMT\r\n"; break;
        case 2: headers += L"Retry-After: soon\r\n"; break;
        default: break;
      }
      body = "busy page";
      break;
  }
  r.headers = headers;
  // Cut short, with or without an error, anywhere.
  if (input.ConsumeBool()) {
    body.resize(input.ConsumeIntegralInRange<std::size_t>(0, body.size()));
    if (input.ConsumeBool()) r.read_error = input.PickValueInArray<std::uint32_t>({12002, 12030, 10060});
  }
  if (input.ConsumeIntegralInRange<int>(0, 15) == 0) r.send_error = 12029;
  std::size_t at = 0;
  while (at < body.size()) {
    const auto piece = input.ConsumeIntegralInRange<std::size_t>(1, body.size() - at);
    r.chunks.push_back(body.substr(at, piece));
    at += piece;
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // Two versions of one length, differing in every byte.
  std::string first = input.ConsumeRandomLengthString(64);
  if (first.empty()) first = "MZ";
  std::string second = first;
  for (char& c : second) c = static_cast<char>(c ^ 0x5A);
  const std::string versions[2] = {first, second};
  const std::int64_t file_size = input.ConsumeBool() ? static_cast<std::int64_t>(first.size()) : -1;
  const int attempts = input.ConsumeIntegralInRange<int>(0, 5);
  // Sometimes bytes of the first version kept by an earlier run, to go on from.
  const std::int64_t kept = file_size > 1 && input.ConsumeBool()
                                ? input.ConsumeIntegralInRange<std::int64_t>(1, file_size - 1) : 0;

  auto script = std::make_shared<Script>();
  for (std::size_t i = 0; i < kMaxResponses && input.remaining_bytes() > 0; ++i)
    script->responses.push_back(Response(input, versions));
  const std::deque<ScriptedResponse> scripted = script->responses;

  HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return CookieStore::Seconds{1700000000}; });
  const Fragment fragment = PlanFragments(file_size, 1).front();
  std::vector<std::uint8_t> start(static_cast<std::size_t>(file_size < 0 ? 0 : file_size), 0);
  std::copy(first.begin(), first.begin() + kept, start.begin());
  MemoryStream file(std::move(start));
  std::optional<ResumePoint> continue_from;
  if (kept > 0) continue_from = ResumePoint{L"\"v0\"", kept, file_size};
  int waits = 0;
  TransferOutcome outcome;
  FetchProgress made;
  // Checked however the fetch ended.
  const auto check_end = [&] {
    // Each request takes the next scripted response: an answer that is the
    // answer is the last one asked for.
    for (std::size_t i = 0; i + 1 < script->sent.size() && i < scripted.size(); ++i) {
      const ScriptedResponse& r = scripted[i];
      const bool final_answer = r.send_error == 0 && r.status >= 400 && !(attempts > 0 && IsBusyStatus(r.status));
      FUZZ_REQUIRE(!final_answer);
    }
    if (made.reached.validator.empty()) {
      FUZZ_REQUIRE(!made.holds_kept_bytes);
      return;
    }
    // The validators are truthful labels of the version served.
    const std::wstring& v = made.reached.validator;
    const int which = v == L"\"v0\"" || v == L"day 0" ? 0 : 1;
    FUZZ_REQUIRE(v == L"\"v" + Number(which) + L"\"" || v == L"day " + Number(which));
    FUZZ_REQUIRE(!made.holds_kept_bytes || which == 0);
    const auto in_place = static_cast<std::size_t>(made.reached.in_place);
    FUZZ_REQUIRE(in_place <= file.data().size() && in_place <= versions[which].size());
    const std::string start(file.data().begin(), file.data().begin() + static_cast<std::ptrdiff_t>(in_place));
    FUZZ_REQUIRE(start == versions[which].substr(0, in_place));
  };
  try {
    const RetryRules retries{attempts, [&] { return input.ConsumeIntegral<std::uint32_t>(); },
                             [] { return std::int64_t{1796119200}; }};
    outcome = FetchFragment(client, {kUrl, fragment, retries, continue_from}, file, nullptr, [&](std::chrono::milliseconds pause) {
      FUZZ_REQUIRE(pause >= std::chrono::milliseconds(0) && pause <= kLongestRetryAfter);
      ++waits;
      return true;
    }, &made);
  } catch (const HttpError&) {
    FUZZ_REQUIRE(waits <= attempts);
    check_end();
    return 0;
  }
  FUZZ_REQUIRE(waits <= attempts);
  check_end();
  // One request to the address per attempt; a redirect's hops belong to it.
  std::size_t requests = 0;
  for (const auto& sent : script->sent)
    if (sent.url == kUrl) ++requests;
  FUZZ_REQUIRE(requests <= static_cast<std::size_t>(1 + attempts));
  if (!FragmentComplete(fragment, file_size, outcome)) return 0;

  const std::string got(file.data().begin(), file.data().end());
  if (outcome.status == 200 && outcome.content_length < 0 && file_size < 0) {
    // Nothing told the size: a body that ended early passes for whole, as
    // ever, but it is still the start of one version.
    FUZZ_REQUIRE(versions[0].rfind(got, 0) == 0 || versions[1].rfind(got, 0) == 0);
    return 0;
  }
  if (got != versions[0] && got != versions[1]) {
    // Which version each byte came from ('?' for neither), and what was asked.
    std::string origin;
    for (std::size_t i = 0; i < got.size(); ++i)
      origin += i < first.size() && got[i] == versions[0][i] ? '0' : i < first.size() && got[i] == versions[1][i] ? '1' : '?';
    std::fprintf(stderr, "accepted %s after %zu requests (%d attempts)\n", origin.c_str(), script->sent.size(), attempts);
  }
  FUZZ_REQUIRE(got == versions[0] || got == versions[1]);
  return 0;
}

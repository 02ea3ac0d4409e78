// The whole download over a transport that answers as the fuzzer says: the
// size request, then the ranged GET, judged as the download run judges it.
// Whatever happens: no step from https to http, at most five redirects per
// exchange, a bounded number of attempts, and a file accepted as complete
// is exactly the body that was served (and the resource, where a size was
// announced).

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_require.h"
#include "fuzz_text.h"
#include "net/http_client.h"
#include "memory_stream.h"
#include "net_scripted_transport.h"
#include "window/fragment_plan.h"
#include "download/transfer_check.h"

namespace {

using namespace kelvora;
using namespace kelvora::net;
using testing::MemoryStream;
using testing::Script;
using testing::ScriptedResponse;
using testing::ScriptedTransport;

constexpr wchar_t kDownloadUrl[] = L"https://dl.example/fileadmin/files/kelvora/Kelvora_Install.exe";
constexpr std::size_t kMaxResponses = 64;

std::wstring Number(std::int64_t value) { return std::to_wstring(value); }

struct Generated {
  ScriptedResponse response;
  std::string body;     // what its chunks add up to: a part of the resource, or all of it and more
  bool honest = true;   // its lengths and ranges tell the truth about the resource
};

std::wstring Location(FuzzedDataProvider& input) {
  static const wchar_t* const kForms[] = {
      L"/fileadmin/files/kelvora/Kelvora_Install.exe", L"../moved/here.exe", L"https://dl.example/next",
      L"http://dl.example/plain",  L"HTTP://mirror.example/x",  L"https://mirror.example:8443/y?z",
      L"//dl.example/protocol-relative", L"?only=query",
  };
  const auto choice = input.ConsumeIntegralInRange<std::size_t>(0, std::size(kForms));
  return choice < std::size(kForms) ? std::wstring(kForms[choice]) : fuzz::ConsumeWide(input, 64);
}

Generated Response(FuzzedDataProvider& input, const std::string& resource, bool head) {
  Generated g;
  ScriptedResponse& r = g.response;
  switch (input.ConsumeIntegralInRange<int>(0, 15)) {
    case 0: r.send_error = input.PickValueInArray<std::uint32_t>({12002, 12007, 12029, 12032, 12044, 12175}); break;
    case 1: r.receive_error = input.PickValueInArray<std::uint32_t>({12002, 12032, 12044, 12175}); break;
    default: break;
  }
  const std::int64_t size = static_cast<std::int64_t>(resource.size());
  std::wstring headers;
  const int kind = input.ConsumeIntegralInRange<int>(0, 5);
  if (kind == 0) {  // the whole resource, perhaps cut short or run on
    r.status = 200;
    if (input.ConsumeBool()) headers += L"Content-Length: " + Number(size) + L"\r\n";
    g.body = input.ConsumeBool() ? resource + input.ConsumeRandomLengthString(64)
                                 : resource.substr(0, input.ConsumeIntegralInRange<std::size_t>(0, resource.size()));
  } else if (kind == 1) {  // a range of it
    r.status = 206;
    const auto first = input.ConsumeIntegralInRange<std::int64_t>(0, size - 1);
    const auto last = input.ConsumeIntegralInRange<std::int64_t>(first, size - 1);
    headers += L"Content-Range: bytes " + Number(first) + L"-" + Number(last) + L"/" +
               (input.ConsumeBool() ? Number(size) : std::wstring(L"*")) + L"\r\n";
    if (input.ConsumeBool()) headers += L"Content-Length: " + Number(last - first + 1) + L"\r\n";
    const std::string range = resource.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1));
    g.body = input.ConsumeBool() ? range + input.ConsumeRandomLengthString(64)
                                 : range.substr(0, input.ConsumeIntegralInRange<std::size_t>(0, range.size()));
  } else if (kind == 2) {  // a redirect
    r.status = input.PickValueInArray<std::int32_t>({300, 301, 302, 303, 307, 308});
    if (input.ConsumeBool()) headers += L"Location: " + Location(input) + L"\r\n";
    g.body = "moved";
  } else if (kind == 3) {  // a status of any kind, headers of any text
    r.status = input.ConsumeIntegralInRange<std::int32_t>(100, 599);
    headers += fuzz::ConsumeWide(input, 128) + L"\r\n";
    g.body = input.ConsumeRandomLengthString(64);
    g.honest = false;
  } else {  // an answer about the size only
    r.status = input.PickValueInArray<std::int32_t>({200, 204, 403, 405, 503});
    if (input.ConsumeBool()) headers += L"Content-Length: " + Number(size) + L"\r\n";
    g.honest = r.status < 300;
  }
  if (input.ConsumeBool()) headers += L"Set-Cookie: " + fuzz::ConsumeWide(input, 64) + L"\r\n";
  r.headers = headers;
  if (!head) {
    // The body in pieces of the fuzzer's choosing.
    std::size_t at = 0;
    while (at < g.body.size()) {
      const auto piece = input.ConsumeIntegralInRange<std::size_t>(1, g.body.size() - at);
      r.chunks.push_back(g.body.substr(at, piece));
      at += piece;
    }
  }
  if (input.ConsumeIntegralInRange<int>(0, 15) == 0) r.read_error = 12002;
  return g;
}

// Checks what one exchange opened and sent, from `first_sent` on.
void CheckExchange(const Script& script, std::size_t first_opened, std::size_t first_sent) {
  const std::size_t opened = script.opened.size() - first_opened;
  FUZZ_REQUIRE(opened >= 1 && opened <= 1 + HttpClient::kMaxRedirects);
  FUZZ_REQUIRE(script.sent.size() - first_sent <= opened * (1 + HttpClient::kMaxResends));
  for (std::size_t i = first_opened; i < script.opened.size(); ++i)
    FUZZ_REQUIRE(script.opened[i].rfind(L"https://", 0) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string resource = input.ConsumeRandomLengthString(256);
  if (resource.empty()) resource = "MZ";

  auto script = std::make_shared<Script>();
  std::vector<Generated> generated;
  const std::size_t head_responses = input.ConsumeIntegralInRange<std::size_t>(1, 8);
  for (std::size_t i = 0; i < kMaxResponses && input.remaining_bytes() > 0; ++i) {
    generated.push_back(Response(input, resource, i < head_responses));
    script->responses.push_back(generated.back().response);
  }

  HttpClient client(std::make_unique<ScriptedTransport>(script), [] { return CookieStore::Seconds{1700000000}; });

  // The size request.
  std::int64_t file_size = -1;
  try {
    file_size = SizeFromHead(client.Head(kDownloadUrl));
  } catch (const HttpError&) {
    return 0;  // the run ends before any transfer
  }
  CheckExchange(*script, 0, 0);
  const std::size_t head_sent = script->sent.size();
  const bool head_honest = generated[head_sent - 1].honest;
  const std::size_t head_opened = script->opened.size();

  // The transfer of the one fragment, as the worker does it.
  const std::vector<Fragment> plan = PlanFragments(file_size, 1);
  TransferOutcome outcome;
  client.SetReceiveDataHandler([&](const void*, std::int64_t, std::int64_t count, bool&) {
    outcome.bytes_written = count;
  });
  MemoryStream target;
  try {
    const HttpResponse response = client.GetRange(kDownloadUrl, plan[0].start, plan[0].end, target);
    outcome.status = response.status;
    outcome.content_range = response.Header(L"Content-Range");
    outcome.content_length = response.content_length;
    outcome.ended_normally = true;
  } catch (const HttpError&) {
  }
  CheckExchange(*script, head_opened, head_sent);
  if (!DownloadComplete(plan, file_size, {outcome})) return 0;

  // Accepted: the file is the final response's body, whole.
  FUZZ_REQUIRE(script->sent.size() > head_sent && script->sent.size() <= generated.size());
  const Generated& final = generated[script->sent.size() - 1];
  const std::string file(target.data().begin(), target.data().end());
  if (!final.honest) return 0;
  FUZZ_REQUIRE(file == final.body);
  // And where the size was told honestly (HEAD, a Content-Length or a
  // Content-Range total), it is the resource itself.
  const bool size_told = file_size >= 0 || outcome.content_length >= 0 ||
                         (outcome.status == 206 && outcome.content_range.find(L"/*") == std::wstring::npos);
  if (size_told && (file_size < 0 || head_honest) && file != resource) {
    std::fprintf(stderr, "resource %zu bytes, size from HEAD %lld; accepted %zu bytes: status %d, "
                 "Content-Range \"%ls\", Content-Length %lld, %lld bytes notified\n",
                 resource.size(), static_cast<long long>(file_size), file.size(), outcome.status,
                 outcome.content_range.c_str(), static_cast<long long>(outcome.content_length),
                 static_cast<long long>(outcome.bytes_written));
    FUZZ_REQUIRE(file == resource);
  }
  return 0;
}

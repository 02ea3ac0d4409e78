#include "download/installer_signature.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "download/next_step.h"
#include "net/url.h"

namespace kelvora {

namespace {

// The body in memory, never more than the client's limit lets through.
class MemoryTarget : public net::TargetStream {
 public:
  std::int64_t Position() override { return position_; }
  void Seek(std::int64_t position) override { position_ = static_cast<std::size_t>(position); }
  std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }
  void SetSize(std::int64_t size) override { bytes_.resize(static_cast<std::size_t>(size)); }
  std::size_t Write(const void* data, std::size_t count) override {
    if (position_ + count > bytes_.size()) bytes_.resize(position_ + count);
    std::memcpy(bytes_.data() + position_, data, count);
    position_ += count;
    return count;
  }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

bool IsSuccess(std::int32_t status) { return status >= 200 && status < 300; }

}  // namespace

std::wstring SignatureAddress(const std::wstring& installer_url) {
  auto url = net::ParseUrl(installer_url);
  if (!url || !url->secure()) return {};
  url->path += L".sig";
  url->fragment.clear();
  url->has_fragment = false;
  return url->ToString();
}

SignatureAnswer FetchSignature(net::HttpClient& client, const std::wstring& installer_url, const RetryRules& rules,
                               const WaitUnlessStopped& wait) {
  SignatureAnswer answer;
  const std::wstring address = SignatureAddress(installer_url);
  if (address.empty()) return answer;
  bool oversized = false;
  bool began = false;
  // Only a 2xx body is read, and only one that says it fits: a refusal's
  // page, a redirect's note and an oversized file are never read.
  client.SetResponseHandler([&](const net::HttpResponse& response, bool& abort) {
    oversized = IsSuccess(response.status) && response.content_length > kMaxSignatureBytes;
    began = IsSuccess(response.status) && !oversized;
    abort = !began;
  });
  for (int used = 0;;) {
    RequestFacts facts;
    facts.retrying = rules.attempts > 0;
    oversized = began = false;
    MemoryTarget body;
    net::HttpResponse response;
    try {
      response = client.Get(address, body, kMaxSignatureBytes);
      facts.status = response.status;
    } catch (const net::HttpError& error) {
      facts.failure = FailureOf(error);
      if (began) facts.status = 200;  // a body that broke off: the class says so
    }
    if (oversized) return answer;
    std::optional<std::chrono::milliseconds> busy_pause;
    if (facts.retrying && !began && IsBusyStatus(facts.status)) {
      busy_pause = BusyPause(response, used + 1, rules);
      facts.pause_too_long = !busy_pause;
    }
    const Ending ending = ClassifyEnding(facts);
    // The signature is asked for whole each time: a broken-off one is never
    // continued, so what came of it counts as nothing to go on from.
    const InPlace in_place = began ? InPlace::Stuck : InPlace::Nothing;
    switch (DecideNextStep(ending, RequestKind::Get, rules.attempts - used, in_place)) {
      case NextStep::Done:
        answer.signature = ReadEcdsaP256Signature(body.Bytes());
        return answer;
      case NextStep::AskAgain:
        if (PauseToAskAgain(busy_pause, used, rules, wait)) continue;
        answer.stopped = true;
        return answer;
      case NextStep::EndRun:
        answer.stopped = true;
        return answer;
      default:
        return answer;  // no signature to be had here
    }
  }
}

}  // namespace kelvora

#include "download/installer_signature.h"

#include <algorithm>
#include <cstring>
#include <vector>

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
  // Only a 2xx body is read, and only one that says it fits: a refusal's
  // page, a redirect's note and an oversized file are never read.
  client.SetResponseHandler([](const net::HttpResponse& response, bool& abort) {
    abort = !IsSuccess(response.status) || response.content_length > kMaxSignatureBytes;
  });
  for (int attempt = 0;; ++attempt) {
    const bool may_ask_again = attempt < rules.attempts;
    MemoryTarget body;
    net::HttpResponse response;
    try {
      response = client.Get(address, body, kMaxSignatureBytes);
    } catch (const net::HttpError& error) {
      if (!may_ask_again || !IsRetryableFailure(error)) return answer;
      if (!wait(BackoffPause(attempt + 1, rules.draw))) {
        answer.stopped = true;
        return answer;
      }
      continue;
    }
    if (IsBusyStatus(response.status)) {
      const auto pause = may_ask_again ? BusyPause(response, attempt + 1, rules) : std::nullopt;
      if (!pause) return answer;
      if (!wait(*pause)) {
        answer.stopped = true;
        return answer;
      }
      continue;
    }
    if (!IsSuccess(response.status) || response.content_length > kMaxSignatureBytes) return answer;
    answer.signature = ReadEcdsaP256Signature(body.Bytes());
    return answer;
  }
}

}  // namespace kelvora

#include "download/retry_rules.h"

#include <algorithm>

#include "net/cookie_store.h"
#include "net/retry_after.h"

namespace kelvora {

namespace {

constexpr std::chrono::milliseconds kFirstStep{1000};
constexpr std::chrono::milliseconds kLongestStep{30000};

// WinHTTP's numbers for failures of the secure channel and of certificates.
constexpr std::uint32_t kSecureChannelErrors[] = {
    12037,  // certificate date invalid
    12038,  // certificate name invalid
    12044,  // client certificate needed
    12045,  // invalid certificate authority
    12057,  // revocation check failed
    12157,  // secure channel error
    12169,  // invalid certificate
    12170,  // certificate revoked
    12175,  // secure failure
    12179,  // wrong certificate usage
    12185,  // client certificate without private key
    12186,  // client certificate's key not accessible
};
constexpr std::uint32_t kOperationCancelled = 12017;

}  // namespace

std::chrono::milliseconds BackoffPause(int attempt, const RandomDraw& draw) {
  const int doublings = std::clamp(attempt, 1, 6) - 1;
  const std::chrono::milliseconds step = std::min(kFirstStep * (1 << doublings), kLongestStep);
  const std::int64_t low = step.count() / 2;
  const std::int64_t span = step.count() - low + 1;  // low .. step, both included
  const std::uint64_t drawn = draw ? draw() : 0xFFFFFFFFu;
  return std::chrono::milliseconds(low + static_cast<std::int64_t>((drawn * static_cast<std::uint64_t>(span)) >> 32));
}

bool IsBusyStatus(std::int32_t status) {
  switch (status) {
    case 408: case 429: case 502: case 503: case 504:
      return true;
    default:
      return false;
  }
}

bool IsRetryableFailure(const net::HttpError& error) {
  switch (error.kind()) {
    case net::HttpError::Kind::Client:
    case net::HttpError::Kind::Header:
    case net::HttpError::Kind::Response:
      break;
    default:
      return false;
  }
  const std::uint32_t number = error.error_number();
  if (number == kOperationCancelled) return false;
  return std::find(std::begin(kSecureChannelErrors), std::end(kSecureChannelErrors), number) ==
         std::end(kSecureChannelErrors);
}

std::optional<std::chrono::milliseconds> BusyPause(const net::HttpResponse& response, int attempt,
                                                   const RetryRules& rules) {
  const std::int64_t now = rules.now ? rules.now() : net::NowSeconds();
  const auto asked = net::RetryAfterSeconds(response, now);
  if (!asked) return BackoffPause(attempt, rules.draw);
  if (*asked > kLongestRetryAfter.count()) return std::nullopt;
  return std::chrono::seconds(*asked);
}

bool PauseToAskAgain(const std::optional<std::chrono::milliseconds>& busy_pause, int& used, const RetryRules& rules,
                     const WaitUnlessStopped& wait) {
  ++used;
  return wait(busy_pause ? *busy_pause : BackoffPause(used, rules.draw));
}

}  // namespace kelvora

#pragma once
// When a request is asked again, and after how long: the busy answers and
// failures worth another try, the back-off with jitter between tries, and
// the pause a busy server asks for.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "net/http_error.h"
#include "net/http_response.h"

namespace kelvora {

// A uniformly drawn 32-bit number; the system's generator in the program,
// fixed values in tests.
using RandomDraw = std::function<std::uint32_t()>;
// Seconds since 1970-01-01 UTC.
using SecondsClock = std::function<std::int64_t()>;

// Waits `delay` unless the run is stopped meanwhile; false when it was (at
// once when it already is).
using WaitUnlessStopped = std::function<bool(std::chrono::milliseconds delay)>;

// How often and how patiently one address is asked.
struct RetryRules {
  // Further requests of each kind (size requests, GETs) allowed after the
  // first; 0 keeps to one of each and asks nothing again.
  int attempts = 0;
  // Empty: every pause is the top of its step (1 s, 2 s, 4 s, ...).
  RandomDraw draw = {};
  // Empty: the system clock.
  SecondsClock now = {};
};

// The longest pause a busy server may ask for: a longer Retry-After ends the
// address at once (nobody watches a progress bar for an hour).
inline constexpr std::chrono::seconds kLongestRetryAfter{60};

// The pause before further request number `attempt` (from 1), drawn from the
// upper half of its step so that clients cut off together do not come back
// together: 0.5-1 s, 1-2 s, 2-4 s, ..., steps never above 30 s.
std::chrono::milliseconds BackoffPause(int attempt, const RandomDraw& draw);

// 503, 502, 504, 429 and 408: the server (or a gateway) is busy now and may
// not be later.
bool IsBusyStatus(std::int32_t status);

// A failure that another try may not meet: the connection could not be made,
// was reset or timed out, the response broke off. Certificates and the
// secure channel, addresses, request set-up and the redirect limit fail the
// same way again, and a cancelled call was stopped.
bool IsRetryableFailure(const net::HttpError& error);

// The pause before asking again after the busy `response`, for further
// request number `attempt`: its Retry-After, else BackoffPause. Nothing when
// it asks for longer than kLongestRetryAfter.
std::optional<std::chrono::milliseconds> BusyPause(const net::HttpResponse& response, int attempt,
                                                   const RetryRules& rules);

// Before asking again: counts one more of `used` and waits the pause for
// it through `wait`, the busy answer's own when there is one (BusyPause),
// else BackoffPause. False when the run was stopped meanwhile.
bool PauseToAskAgain(const std::optional<std::chrono::milliseconds>& busy_pause, int& used, const RetryRules& rules,
                     const WaitUnlessStopped& wait);

}  // namespace kelvora

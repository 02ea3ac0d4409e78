#pragma once
// The pause a busy server asks for in its Retry-After header.

#include <cstdint>
#include <optional>

#include "net/http_response.h"

namespace kelvora::net {

// The most seconds RetryAfterSeconds reports: anything longer is as good as
// never for a user watching a progress bar.
inline constexpr std::int64_t kRetryAfterCeiling = 1'000'000'000;

// The seconds `response`'s Retry-After asks to wait: delay-seconds as given,
// or an HTTP date less the response's Date (less `now`, in seconds since
// 1970, when it has no readable Date); a date in the past is 0. Nothing when
// the header is missing or unusable: empty, negative, not a number or a date,
// or several values. Values above kRetryAfterCeiling are reported as it.
std::optional<std::int64_t> RetryAfterSeconds(const HttpResponse& response, std::int64_t now);

}  // namespace kelvora::net

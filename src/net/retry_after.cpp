#include "net/retry_after.h"

#include <algorithm>

#include "common/text.h"
#include "net/http_date.h"

namespace kelvora::net {

std::optional<std::int64_t> RetryAfterSeconds(const HttpResponse& response, std::int64_t now) {
  const std::wstring value = TrimBlanks(response.Header(L"Retry-After"));
  if (value.empty()) return std::nullopt;
  if (std::all_of(value.begin(), value.end(), IsAsciiDigit)) {
    // Digits only: a delay, however long (ParseDecimal refuses what does not fit).
    const auto seconds = ParseDecimal(value);
    return seconds ? std::min(*seconds, kRetryAfterCeiling) : kRetryAfterCeiling;
  }
  // A repeated header reads "a, b": a date has a comma too, so two values
  // never parse as one date, and no single choice among them is safe.
  const auto when = ParseHttpDate(value);
  if (!when) return std::nullopt;
  const auto date = ParseHttpDate(response.Header(L"Date"));
  const std::int64_t reference = date ? *date : now;
  return std::clamp<std::int64_t>(*when - reference, 0, kRetryAfterCeiling);
}

}  // namespace kelvora::net

#include "net/read_size.h"

#include <algorithm>
#include <limits>

namespace kelvora::net {

void ReadSize::Update(std::uint32_t read, std::chrono::microseconds elapsed) {
  const std::uint64_t rate =
      elapsed.count() > 0 ? std::uint64_t{read} * 1000000 / static_cast<std::uint64_t>(elapsed.count())
                          : std::numeric_limits<std::uint64_t>::max();
  rates_[next_rate_] = rate;
  next_rate_ = (next_rate_ + 1) % kWindow;
  // Less than a record: a sender that trickles, or the body's end.
  if (read < kMinimum) {
    bytes_ = kMinimum;
    held_ = 0;
    return;
  }
  std::uint64_t slowest = std::numeric_limits<std::uint64_t>::max();
  for (const auto seen : rates_)
    if (seen) slowest = std::min(slowest, seen);
  const auto per_second = [](std::uint64_t bytes_per_second, std::chrono::microseconds span) {
    if (bytes_per_second == std::numeric_limits<std::uint64_t>::max()) return bytes_per_second;
    return bytes_per_second / 1000 * static_cast<std::uint64_t>(span.count()) / 1000;
  };
  std::uint64_t wanted = std::min(per_second(rate, kTarget), per_second(slowest, kStill));
  // Whole records: a size that is not one leaves a remainder to fetch alone.
  wanted = std::clamp<std::uint64_t>(wanted, kMinimum, kMaximum);
  wanted -= wanted % kMinimum;
  if (wanted <= bytes_) {
    // A fall is followed at once.
    bytes_ = static_cast<std::uint32_t>(wanted);
    held_ = 0;
    return;
  }
  if (++held_ < kHoldReads) return;
  held_ = 0;
  bytes_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, std::uint64_t{bytes_} * kMaxGrowth));
}

}  // namespace kelvora::net

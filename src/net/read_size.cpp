#include "net/read_size.h"

#include <algorithm>

namespace kelvora::net {

void ReadSize::Update(std::uint32_t read, std::chrono::microseconds elapsed) {
  // Less than a record: a sender that trickles, or the body's end.
  if (read < kMinimum) {
    bytes_ = kMinimum;
    return;
  }
  const std::uint64_t grown = std::uint64_t{bytes_} * kMaxGrowth;
  std::uint64_t wanted = grown;
  if (elapsed.count() > 0)
    wanted = std::min(grown, std::uint64_t{read} * static_cast<std::uint64_t>(kTarget.count()) /
                                 static_cast<std::uint64_t>(elapsed.count()));
  // Whole records: a size that is not one leaves a remainder to fetch alone.
  wanted -= wanted % kMinimum;
  bytes_ = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(wanted, kMinimum, kMaximum));
}

}  // namespace kelvora::net

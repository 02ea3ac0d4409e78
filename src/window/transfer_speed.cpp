#include "window/transfer_speed.h"

namespace kelvora {

int32_t AverageSpeed(int64_t read_count, uint32_t now_tick, uint32_t start_tick) {
  if (read_count == 0) return 0;
  uint32_t elapsed = now_tick - start_tick;
  if (elapsed == 0) elapsed = 1;
  // The product wraps like the 64-bit arithmetic it stands for, without the
  // undefined behaviour of a signed overflow.
  const auto scaled = static_cast<int64_t>(static_cast<uint64_t>(read_count) * 1000u);
  const int64_t speed = scaled / static_cast<int64_t>(elapsed);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(speed)));
}

}  // namespace kelvora

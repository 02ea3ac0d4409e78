#pragma once
// A worker's average transfer rate since its start.

#include <cstdint>

namespace kelvora {

// Bytes per second from `start_tick` to `now_tick` (millisecond tick counts,
// the difference taken modulo 2^32 so a wrap of the counter in between is
// harmless). 0 when nothing has been read. The quotient is computed in 64-bit
// signed arithmetic, truncating, and its low 32 bits are returned as signed.
// A quick first answer can arrive within the same tick; 0 ms with bytes read
// counts as 1 ms. Any thread may call it; it does not throw.
int32_t AverageSpeed(int64_t read_count, uint32_t now_tick, uint32_t start_tick);

}  // namespace kelvora

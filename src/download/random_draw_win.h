#pragma once
// The system's random numbers for the jitter of pauses between requests.

#include <cstdint>

namespace kelvora {

// A number from the system's generator (rand_s, which needs no import beyond
// the C runtime), different from run to run and from machine to machine.
// Any thread; never throws: should the generator fail, the tick count stands in.
std::uint32_t SystemRandomDraw();

}  // namespace kelvora

#pragma once
// How much the next read of a body asks for. Under the platform's
// asynchronous mode a read that asks for more than is at hand returns only
// when its buffer is full or the body ends, and one that fails keeps nothing
// of what it had; every call costs a trip to another thread and one progress
// notification. So on a slow line, or one not yet measured, the client asks
// what is at hand first and reads just that: nothing that arrived before a
// stall is lost, and the calls cost little at that rate. Once whole records
// come fast it reads ahead, each read asking for what the previous one showed
// arrives in about kTarget, at most kMaximum: few and large reads at full
// speed. A stall then costs at most the one read ahead.

#include <chrono>
#include <cstdint>

namespace kelvora::net {

class ReadSize {
 public:
  static constexpr std::uint32_t kMinimum = 16 * 1024;  // one TLS record
  static constexpr std::uint32_t kMaximum = 1 << 20;
  static constexpr std::chrono::microseconds kTarget{30000};
  // At most this many times the last size, so that one read that found its
  // bytes already waiting cannot jump straight to the largest size.
  static constexpr std::uint32_t kMaxGrowth = 4;

  // Whether the next read asks for bytes() without asking what is at hand.
  bool ReadsAhead() const { return bytes_ > kMinimum; }
  std::uint32_t bytes() const { return bytes_; }
  // After a read that brought `read` bytes in `elapsed`.
  void Update(std::uint32_t read, std::chrono::microseconds elapsed);

 private:
  std::uint32_t bytes_ = kMinimum;
};

}  // namespace kelvora::net

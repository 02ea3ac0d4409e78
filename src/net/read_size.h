#pragma once
// How much the next read of a body asks for. An asynchronous read returns
// when its buffer is full or the body ends, and every read costs a call into
// the platform and one progress notification: at full speed reads should be
// large and few, on a slow line small enough that the bar still moves often.
// So each read asks for what the previous one showed arrives in about
// kTarget, between kMinimum and kMaximum bytes.

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

  std::uint32_t bytes() const { return bytes_; }
  // After a read that brought `read` bytes in `elapsed`.
  void Update(std::uint32_t read, std::chrono::microseconds elapsed);

 private:
  std::uint32_t bytes_ = kMinimum;
};

}  // namespace kelvora::net

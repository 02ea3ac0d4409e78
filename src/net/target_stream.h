#pragma once
// The sink a ranged GET writes its body into. The stream stays its owner's:
// an exchange moves its position and size but never closes or frees it.

#include <cstddef>
#include <cstdint>

namespace kelvora::net {

// Every operation may throw StreamWriteError.
class TargetStream {
 public:
  virtual ~TargetStream() = default;
  virtual std::int64_t Position() = 0;
  virtual void Seek(std::int64_t position) = 0;
  virtual std::int64_t Size() = 0;
  // Grows (zero-filled) or cuts the stream; the position stays where it was.
  virtual void SetSize(std::int64_t size) = 0;
  // Writes at the position and moves it on. Returns the bytes taken, which
  // may be fewer than `count`; a failure throws instead.
  virtual std::size_t Write(const void* data, std::size_t count) = 0;
};

}  // namespace kelvora::net

#pragma once
// The sink a ranged GET writes its body into. The stream stays its owner's:
// an exchange moves its position and size but never closes or frees it.

#include <cstdint>
#include <vector>

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

// A stream in memory, for tests and small bodies. A test can make writes
// partial (at most `max_write` bytes each) or fail once `fail_at` bytes have
// been written in total.
class MemoryStream : public TargetStream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::vector<std::uint8_t> initial) : data_(std::move(initial)) {}

  std::int64_t Position() override { return position_; }
  void Seek(std::int64_t position) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;
  std::size_t Write(const void* data, std::size_t count) override;

  const std::vector<std::uint8_t>& data() const { return data_; }
  void set_max_write(std::size_t bytes) { max_write_ = bytes; }
  void set_fail_at(std::int64_t total_bytes) { fail_at_ = total_bytes; }

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
  std::size_t max_write_ = 0;  // 0: no limit
  std::int64_t fail_at_ = -1;  // -1: never
  std::int64_t written_ = 0;
};

}  // namespace kelvora::net

#pragma once
// A target stream in memory for the client's tests and fuzzers, with faults
// to order: writes can be made partial (at most `max_write` bytes each) or
// fail once `fail_at` bytes have been written in total.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "net/http_error.h"
#include "net/target_stream.h"

namespace kelvora::net::testing {

class MemoryStream : public TargetStream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::vector<std::uint8_t> initial) : data_(std::move(initial)) {}

  std::int64_t Position() override { return position_; }
  void Seek(std::int64_t position) override {
    if (position < 0) throw StreamWriteError();
    position_ = position;
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override {
    if (size < 0) throw StreamWriteError();
    data_.resize(static_cast<std::size_t>(size));
  }
  std::size_t Write(const void* data, std::size_t count) override {
    if (max_write_ > 0) count = std::min(count, max_write_);
    if (fail_at_ >= 0 && written_ + static_cast<std::int64_t>(count) > fail_at_)
      throw StreamWriteError(L"Auf dem Datenträger ist nicht genügend Speicherplatz vorhanden");
    const auto at = static_cast<std::size_t>(position_);
    if (data_.size() < at + count) data_.resize(at + count);
    if (count > 0) std::memcpy(data_.data() + at, data, count);
    position_ += static_cast<std::int64_t>(count);
    written_ += static_cast<std::int64_t>(count);
    return count;
  }

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

}  // namespace kelvora::net::testing

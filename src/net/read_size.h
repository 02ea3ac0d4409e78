#pragma once
// How much the next read ahead of a body asks for.
//
// What reads do differs by platform, and the sizes must suit both:
// - Wine (measured, Wine 8): an asynchronous read that asks for more than is
//   at hand returns only when its buffer is full or the body ends, and one
//   that fails keeps nothing of what it had copied. A read started while some
//   bytes are at hand runs on the calling thread until it is full. Every call
//   that goes to WinHTTP's thread costs a hop there and back (about 70 us).
// - Windows (documented): a read returns once some bytes are there.
//
// So the client first asks what is at hand and reads just that (never a
// wait, and nothing of it can be lost), and only then reads ahead, this many
// bytes. A read ahead asks for what the recent rate brings in about kTarget,
// at most kMaximum: few and large reads at full speed. Under Wine a read
// ahead pending when the line slows down waits to fill at the new rate, and
// a line that dies takes it with it: so it is also never more than what the
// slowest of the last kWindow rates brings in kStill, it shrinks at once
// when the rate falls, and it grows only after the rate has held for
// kHoldReads reads, by at most kMaxGrowth each time.

#include <array>
#include <chrono>
#include <cstdint>

namespace kelvora::net {

class ReadSize {
 public:
  static constexpr std::uint32_t kMinimum = 16 * 1024;  // one TLS record
  // Under Wine the read ahead pending when a line collapses fills at the new
  // rate, and one pending when a line dies is lost: 64 KiB is 6.5 s at
  // 10 KB/s. Larger reads save calls only at full speed (see README).
  static constexpr std::uint32_t kMaximum = 64 * 1024;
  static constexpr std::chrono::microseconds kTarget{30000};
  // How long the bar may stand still while a read ahead fills at the slowest
  // rate seen lately.
  static constexpr std::chrono::microseconds kStill{1000000};
  static constexpr std::uint32_t kMaxGrowth = 4;
  static constexpr int kHoldReads = 2;
  static constexpr std::size_t kWindow = 8;

  // Whether the next step reads ahead after taking what is at hand.
  bool ReadsAhead() const { return bytes_ > kMinimum; }
  std::uint32_t bytes() const { return bytes_; }
  // After a step that brought `read` bytes in `elapsed` (what was at hand
  // and the read ahead together).
  void Update(std::uint32_t read, std::chrono::microseconds elapsed);

 private:
  std::uint32_t bytes_ = kMinimum;
  int held_ = 0;  // steps in a row whose rate asked for more than bytes_
  // The rates of the last steps, in bytes per second; 0: none yet.
  std::array<std::uint64_t, kWindow> rates_{};
  std::size_t next_rate_ = 0;
};

}  // namespace kelvora::net

#pragma once
// When a call that waits for the network is given up: only after the line
// has been silent for the time-out, never because one read is slow to fill.
// A large read pending on a line that slows down can take far longer than
// the time-out while bytes keep arriving (Wine measured: an asynchronous read
// returns only when its buffer is full or the body ends; Windows documents
// that a read returns once some bytes are there). So the waiter counts the
// time since the last byte was heard, not since the call began.
//
// Times are milliseconds of one monotonic clock; the caller supplies them.

#include <cstdint>

namespace kelvora::net {

class SilenceRule {
 public:
  // `timeout_ms`: how long a silent line is waited for; `grace_ms`: a little
  // more, so that the platform's own time-out speaks first where it has one.
  SilenceRule(std::uint64_t timeout_ms, std::uint64_t grace_ms) : limit_ms_(timeout_ms + grace_ms) {}

  // A call starts at `now`: its silence counts from here at the latest.
  void Start(std::uint64_t now) { heard_ = now; }
  // Bytes were heard at `at` (an earlier time than the last one heard is
  // ignored: notifications may be seen out of order).
  void Heard(std::uint64_t at) {
    if (at > heard_) heard_ = at;
  }
  // Whether the line has been silent for the whole limit at `now`.
  bool Silent(std::uint64_t now) const { return now >= heard_ && now - heard_ >= limit_ms_; }
  // How long a waiter may sleep at `now` before it must look again; 0 when silent.
  std::uint64_t Remaining(std::uint64_t now) const {
    if (Silent(now)) return 0;
    return now < heard_ ? limit_ms_ : limit_ms_ - (now - heard_);
  }

 private:
  std::uint64_t limit_ms_;
  std::uint64_t heard_ = 0;
};

}  // namespace kelvora::net

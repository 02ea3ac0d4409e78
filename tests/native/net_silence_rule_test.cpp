#include "net/silence_rule.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvora::net {
namespace {

// A waiter that sleeps as the rule says and hears bytes at the given times:
// when (ms after the call began) it gives up, or -1 when the call completes
// first, at `until`.
long long GivesUpAt(const std::vector<std::uint64_t>& arrivals, std::uint64_t until) {
  SilenceRule rule(60000, 5000);
  std::uint64_t now = 1000;  // the clock's value when the call begins
  rule.Start(now);
  std::size_t next = 0;
  while (now - 1000 <= until) {
    // The waiter wakes at the latest when the rule says, and on each arrival.
    std::uint64_t wake = now + rule.Remaining(now);
    if (next < arrivals.size() && 1000 + arrivals[next] < wake) wake = 1000 + arrivals[next];
    if (wake > 1000 + until) return -1;
    now = wake;
    while (next < arrivals.size() && 1000 + arrivals[next] <= now) rule.Heard(1000 + arrivals[next++]);
    if (rule.Silent(now)) return static_cast<long long>(now - 1000);
  }
  return -1;
}

std::vector<std::uint64_t> Every(std::uint64_t step, std::uint64_t from, std::uint64_t to) {
  std::vector<std::uint64_t> times;
  for (std::uint64_t t = from; t <= to; t += step) times.push_back(t);
  return times;
}

TEST(SilenceRule, CountsSilenceNotTheLengthOfARead) {
  struct Row {
    const char* name;
    std::vector<std::uint64_t> arrivals;  // ms after the call began
    std::uint64_t until;
    long long gives_up_at;
  } rows[] = {
      // 1 MiB at 10 KB/s: 8 KiB every 0.8 s for 105 s, far past the time-out.
      {"a read filling slowly does not time out", Every(800, 800, 105000), 105000, -1},
      // 2 KB/s: one 8 KiB piece every 4 s.
      {"2 KB/s does not time out either", Every(4000, 4000, 200000), 200000, -1},
      {"a silent line times out after the limit", {}, 200000, 65000},
      {"silence after bytes counts from the last byte", Every(1000, 1000, 30000), 200000, 95000},
      {"gaps of 59 s keep a call alive", {59000, 118000, 177000}, 200000, -1},
      {"a gap just over the limit ends it", {10000, 75001}, 200000, 75000},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(GivesUpAt(row.arrivals, row.until), row.gives_up_at);
  }
}

TEST(SilenceRule, LateNotificationsDoNotTurnTheClockBack) {
  SilenceRule rule(60000, 5000);
  rule.Start(100);
  rule.Heard(50000);
  rule.Heard(40000);  // seen after the later one
  EXPECT_FALSE(rule.Silent(114999));
  EXPECT_TRUE(rule.Silent(115000));
  EXPECT_EQ(rule.Remaining(100000), 15000u);
  EXPECT_EQ(rule.Remaining(115000), 0u);
}

}  // namespace
}  // namespace kelvora::net

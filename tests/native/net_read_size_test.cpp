#include "net/read_size.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvora::net {
namespace {

using std::chrono::microseconds;
constexpr std::uint32_t KiB = 1024;

// Feeds steps that each bring the size asked for at the given line rate
// (bytes per second; 0: the bytes were already waiting) and lists the sizes
// asked for, the first included.
std::vector<std::uint32_t> Sizes(const std::vector<double>& rates) {
  ReadSize size;
  std::vector<std::uint32_t> asked;
  for (const double rate : rates) {
    asked.push_back(size.bytes());
    const auto elapsed = rate > 0 ? microseconds(static_cast<long long>(size.bytes() / rate * 1e6)) : microseconds(0);
    size.Update(size.bytes(), elapsed);
  }
  return asked;
}

std::vector<double> Steady(double rate, int steps) { return std::vector<double>(steps, rate); }

std::vector<double> Then(std::vector<double> first, const std::vector<double>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST(ReadSize, FollowsTheRateGrowingOnlyWhereItHeld) {
  struct Row {
    const char* name;
    std::vector<double> rates;
    std::vector<std::uint32_t> sizes;
  } rows[] = {
      // 16 KiB at 150 KB/s take 109 ms: no smaller read is worth its call.
      {"slow line stays at the smallest size", Steady(150e3, 3), {16 * KiB, 16 * KiB, 16 * KiB}},
      // 30 ms at 1.2 MB/s is 36,000 bytes: two whole records, after a
      // second step at the rate.
      {"1.2 MB/s settles on two records", Steady(1.2e6, 4), {16 * KiB, 16 * KiB, 32 * KiB, 32 * KiB}},
      {"100 Mbit/s grows four-fold to the cap after a held rate", Steady(12.5e6, 4),
       {16 * KiB, 16 * KiB, 64 * KiB, 64 * KiB}},
      {"bytes already waiting grow the same way", Steady(0, 3), {16 * KiB, 16 * KiB, 64 * KiB}},
      // A slow start, then full speed: the slow steps are remembered for
      // eight steps (reads ahead stay within what 40 KB/s brings in 1 s:
      // 32 KiB), then the size grows to the cap.
      {"a slow start that then speeds up", Then(Steady(40e3, 2), Steady(500e6, 10)),
       {16 * KiB, 16 * KiB, 16 * KiB, 16 * KiB, 32 * KiB, 32 * KiB, 32 * KiB, 32 * KiB, 32 * KiB, 32 * KiB,
        32 * KiB, 64 * KiB}},
      // Up to the cap, down to 1 MB/s (30 KB a step: one record), up again.
      {"a rate that rises and falls", Then(Then(Steady(500e6, 3), Steady(1e6, 2)), Steady(500e6, 4)),
       {16 * KiB, 16 * KiB, 64 * KiB, 64 * KiB, 16 * KiB, 16 * KiB, 16 * KiB, 64 * KiB, 64 * KiB}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Sizes(row.rates), row.sizes);
  }
}

ReadSize AtTheCap() {
  ReadSize size;
  for (int i = 0; i < 10 && size.bytes() < ReadSize::kMaximum; ++i) size.Update(size.bytes(), microseconds(1000));
  EXPECT_EQ(size.bytes(), ReadSize::kMaximum);
  return size;
}

TEST(ReadSize, ARateThatCollapsesFallsBackToTheSmallestSizeAtOnce) {
  ReadSize size = AtTheCap();
  // The last large read took seven seconds: the line fell to 150 KB/s.
  size.Update(ReadSize::kMaximum, microseconds(7'000'000));
  EXPECT_EQ(size.bytes(), ReadSize::kMinimum);
  EXPECT_FALSE(size.ReadsAhead());
}

TEST(ReadSize, LessThanARecordGoesBackToAskingFirst) {
  ReadSize size;
  EXPECT_FALSE(size.ReadsAhead());  // nothing measured yet
  size = AtTheCap();
  EXPECT_TRUE(size.ReadsAhead());
  // 1 KiB, however fast: a sender that trickles, whose next bytes may be
  // the last before a stall.
  size.Update(1 * KiB, microseconds(1));
  EXPECT_FALSE(size.ReadsAhead());
  EXPECT_EQ(size.bytes(), ReadSize::kMinimum);
}

}  // namespace
}  // namespace kelvora::net

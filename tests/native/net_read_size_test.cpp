#include "net/read_size.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvora::net {
namespace {

using std::chrono::microseconds;
constexpr std::uint32_t KiB = 1024;

// Each row feeds reads that each fill the size asked for at a steady line
// rate, and lists the sizes asked for, the first included.
TEST(ReadSize, FollowsTheRateBetweenItsBounds) {
  struct Row {
    const char* name;
    double bytes_per_second;  // 0: every read finds its bytes already waiting
    std::vector<std::uint32_t> sizes;
  } rows[] = {
      // 16 KiB at 150 KB/s take 109 ms: no smaller read is worth its call.
      {"slow line stays at the smallest size", 150e3, {16 * KiB, 16 * KiB, 16 * KiB}},
      // 30 ms at 12.5 MB/s is 375,000 bytes: 22 whole records.
      {"100 Mbit/s settles near 30 ms a read", 12.5e6, {16 * KiB, 64 * KiB, 256 * KiB, 352 * KiB, 352 * KiB}},
      {"full speed grows four-fold to the cap", 500e6, {16 * KiB, 64 * KiB, 256 * KiB, 1024 * KiB, 1024 * KiB}},
      {"bytes already waiting grow four-fold too", 0, {16 * KiB, 64 * KiB, 256 * KiB, 1024 * KiB, 1024 * KiB}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ReadSize size;
    std::vector<std::uint32_t> asked;
    for (std::size_t i = 0; i < row.sizes.size(); ++i) {
      asked.push_back(size.bytes());
      const auto elapsed = row.bytes_per_second > 0
                               ? microseconds(static_cast<long long>(size.bytes() / row.bytes_per_second * 1e6))
                               : microseconds(0);
      size.Update(size.bytes(), elapsed);
    }
    EXPECT_EQ(asked, row.sizes);
  }
}

TEST(ReadSize, ARateThatCollapsesFallsBackToTheSmallestSizeAtOnce) {
  ReadSize size;
  for (int i = 0; i < 4; ++i) size.Update(size.bytes(), microseconds(1000));
  ASSERT_EQ(size.bytes(), ReadSize::kMaximum);
  // The last large read took seven seconds: the line fell to 150 KB/s.
  size.Update(ReadSize::kMaximum, microseconds(7'000'000));
  EXPECT_EQ(size.bytes(), ReadSize::kMinimum);
  EXPECT_FALSE(size.ReadsAhead());
}

TEST(ReadSize, LessThanARecordGoesBackToAskingFirst) {
  ReadSize size;
  EXPECT_FALSE(size.ReadsAhead());  // nothing measured yet
  size.Update(ReadSize::kMinimum, microseconds(10));
  EXPECT_TRUE(size.ReadsAhead());
  for (int i = 0; i < 3; ++i) size.Update(size.bytes(), microseconds(0));
  ASSERT_EQ(size.bytes(), ReadSize::kMaximum);
  // 1 KiB, however fast: a sender that trickles, whose next bytes may be
  // the last before a stall.
  size.Update(1 * KiB, microseconds(1));
  EXPECT_FALSE(size.ReadsAhead());
  EXPECT_EQ(size.bytes(), ReadSize::kMinimum);
}

}  // namespace
}  // namespace kelvora::net

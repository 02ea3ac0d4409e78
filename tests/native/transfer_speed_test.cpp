#include "window/transfer_speed.h"

#include <gtest/gtest.h>

namespace kelvora {
namespace {

TEST(TransferSpeed, AverageRateTable) {
  struct Row {
    const char* name;
    int64_t read_count;
    uint32_t now;
    uint32_t start;
    int32_t expected;
  };
  const Row rows[] = {
      {"nothing read", 0, 5000, 1000, 0},
      {"nothing read within the same tick", 0, 7, 7, 0},
      {"300 bytes in 600 ms", 300, 1600, 1000, 500},
      {"1 byte in 3 ms truncates", 1, 3, 0, 333},
      {"999 bytes in 1000 ms truncates", 999, 2000, 1000, 999},
      {"tick counter wrapped", 512, 0x00000100u, 0xFFFFFF00u, 1000},
      {"same tick counts as 1 ms", 5, 42, 42, 5000},
      {"elapsed above 2^31 ms stays positive", 0x80000000LL, 0x80000000u, 0, 1000},
      {"quotient keeps its low 32 bits", 3000000000LL, 1000, 0, -1294967296},
      {"quotient of exactly 2^32 reads as 0", 4294967296LL, 1000, 0, 0},
      {"negative count truncates toward zero", -1, 3, 0, -333},
  };
  for (const auto& row : rows) EXPECT_EQ(AverageSpeed(row.read_count, row.now, row.start), row.expected) << row.name;
}

TEST(TransferSpeed, ProductWrapsLikeSixtyFourBitArithmetic) {
  // (2^62 + 1) * 1000 = 2^65 * 125 + 1000, which is 1000 modulo 2^64.
  EXPECT_EQ(AverageSpeed((int64_t{1} << 62) + 1, 1, 0), 1000);
}

}  // namespace
}  // namespace kelvora

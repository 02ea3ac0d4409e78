#include "window/fragment_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kelvora {
namespace {

// The properties every plan for a known size must have, whatever the count.
void ExpectSoundPlan(int64_t size, int32_t count) {
  SCOPED_TRACE("size " + std::to_string(size) + ", count " + std::to_string(count));
  const auto plan = PlanFragments(size, count);
  ASSERT_FALSE(plan.empty());
  const int64_t expected_count = std::min<int64_t>(count, size);
  ASSERT_EQ(static_cast<int64_t>(plan.size()), expected_count);

  int64_t next = 0;
  for (const auto& fragment : plan) {
    EXPECT_EQ(fragment.start, next) << "a gap or an overlap before this fragment";
    EXPECT_GT(fragment.length, 0);
    EXPECT_EQ(fragment.end, fragment.start + fragment.length - 1);
    next = fragment.end + 1;
  }
  EXPECT_EQ(next, size) << "the plan must end at the last byte";

  const int64_t base = size / expected_count;
  for (size_t i = 0; i + 1 < plan.size(); ++i) EXPECT_EQ(plan[i].length, base);
  EXPECT_EQ(plan.back().length, base + size % expected_count) << "the last fragment takes the remainder";
}

TEST(FragmentPlan, KnownSizesAreCoveredDisjointlyForEveryCount) {
  const int64_t sizes[] = {1, 2, 6, 7, 100, 1000003, 4294967296LL + 17, 9000000000000000011LL};
  for (int32_t count = 1; count <= 7; ++count)
    for (int64_t size : sizes) ExpectSoundPlan(size, count);
}

TEST(FragmentPlan, ExactRangesForTypicalCases) {
  struct Row {
    int64_t size;
    int32_t count;
    std::vector<Fragment> expected;
  };
  const Row rows[] = {
      {1, 1, {{0, 0, 1}}},
      {1000, 1, {{0, 999, 1000}}},
      {10, 3, {{0, 2, 3}, {3, 5, 3}, {6, 9, 4}}},
      {11, 4, {{0, 1, 2}, {2, 3, 2}, {4, 5, 2}, {6, 10, 5}}},
      {3, 7, {{0, 0, 1}, {1, 1, 1}, {2, 2, 1}}},
      {5000000000LL, 2, {{0, 2499999999LL, 2500000000LL}, {2500000000LL, 4999999999LL, 2500000000LL}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("size " + std::to_string(row.size) + ", count " + std::to_string(row.count));
    const auto plan = PlanFragments(row.size, row.count);
    ASSERT_EQ(plan.size(), row.expected.size());
    for (size_t i = 0; i < plan.size(); ++i) {
      EXPECT_EQ(plan[i].start, row.expected[i].start) << "fragment " << i;
      EXPECT_EQ(plan[i].end, row.expected[i].end) << "fragment " << i;
      EXPECT_EQ(plan[i].length, row.expected[i].length) << "fragment " << i;
    }
  }
}

TEST(FragmentPlan, UnknownAndEmptySizesGiveOneOpenFragment) {
  struct Row {
    int64_t size;
    int64_t length;
  };
  const Row rows[] = {{-1, -1}, {-5, -1}, {0, 0}};
  for (const auto& row : rows) {
    for (int32_t count = 1; count <= 7; ++count) {
      SCOPED_TRACE("size " + std::to_string(row.size) + ", count " + std::to_string(count));
      const auto plan = PlanFragments(row.size, count);
      ASSERT_EQ(plan.size(), 1u);
      EXPECT_EQ(plan[0].start, 0);
      EXPECT_EQ(plan[0].end, -1);
      EXPECT_EQ(plan[0].length, row.length);
    }
  }
}

TEST(FragmentPlan, CountsBelowOneMeanOneWorker) {
  for (int32_t count : {0, -1, -2147483647 - 1}) {
    const auto plan = PlanFragments(50, count);
    ASSERT_EQ(plan.size(), 1u) << count;
    EXPECT_EQ(plan[0].end, 49);
  }
}

}  // namespace
}  // namespace kelvora

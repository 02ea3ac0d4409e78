#include "window/progress_bar_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace kelvora {
namespace {

enum class Op { kMin, kMax, kValue };

struct Step {
  Op op;
  double number;
  bool changed;  // what the setter reports
  double minimum, maximum, value;
  int64_t fill;
};

struct Script {
  const char* name;
  double inner_length;
  std::vector<Step> steps;
};

bool Apply(ProgressBarModel& bar, Op op, double number) {
  switch (op) {
    case Op::kMin: return bar.SetMinimum(number);
    case Op::kMax: return bar.SetMaximum(number);
    case Op::kValue: return bar.SetValue(number);
  }
  return false;
}

TEST(ProgressBarModel, AssignmentScripts) {
  const Script scripts[] = {
      {"download of 1000 bytes on a 200-unit track",
       200,
       {{Op::kMax, 1000, true, 0, 1000, 0, 0},
        {Op::kMin, 0, false, 0, 1000, 0, 0},
        {Op::kValue, 0, false, 0, 1000, 0, 0},
        {Op::kValue, 250, true, 0, 1000, 250, 50},
        {Op::kValue, 250, false, 0, 1000, 250, 50},
        {Op::kValue, 1000, true, 0, 1000, 1000, 200}}},
      {"unknown content length: maximum -1 becomes 0 and the bar stays empty",
       200,
       {{Op::kMax, -1, true, 0, 0, 0, 0},
        {Op::kMin, 0, false, 0, 0, 0, 0},
        {Op::kValue, 0, false, 0, 0, 0, 0},
        {Op::kValue, 16384, false, 0, 0, 0, 0},
        {Op::kValue, 5e9, false, 0, 0, 0, 0}}},
      {"content length 0: the bar stays empty", 200, {{Op::kMax, 0, true, 0, 0, 0, 0}, {Op::kValue, 7, false, 0, 0, 0, 0}}},
      {"read count above the maximum fills the bar",
       300,
       {{Op::kMax, 500, true, 0, 500, 0, 0}, {Op::kValue, 800, true, 0, 500, 500, 300}, {Op::kValue, 900, false, 0, 500, 500, 300}}},
      {"negative value clamps to the minimum", 100, {{Op::kValue, 40, true, 0, 100, 40, 40}, {Op::kValue, -5, true, 0, 100, 0, 0}}},
      {"a new minimum above the unchanged maximum is pulled down to it",
       100,
       {{Op::kValue, 50, true, 0, 100, 50, 50}, {Op::kMin, 150, true, 100, 100, 100, 50}}},
      {"a new maximum below the minimum is raised to it",
       100,
       {{Op::kMin, 20, true, 20, 100, 20, 0}, {Op::kMax, 10, true, 20, 20, 20, 0}, {Op::kValue, 30, false, 20, 20, 20, 0}}},
      {"a value within the tolerance of the maximum snaps to it",
       100,
       {{Op::kValue, 100 - 1e-11, true, 0, 100, 100, 100}, {Op::kValue, 100 - 1e-11, false, 0, 100, 100, 100}}},
      {"a change within the tolerance does nothing further",
       100,
       {{Op::kValue, 40, true, 0, 100, 40, 40}, {Op::kValue, 40 + 1e-12, false, 0, 100, 40, 40}, {Op::kMax, 100 + 1e-12, false, 0, 100, 40, 40}}},
      {"a minimum differing by less than 1e-12 from 0 is taken as unchanged",
       100,
       {{Op::kMin, 5e-13, false, 0, 100, 0, 0}}},
      {"fill length rounds halves to even",
       5,
       {{Op::kValue, 50, true, 0, 100, 50, 2}, {Op::kValue, 70, true, 0, 100, 70, 4}, {Op::kValue, 90, true, 0, 100, 90, 4}}},
      {"an empty range keeps the previous fill",
       100,
       {{Op::kValue, 60, true, 0, 100, 60, 60}, {Op::kMax, 0, true, 0, 0, 0, 60}, {Op::kMax, 10, true, 0, 10, 0, 0}}},
      {"a NaN is ignored",
       100,
       {{Op::kValue, std::numeric_limits<double>::quiet_NaN(), false, 0, 100, 0, 0},
        {Op::kMax, std::numeric_limits<double>::quiet_NaN(), false, 0, 100, 0, 0}}},
  };
  for (const auto& script : scripts) {
    SCOPED_TRACE(script.name);
    ProgressBarModel bar(script.inner_length);
    int index = 0;
    for (const auto& step : script.steps) {
      SCOPED_TRACE("step " + std::to_string(index++));
      EXPECT_EQ(Apply(bar, step.op, step.number), step.changed);
      EXPECT_EQ(bar.minimum(), step.minimum);
      EXPECT_EQ(bar.maximum(), step.maximum);
      EXPECT_EQ(bar.value(), step.value);
      EXPECT_EQ(bar.fill_length(), step.fill);
    }
  }
}

TEST(ProgressBarModel, NewBarHoldsTheDefaults) {
  ProgressBarModel bar(250);
  EXPECT_EQ(bar.minimum(), 0);
  EXPECT_EQ(bar.maximum(), 100);
  EXPECT_EQ(bar.value(), 0);
  EXPECT_EQ(bar.fraction(), 0);
  EXPECT_EQ(bar.fill_length(), 0);
  EXPECT_FALSE(bar.fill_drawn());
}

TEST(ProgressBarModel, FractionTable) {
  struct Row {
    double maximum, value, fraction;
  };
  const Row rows[] = {{1000, 0, 0}, {1000, 250, 0.25}, {1000, 1000, 1}, {1000, 2000, 1}, {0, 5, 1}, {-1, 5, 1}};
  for (const auto& row : rows) {
    ProgressBarModel bar(100);
    bar.SetMaximum(row.maximum);
    bar.SetValue(row.value);
    EXPECT_EQ(bar.fraction(), row.fraction) << row.maximum << " " << row.value;
  }
}

TEST(ProgressBarModel, FillIsDrawnOnlyAboveTwoUnits) {
  struct Row {
    double value;
    int64_t fill;
    bool drawn;
  };
  // 200-unit track, range 0..1000: every 5 bytes are one unit.
  const Row rows[] = {{5, 1, false}, {10, 2, false}, {12.5, 2, false}, {14, 3, true}, {15, 3, true}, {17.5, 4, true}};
  for (const auto& row : rows) {
    ProgressBarModel bar(200);
    bar.SetMaximum(1000);
    bar.SetValue(row.value);
    EXPECT_EQ(bar.fill_length(), row.fill) << row.value;
    EXPECT_EQ(bar.fill_drawn(), row.drawn) << row.value;
  }
}

TEST(ProgressBarModel, NewTrackLengthLaysTheFillOutAgain) {
  ProgressBarModel bar(100);
  bar.SetValue(30);
  EXPECT_TRUE(bar.SetInnerLength(200));
  EXPECT_EQ(bar.fill_length(), 60);
  EXPECT_FALSE(bar.SetInnerLength(200));
  bar.SetMaximum(-1);  // empty range: the fill stays where it was
  EXPECT_FALSE(bar.SetInnerLength(400));
  EXPECT_EQ(bar.fill_length(), 60);
}

TEST(ProgressBarModel, NearlyEqualTable) {
  struct Row {
    double a, b;
    bool equal;
  };
  const Row rows[] = {
      {0, 0, true},           {0, 1e-12, true},          {0, 2e-12, false},       {0, -1e-12, true},
      {1e6, 1e6 + 5e-7, true}, {1e6, 1e6 + 3e-6, false},  {-5, -5 - 4e-12, true},  {-5, -5 - 6e-12, false},
      {-5, 5, false},         {1e15, 1e15 + 900, true},  {1e15, 1e15 + 1100, false},
      // The smaller magnitude sets the tolerance.
      {1, 1e6, false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ProgressBarModel::NearlyEqual(row.a, row.b), row.equal) << row.a << " vs " << row.b;
}

TEST(ProgressBarModel, RoundHalfToEvenTable) {
  struct Row {
    double x;
    int64_t rounded;
  };
  const Row rows[] = {{0, 0}, {0.4, 0}, {0.5, 0}, {0.6, 1}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {7.49, 7}};
  for (const auto& row : rows) EXPECT_EQ(RoundHalfToEven(row.x), row.rounded) << row.x;
}

TEST(ProgressBarModel, SlotSetUpFromFragments) {
  struct Row {
    const char* name;
    int64_t size;
    double maximum;
    bool changed;
  };
  const Row rows[] = {
      {"known size", 1000, 1000, true},
      {"size above 2^53 is rounded to a double", (int64_t{1} << 53) + 1, 9007199254740992.0, true},
      {"unknown size", -1, 0, true},
      {"empty resource", 0, 0, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto plan = PlanFragments(row.size, 1);
    ProgressBarModel bar(100);
    EXPECT_EQ(SetUpSlotBar(bar, SlotMaximum(plan[0])), row.changed);
    EXPECT_EQ(bar.minimum(), 0);
    EXPECT_EQ(bar.maximum(), row.maximum);
    EXPECT_EQ(bar.value(), 0);
    EXPECT_EQ(bar.fill_length(), 0);
    EXPECT_FALSE(SetUpSlotBar(bar, SlotMaximum(plan[0]))) << "a second set-up changes nothing";
  }
  EXPECT_EQ(SlotMaximum(Fragment{0, -1, -1}), -1.0);
  EXPECT_EQ(SlotMaximum(Fragment{6, 9, 4}), 4.0);
}

TEST(ProgressBarModel, RepaintsOnlyWhenWhatItDrawsChanges) {
  struct Row {
    const char* name;
    double minimum, maximum;
    std::optional<double> old_value;  // none: the new value is the first after the set-up
    double new_value;
    double width;  // of the track
    bool repaint;
  };
  // On a 200-unit track over 0..1000 every 5 bytes are one unit of fill.
  const Row rows[] = {
      {"first value, fill still empty", 0, 1000, std::nullopt, 2, 200, false},
      {"first value that fills a unit", 0, 1000, std::nullopt, 3, 200, true},
      {"first value is the minimum: nothing new", 0, 1000, std::nullopt, 0, 200, false},
      {"value moves within one unit", 0, 1000, 5, 7, 200, false},
      {"value moves into the next unit", 0, 1000, 7, 8, 200, true},
      {"a half rounds back to the even unit", 0, 1000, 10, 12.5, 200, false},
      {"a half rounds on to the even unit", 0, 1000, 12.5, 17.5, 200, true},
      {"maximum reached, fill already full", 0, 1000, 999, 1000, 200, true},
      {"back at the minimum, fill already empty", 0, 1000, 1, 0, 200, true},
      {"past the maximum: clamped, nothing new", 0, 1000, 1000, 1200, 200, false},
      {"within the tolerance: nothing new", 0, 1000, 500, 500 + 1e-10, 200, false},
      {"empty range of an unknown length", 0, -1, std::nullopt, 16384, 200, false},
      {"minimum above 0, within one unit", 100, 200, 150, 150.2, 200, false},
      {"a file above the int range, 16 KB more", 0, 5e9, 1e9, 1e9 + 16384, 300, false},
      {"a file above the int range, a unit more", 0, 5e9, 1e9, 1.02e9, 300, true},
      {"every byte a unit", 0, 1000, 400, 401, 1000, true},
      {"track not laid out yet", 0, 1000, 100, 900, 0, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    // As the window does it: the slot's range is set up and shown, then values follow.
    ProgressBarModel bar(row.width);
    ShownBar shown;
    bar.SetMaximum(row.maximum);
    bar.SetMinimum(row.minimum);
    shown.Take(bar);
    if (row.old_value && bar.SetValue(*row.old_value)) shown.Take(bar);
    bool repaint = false;
    if (bar.SetValue(row.new_value)) {
      const ShownBar::Change change = shown.Take(bar);
      EXPECT_FALSE(change.range) << "a new value never needs the range again";
      repaint = change.repaint;
    }
    EXPECT_EQ(repaint, row.repaint);
  }
}

TEST(ProgressBarModel, FirstNumbersGivenAndNewRangesAskForEverything) {
  ProgressBarModel bar(200);
  ShownBar shown;
  ShownBar::Change change = shown.Take(bar);
  EXPECT_TRUE(change.range);
  EXPECT_TRUE(change.repaint);
  ASSERT_TRUE(bar.SetValue(50));
  change = shown.Take(bar);
  EXPECT_FALSE(change.range);
  EXPECT_TRUE(change.repaint);
  ASSERT_TRUE(bar.SetMaximum(200));  // same value, half the fill
  change = shown.Take(bar);
  EXPECT_TRUE(change.range);
  EXPECT_TRUE(change.repaint);
}

}  // namespace
}  // namespace kelvora

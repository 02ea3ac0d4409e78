#include "download/transfer_check.h"
#include "window/fragment_plan.h"

#include <gtest/gtest.h>

namespace kelvora {
namespace {

TEST(ContentRange, ParsesTheByteRangeForm) {
  struct Case {
    const wchar_t* value;
    bool ok;
    std::int64_t first, last, total;
  } cases[] = {
      {L"bytes 0-999/1000", true, 0, 999, 1000},
      {L"Bytes 0-0/1", true, 0, 0, 1},
      {L"  bytes 500-999/*", true, 500, 999, -1},
      {L"bytes 0-4294967295/4294967296", true, 0, 4294967295LL, 4294967296LL},
      {L"bytes */1000", false, 0, 0, 0},        // unsatisfied-range form
      {L"bytes 10-5/100", false, 0, 0, 0},      // last before first
      {L"bytes 0-99/99", false, 0, 0, 0},       // last beyond the total
      {L"items 0-1/2", false, 0, 0, 0},
      {L"bytes 0-1", false, 0, 0, 0},
      {L"bytes -1-5/10", false, 0, 0, 0},
      {L"", false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    ContentRange range;
    ASSERT_EQ(ParseContentRange(c.value, range), c.ok) << c.value;
    if (c.ok) {
      EXPECT_EQ(range.first, c.first) << c.value;
      EXPECT_EQ(range.last, c.last) << c.value;
      EXPECT_EQ(range.total, c.total) << c.value;
    }
  }
}

TransferOutcome Outcome(std::int32_t status, std::int64_t bytes, const wchar_t* range = L"",
                        std::int64_t content_length = -1) {
  TransferOutcome outcome;
  outcome.ended_normally = true;
  outcome.status = status;
  outcome.content_range = range;
  outcome.content_length = content_length;
  outcome.bytes_written = bytes;
  return outcome;
}

TEST(TransferCheck, OneWorkerOutcomes) {
  const Fragment whole{0, 999, 1000};
  const Fragment open{0, -1, -1};
  TransferOutcome aborted = Outcome(206, 400, L"bytes 0-999/1000", 1000);
  aborted.aborted = true;
  TransferOutcome failed = Outcome(206, 400, L"bytes 0-999/1000", 1000);
  failed.ended_normally = false;
  struct Case {
    const char* name;
    Fragment fragment;
    std::int64_t file_size;
    TransferOutcome outcome;
    bool complete;
  } cases[] = {
      {"206 with the range asked for", whole, 1000, Outcome(206, 1000, L"bytes 0-999/1000", 1000), true},
      {"206 with unknown total", whole, 1000, Outcome(206, 1000, L"bytes 0-999/*"), true},
      {"200 with the whole file", whole, 1000, Outcome(200, 1000, L"", 1000), true},
      {"200 without length, size known", whole, 1000, Outcome(200, 1000), true},
      {"open range, 200 read to its end", open, -1, Outcome(200, 5000), true},
      {"open range, 200 matching its length", open, -1, Outcome(200, 5000, L"", 5000), true},
      {"open range, 206 from 0", open, -1, Outcome(206, 5000, L"bytes 0-4999/5000", 5000), true},
      {"open range, 206 without length", open, -1, Outcome(206, 5000, L"bytes 0-4999/5000"), true},
      {"open range, 206 of a part of the file", open, -1, Outcome(206, 100, L"bytes 0-99/1000", 100), false},
      {"open range, 206 of a part, no length", open, -1, Outcome(206, 100, L"bytes 0-99/1000"), false},
      {"open range, 206 of unknown total", open, -1, Outcome(206, 5000, L"bytes 0-4999/*", 5000), false},
      {"open range, 206 not from 0", open, -1, Outcome(206, 900, L"bytes 100-999/1000", 900), false},
      {"open range, 206 short of its range", open, -1, Outcome(206, 4000, L"bytes 0-4999/5000"), false},
      {"stopped by the user", whole, 1000, aborted, false},
      {"failed transfer", whole, 1000, failed, false},
      {"short body", whole, 1000, Outcome(206, 999, L"bytes 0-999/1000", 1000), false},
      {"body shorter than its own length", whole, 1000, Outcome(200, 900, L"", 1000), false},
      {"long body", whole, 1000, Outcome(200, 1001), false},
      {"file changed on the server", whole, 1000, Outcome(206, 1000, L"bytes 0-999/2000", 1000), false},
      {"other range", whole, 1000, Outcome(206, 1000, L"bytes 1-1000/1001", 1000), false},
      {"206 without Content-Range", whole, 1000, Outcome(206, 1000, L"", 1000), false},
      {"404 error page", whole, 1000, Outcome(404, 1000, L"", 1000), false},
      {"500 error page", open, -1, Outcome(500, 120, L"", 120), false},
      {"302 not followed", whole, 1000, Outcome(302, 0, L"", 0), false},
      {"open range, empty 200", open, -1, Outcome(200, 0, L"", 0), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FragmentComplete(c.fragment, c.file_size, c.outcome), c.complete) << c.name;
    EXPECT_EQ(DownloadComplete({c.fragment}, c.file_size, {c.outcome}), c.complete) << c.name;
  }
}

TEST(TransferCheck, SeveralWorkersMustEachDeliverTheirOwnFragment) {
  const std::vector<Fragment> plan = PlanFragments(1000, 3);  // 0-332, 333-665, 666-999
  ASSERT_EQ(plan.size(), 3u);
  std::vector<TransferOutcome> outcomes = {Outcome(206, 333, L"bytes 0-332/1000", 333),
                                           Outcome(206, 333, L"bytes 333-665/1000", 333),
                                           Outcome(206, 334, L"bytes 666-999/1000", 334)};
  EXPECT_TRUE(DownloadComplete(plan, 1000, outcomes));
  // A whole-file 200 is no answer for a fragment in the middle.
  std::vector<TransferOutcome> whole_answer = outcomes;
  whole_answer[1] = Outcome(200, 1000, L"", 1000);
  EXPECT_FALSE(DownloadComplete(plan, 1000, whole_answer));
  // A worker that was never created (the window closed first) leaves it incomplete.
  outcomes.pop_back();
  EXPECT_FALSE(DownloadComplete(plan, 1000, outcomes));
}

TEST(TransferCheck, ZeroLengthResourceIsNeverComplete) {
  const std::vector<Fragment> plan = PlanFragments(0, 1);
  EXPECT_FALSE(DownloadComplete(plan, 0, {Outcome(200, 0, L"", 0)}));
  EXPECT_FALSE(DownloadComplete({}, 1000, {}));
  // A size request that announced nothing at all is no file, whatever the
  // GET then brought: a 206 with an unknown total passes every other check.
  const Fragment fragment{0, 999, 1000};
  const TransferOutcome ranged = Outcome(206, 1000, L"bytes 0-999/*", 1000);
  EXPECT_TRUE(DownloadComplete({fragment}, -1, {ranged}));
  EXPECT_FALSE(DownloadComplete({fragment}, 0, {ranged}));
}

}  // namespace
}  // namespace kelvora

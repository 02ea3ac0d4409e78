#include "download/fetch_files.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace kelvora {
namespace {

const std::wstring kUrl = L"https://a.example/f.exe";
const ResumePoint kKept{L"\"v1\"", 400, 1000};

// The steps taken, by name; the run is stopped once `stop_after` steps were
// taken (-1: never).
class FakeFiles : public FetchFiles {
 public:
  FakeFiles(bool kept, int stop_after) : kept_(kept), stop_after_(stop_after) {}
  void RemoveEarlierFile() override { steps.push_back("remove earlier"); }
  std::optional<ResumePoint> TakeKept(const std::wstring& url, std::int64_t size) override {
    EXPECT_EQ(url, kUrl);
    EXPECT_EQ(size, 1000);
    steps.push_back("take kept");
    return kept_ ? std::optional<ResumePoint>(kKept) : std::nullopt;
  }
  void CreateWorkingFile(std::int64_t size) override {
    EXPECT_EQ(size, 1000);
    steps.push_back("create working");
  }
  bool Stopped() const { return stop_after_ >= 0 && static_cast<int>(steps.size()) >= stop_after_; }

  std::vector<std::string> steps;

 private:
  bool kept_;
  int stop_after_;
};

struct PrepareCase {
  const char* name;
  bool kept;          // an earlier run kept bytes for the address
  bool may_continue;  // the plan lets the fetch go on from kept bytes
  int stop_after;     // the close comes after this many steps (-1: none)
  std::vector<std::string> steps;
  bool stopped;
  bool continued;
};

class PrepareTable : public ::testing::TestWithParam<PrepareCase> {};

TEST_P(PrepareTable, AStopBeforeAStepLeavesItAndEveryLaterOneUntaken) {
  const auto& c = GetParam();
  FakeFiles files(c.kept, c.stop_after);
  const PreparedFiles prepared = PrepareFetchFiles(files, [&] { return files.Stopped(); }, kUrl, 1000, c.may_continue);
  EXPECT_EQ(files.steps, c.steps);
  EXPECT_EQ(prepared.stopped, c.stopped);
  ASSERT_EQ(prepared.continue_from.has_value(), c.continued);
  if (c.continued) {
    EXPECT_EQ(prepared.continue_from->in_place, kKept.in_place);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, PrepareTable,
    ::testing::Values(
        PrepareCase{"nothing kept", false, true, -1, {"remove earlier", "take kept", "create working"}, false, false},
        PrepareCase{"kept bytes become the working file", true, true, -1, {"remove earlier", "take kept"}, false,
                    true},
        PrepareCase{"a plan of several fragments takes nothing kept", true, false, -1,
                    {"remove earlier", "create working"}, false, false},
        PrepareCase{"a close before the first step touches nothing", true, true, 0, {}, true, false},
        PrepareCase{"a close after the removal leaves the kept bytes", true, true, 1, {"remove earlier"}, true, false},
        PrepareCase{"a close after the removal creates no working file", false, false, 1, {"remove earlier"}, true,
                    false},
        PrepareCase{"a close after nothing was kept creates no working file", false, true, 2,
                    {"remove earlier", "take kept"}, true, false}),
    [](const ::testing::TestParamInfo<PrepareCase>& info) {
      std::string name;
      for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

TEST(StandingAfterFetch, WithoutAWorkerTheKeptBytesStandAsTheyWereTaken) {
  // A close after the kept bytes became the working file and before a worker
  // began: the keeper gets them back as kept, not an empty file to discard.
  const FetchProgress standing = StandingAfterFetch(kKept, nullptr);
  EXPECT_EQ(standing.reached.validator, kKept.validator);
  EXPECT_EQ(standing.reached.in_place, kKept.in_place);
  EXPECT_EQ(standing.reached.total, kKept.total);
  EXPECT_EQ(standing.further_requests, 0);

  const FetchProgress nothing = StandingAfterFetch(std::nullopt, nullptr);
  EXPECT_EQ(nothing.reached.in_place, 0);
  EXPECT_TRUE(nothing.reached.validator.empty());

  // A worker that ran says where the file stands, whatever was kept before.
  FetchProgress worker;
  worker.reached = ResumePoint{L"\"v2\"", 700, 1000};
  worker.further_requests = 2;
  const FetchProgress reported = StandingAfterFetch(kKept, &worker);
  EXPECT_EQ(reported.reached.validator, L"\"v2\"");
  EXPECT_EQ(reported.reached.in_place, 700);
  EXPECT_EQ(reported.further_requests, 2);
}

}  // namespace
}  // namespace kelvora

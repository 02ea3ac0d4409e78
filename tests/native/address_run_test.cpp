#include "download/address_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kelvora {
namespace {

TEST(DownloadAddresses, TheMainAddressFirstThenTheFallbacksInOrderEachOnce) {
  const wchar_t* const none[] = {nullptr};
  const wchar_t* const two[] = {L"https://b.example/f.exe", L"https://c.example/f.exe", nullptr};
  const wchar_t* const repeated[] = {L"https://b.example/f.exe", L"https://a.example/f.exe",
                                     L"https://b.example/f.exe", nullptr};
  using List = std::vector<std::wstring>;
  EXPECT_EQ(DownloadAddresses(L"https://a.example/f.exe", none), List{L"https://a.example/f.exe"});
  EXPECT_EQ(DownloadAddresses(L"https://a.example/f.exe", nullptr), List{L"https://a.example/f.exe"});
  EXPECT_EQ(DownloadAddresses(L"https://a.example/f.exe", two),
            (List{L"https://a.example/f.exe", L"https://b.example/f.exe", L"https://c.example/f.exe"}));
  EXPECT_EQ(DownloadAddresses(L"https://a.example/f.exe", repeated),
            (List{L"https://a.example/f.exe", L"https://b.example/f.exe"}));
}

// What each address does in a case: its size answer and how its fetch ends.
struct Behaviour {
  SizeAnswer size;
  FetchEnd fetch = FetchEnd::Failed;
  bool stop_after = false;  // the user closes while this address is tried
  bool stop_after_size = false;  // the user closes right after this address's size answer
};

const SizeAnswer kSized{true, true, false, 1000};
const SizeAnswer kNoSize{true, true, false, -1};   // refused, or busy beyond the budget
const SizeAnswer kDown{false, false, false, -1};   // no answer at all
const SizeAnswer kAnswerThenFailed{true, false, false, -1};  // e.g. a Retry-After above a minute
const SizeAnswer kStoppedInPause{true, false, true, -1};

struct RunCase {
  const char* name;
  std::vector<Behaviour> addresses;
  std::vector<std::string> steps;  // "size N" and "fetch N size" in order
  bool accepted;
  bool answered;
  std::size_t address;
};

class AddressRunTable : public ::testing::TestWithParam<RunCase> {};

TEST_P(AddressRunTable, EachAddressStartsWithItsSizeRequestAndGivesWayUntilOneGivesTheFile) {
  const auto& c = GetParam();
  std::vector<std::wstring> addresses;
  for (std::size_t i = 0; i < c.addresses.size(); ++i) addresses.push_back(L"https://m" + std::to_wstring(i) + L".example/f");
  std::vector<std::string> steps;
  bool stopped = false;
  auto index_of = [&](const std::wstring& url) {
    return static_cast<std::size_t>(std::find(addresses.begin(), addresses.end(), url) - addresses.begin());
  };
  AddressSteps fake;
  fake.stopped = [&] { return stopped; };
  fake.ask_size = [&](const std::wstring& url) {
    const std::size_t i = index_of(url);
    steps.push_back("size " + std::to_string(i));
    if (c.addresses[i].size.stopped || c.addresses[i].stop_after_size) stopped = true;
    return c.addresses[i].size;
  };
  fake.fetch = [&](const std::wstring& url, std::int64_t size, std::size_t index) {
    const std::size_t i = index_of(url);
    EXPECT_EQ(index, i);
    steps.push_back("fetch " + std::to_string(i) + " " + std::to_string(size));
    if (c.addresses[i].stop_after) stopped = true;
    return c.addresses[i].fetch;
  };
  const AddressRun run = TryAddresses(addresses, fake);
  EXPECT_EQ(steps, c.steps);
  EXPECT_EQ(run.accepted, c.accepted);
  EXPECT_EQ(run.answered, c.answered);
  EXPECT_EQ(run.address, c.address);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, AddressRunTable,
    ::testing::Values(
        RunCase{"one address that gives the file", {{kSized, FetchEnd::Accepted}}, {"size 0", "fetch 0 1000"}, true,
                true, 0},
        RunCase{"one address without a size still fetches", {{kNoSize, FetchEnd::Accepted}},
                {"size 0", "fetch 0 -1"}, true, true, 0},
        RunCase{"a primary that is down gives way", {{kDown}, {kSized, FetchEnd::Accepted}},
                {"size 0", "size 1", "fetch 1 1000"}, true, true, 1},
        RunCase{"a primary whose fetch fails gives way", {{kNoSize, FetchEnd::Failed}, {kSized, FetchEnd::Accepted}},
                {"size 0", "fetch 0 -1", "size 1", "fetch 1 1000"}, true, true, 1},
        RunCase{"a primary that fails after an answer gives way",
                {{kAnswerThenFailed}, {kSized, FetchEnd::Accepted}}, {"size 0", "size 1", "fetch 1 1000"}, true,
                true, 1},
        RunCase{"every address down: nothing answered", {{kDown}, {kDown}, {kDown}},
                {"size 0", "size 1", "size 2"}, false, false, 2},
        RunCase{"every address fails", {{kSized, FetchEnd::Failed}, {kSized, FetchEnd::Failed}},
                {"size 0", "fetch 0 1000", "size 1", "fetch 1 1000"}, false, true, 1},
        RunCase{"the first accepted file ends the run", {{kSized, FetchEnd::Accepted}, {kSized, FetchEnd::Accepted}},
                {"size 0", "fetch 0 1000"}, true, true, 0},
        RunCase{"a close during a fetch starts no further address",
                {{kSized, FetchEnd::Failed, true}, {kSized, FetchEnd::Accepted}}, {"size 0", "fetch 0 1000"}, false,
                true, 0},
        RunCase{"a stopped fetch starts no further address", {{kSized, FetchEnd::Stopped}, {kSized}},
                {"size 0", "fetch 0 1000"}, false, true, 0},
        RunCase{"a close during a size request's pause starts nothing more", {{kStoppedInPause}, {kSized}},
                {"size 0"}, false, true, 0},
        // The size answer came, and then the close: no fetch begins, so
        // nothing of the files (kept bytes among them) is touched.
        RunCase{"a close right after the size answer starts no fetch",
                {{kSized, FetchEnd::Accepted, false, true}, {kSized, FetchEnd::Accepted}}, {"size 0"}, false, true,
                0},
        RunCase{"a close right after a size answer without a size starts no fetch",
                {{kNoSize, FetchEnd::Accepted, false, true}}, {"size 0"}, false, true, 0}),
    [](const ::testing::TestParamInfo<RunCase>& info) {
      std::string name;
      for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

}  // namespace
}  // namespace kelvora

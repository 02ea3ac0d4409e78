#include "download/kept_download.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace kelvora {
namespace {

const std::wstring kUrl = L"https://vendor.example/fileadmin/Kelvora_Install.exe";
const KeptDownload kGood{kUrl, 500'000'000, L"\"v1\"", 400'000'000};

struct ContinueCase {
  const char* name;
  KeptDownload kept;
  std::wstring url;
  std::int64_t size;
  bool may_continue;
};

class KeptDownloadTable : public ::testing::TestWithParam<ContinueCase> {};

TEST_P(KeptDownloadTable, ContinuesOnlyTheSameVersionAtTheSameAddressAndSize) {
  const auto& c = GetParam();
  EXPECT_EQ(MayContinue(c.kept, c.url, c.size), c.may_continue);
}

KeptDownload With(std::wstring validator, std::int64_t length = kGood.length) {
  KeptDownload kept = kGood;
  kept.validator = std::move(validator);
  kept.length = length;
  return kept;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeptDownloadTable,
    ::testing::Values(
        ContinueCase{"the same address and size", kGood, kUrl, kGood.total, true},
        ContinueCase{"another address", kGood, L"https://mirror.example/fileadmin/Kelvora_Install.exe", kGood.total,
                     false},
        ContinueCase{"another size", kGood, kUrl, kGood.total + 1, false},
        ContinueCase{"no size", kGood, kUrl, -1, false},
        ContinueCase{"Last-Modified as the validator", With(L"Tue, 01 Dec 2026 10:00:00 GMT"), kUrl, kGood.total,
                     true},
        ContinueCase{"a weak ETag", With(L"W/\"v1\""), kUrl, kGood.total, false},
        ContinueCase{"a weak ETag in lower case", With(L"w/\"v1\""), kUrl, kGood.total, false},
        ContinueCase{"no validator", With(L""), kUrl, kGood.total, false},
        ContinueCase{"a validator with a line break", With(L"\"v1\"\r\nX-Evil: 1"), kUrl, kGood.total, false},
        ContinueCase{"a kept length beyond the size", With(L"\"v1\"", kGood.total + 1), kUrl, kGood.total, false},
        ContinueCase{"a kept length of the whole size", With(L"\"v1\"", kGood.total), kUrl, kGood.total, false},
        ContinueCase{"nothing kept", With(L"\"v1\"", 0), kUrl, kGood.total, false},
        ContinueCase{"a size above the limit", KeptDownload{kUrl, std::int64_t{5} << 30, L"\"v1\"", 100}, kUrl,
                     std::int64_t{5} << 30, false}),
    [](const ::testing::TestParamInfo<ContinueCase>& info) {
      std::string name;
      for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

TEST(KeptDownloadRecord, ReadsBackWhatItWrote) {
  const auto parsed = ParseKeptDownload(FormatKeptDownload(kGood));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->url, kGood.url);
  EXPECT_EQ(parsed->total, kGood.total);
  EXPECT_EQ(parsed->validator, kGood.validator);
  EXPECT_EQ(parsed->length, kGood.length);
}

TEST(KeptDownloadRecord, RefusesAnythingElse) {
  const std::string good = FormatKeptDownload(kGood);
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::string refused[] = {
      "",
      good.substr(0, good.size() - 1),                        // no last line break
      replaced("kelvora-kept-download 1", "kelvora-kept-download 2"),
      replaced("total=500000000", "total=-5"),
      replaced("total=500000000", "total=5e8"),
      replaced("length=400000000", "length=600000000"),      // beyond the total
      replaced("length=400000000", "length=0"),
      replaced("validator=\"v1\"", "validator=W/\"v1\""),
      replaced("validator=\"v1\"", "validator="),
      replaced("validator=\"v1\"", "validator=\"v1\"\r"),
      replaced("url=https://vendor.example", "url=not an address"),
      replaced("url=", "address="),
      good + "extra=1\n",
      good + std::string(9000, 'x') + "\n",
  };
  for (const auto& text : refused) EXPECT_FALSE(ParseKeptDownload(text)) << text;
}

}  // namespace
}  // namespace kelvora

namespace kelvora {
namespace {

// The facts a file's handle gives, as the platform reports them; rows that
// Wine cannot make (a reparse point at the kept name) run here with the
// facts faked.
TEST(KeptFile, OnlyARegularFileWithOneNameIsTakenOrWritten) {
  struct Row {
    const char* name;
    KeptFileFacts facts;
    bool own;
  } rows[] = {
      {"a regular file with one name", {false, false, 1}, true},
      {"a second hard link", {false, false, 2}, false},
      {"many hard links", {false, false, 1024}, false},
      {"no name left (being deleted)", {false, false, 0}, false},
      {"a symbolic link or other reparse point", {false, true, 1}, false},
      {"a reparse point with a second name", {false, true, 2}, false},
      {"a folder", {true, false, 1}, false},
      {"a junction", {true, true, 1}, false},
  };
  for (const auto& row : rows) EXPECT_EQ(OnlyItsOwnFile(row.facts), row.own) << row.name;
}

}  // namespace
}  // namespace kelvora

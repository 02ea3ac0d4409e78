#include "net/retry_after.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "net/http_date.h"

namespace kelvora::net {
namespace {

constexpr std::int64_t kNow = 1796119200;  // Tue, 01 Dec 2026 10:00:00 GMT

struct RetryAfterCase {
  const char* name;
  std::wstring retry_after;  // "" for no header
  std::wstring date;         // "" for no header
  std::optional<std::int64_t> seconds;
};

class RetryAfterTable : public ::testing::TestWithParam<RetryAfterCase> {};

TEST_P(RetryAfterTable, GivesTheSecondsToWaitOrNothing) {
  const auto& c = GetParam();
  HttpResponse response;
  response.status = 503;
  if (!c.retry_after.empty()) response.headers.emplace_back(L"Retry-After", c.retry_after);
  if (!c.date.empty()) response.headers.emplace_back(L"Date", c.date);
  EXPECT_EQ(RetryAfterSeconds(response, kNow), c.seconds) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RetryAfterTable,
    ::testing::Values(
        RetryAfterCase{"seconds", L"2", L"", 2},
        RetryAfterCase{"seconds with blanks", L" 120 ", L"", 120},
        RetryAfterCase{"zero", L"0", L"", 0},
        RetryAfterCase{"leading zeros", L"007", L"", 7},
        RetryAfterCase{"negative", L"-5", L"", std::nullopt},
        RetryAfterCase{"a plus sign", L"+5", L"", std::nullopt},
        RetryAfterCase{"a fraction", L"1.5", L"", std::nullopt},
        RetryAfterCase{"huge", L"99999999999999999999999", L"", kRetryAfterCeiling},
        RetryAfterCase{"just above the ceiling", L"1000000001", L"", kRetryAfterCeiling},
        RetryAfterCase{"garbage", L"soon", L"", std::nullopt},
        RetryAfterCase{"no header", L"", L"", std::nullopt},
        RetryAfterCase{"several values", L"2, 3", L"", std::nullopt},
        RetryAfterCase{"a date against the Date", L"Tue, 01 Dec 2026 10:00:30 GMT", L"Tue, 01 Dec 2026 09:00:00 GMT",
                       3630},
        RetryAfterCase{"a date without a Date: against now", L"Tue, 01 Dec 2026 10:00:30 GMT", L"", 30},
        RetryAfterCase{"a date with an unreadable Date: against now", L"Tue, 01 Dec 2026 10:00:30 GMT", L"yesterday",
                       30},
        RetryAfterCase{"a date in the past", L"Tue, 01 Dec 2026 09:59:00 GMT", L"", 0},
        RetryAfterCase{"a date far ahead", L"Fri, 31 Dec 9999 23:59:59 GMT", L"", kRetryAfterCeiling},
        RetryAfterCase{"the obsolete date form", L"Tuesday, 01-Dec-26 10:01:00 GMT", L"", 60},
        RetryAfterCase{"the asctime form", L"Tue Dec  1 10:02:00 2026", L"", 120},
        RetryAfterCase{"two dates", L"Tue, 01 Dec 2026 10:00:30 GMT, Tue, 01 Dec 2026 10:00:40 GMT", L"",
                       std::nullopt},
        RetryAfterCase{"a date in another zone", L"Tue, 01 Dec 2026 10:00:30 CET", L"", std::nullopt}),
    [](const ::testing::TestParamInfo<RetryAfterCase>& info) {
      std::string name;
      for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

struct DateCase {
  std::wstring text;
  std::optional<std::int64_t> seconds;
};

TEST(HttpDate, ReadsTheThreeFormsAndRefusesTheRest) {
  const DateCase cases[] = {
      {L"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {L"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
      {L"Sun Nov  6 08:49:37 1994", 784111777},
      {L"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {L"Thu, 29 Feb 2024 12:00:00 GMT", 1709208000},
      {L"Wednesday, 01-Jan-25 00:00:00 GMT", 1735689600},
      // The two-digit year's cut-off: 70 is the first year of 19xx, 69 the last of 20xx.
      {L"Thursday, 01-Jan-70 00:00:00 GMT", 0},
      {L"Tuesday, 31-Dec-69 00:00:00 GMT", 3155673600},
      {L"Wed, 01-Jan-25 00:00:00 GMT", std::nullopt},
      {L"Sat, 29 Feb 2025 12:00:00 GMT", std::nullopt},  // not a leap year
      {L"Sun, 31 Apr 2026 12:00:00 GMT", std::nullopt},
      {L"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
      {L"Sun, 06 Nov 1994 08:60:00 GMT", std::nullopt},
      {L"Wed, 31 Dec 1969 23:59:59 GMT", std::nullopt},
      {L"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
      {L"Sun, 06 nov 1994 08:49:37 GMT", std::nullopt},
      {L"Sun, 06 Nov 1994 08:49:37 GMT trailing", std::nullopt},
      {L"Sun, 06 Nov 1994 08:49:37", std::nullopt},
      {L"", std::nullopt},
      {L"1994-11-06T08:49:37Z", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseHttpDate(c.text), c.seconds) << std::string(c.text.begin(), c.text.end());
}

}  // namespace
}  // namespace kelvora::net

#include "download/retry_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kelvora {
namespace {

struct PauseCase {
  int attempt;
  std::uint32_t draw;
  long long milliseconds;
};

TEST(BackoffPause, DrawsFromTheUpperHalfOfEachStep) {
  const PauseCase cases[] = {
      {1, 0, 500},        {1, 0xFFFFFFFF, 1000},  {1, 0x80000000, 750},
      {2, 0, 1000},       {2, 0xFFFFFFFF, 2000},  {3, 0, 2000},
      {3, 0xFFFFFFFF, 4000}, {4, 0, 4000},        {5, 0xFFFFFFFF, 16000},
      {6, 0, 15000},      {6, 0xFFFFFFFF, 30000}, {7, 0, 15000},
      {20, 0xFFFFFFFF, 30000}, {0, 0, 500},       {-3, 0xFFFFFFFF, 1000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BackoffPause(c.attempt, [&] { return c.draw; }).count(), c.milliseconds)
        << "attempt " << c.attempt << ", draw " << c.draw;
}

TEST(BackoffPause, WithoutADrawEachPauseIsTheTopOfItsStep) {
  std::vector<long long> pauses;
  for (int attempt = 1; attempt <= 8; ++attempt) pauses.push_back(BackoffPause(attempt, nullptr).count());
  EXPECT_EQ(pauses, (std::vector<long long>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
}

TEST(BackoffPause, EveryDrawStaysWithinItsStep) {
  // A spread of draws over the whole range, each step's bounds held.
  for (int attempt = 1; attempt <= 8; ++attempt) {
    const long long top = BackoffPause(attempt, nullptr).count();
    for (std::uint64_t draw = 0; draw <= 0xFFFFFFFFu; draw += 0x0FFFFFFF) {
      const long long pause = BackoffPause(attempt, [&] { return static_cast<std::uint32_t>(draw); }).count();
      EXPECT_GE(pause, top / 2);
      EXPECT_LE(pause, top);
    }
  }
}

TEST(RetryRules, BusyStatusesAreTheFiveThatMayPass) {
  for (int status = 100; status < 600; ++status) {
    const bool busy = status == 408 || status == 429 || status == 502 || status == 503 || status == 504;
    EXPECT_EQ(IsBusyStatus(status), busy) << status;
  }
}

struct FailureCase {
  net::HttpError::Kind kind;
  std::uint32_t number;
  bool retryable;
};

TEST(RetryRules, OnlyFailuresOfTheConnectionAreAskedAgain) {
  using Kind = net::HttpError::Kind;
  const FailureCase cases[] = {
      {Kind::Client, 12029, true},        // cannot connect
      {Kind::Client, 12002, true},        // time-out
      {Kind::Client, 12030, true},        // connection ended
      {Kind::Client, 10060, true},        // socket time-out (Wine)
      {Kind::Client, 12007, true},        // name not resolved
      {Kind::Response, 12030, true},      // broke off in the body
      {Kind::Header, 12150, true},
      {Kind::Client, 12157, false},       // secure channel
      {Kind::Client, 12175, false},       // secure failure, channel only
      {Kind::Certificate, 12175, false},  // bad certificate
      {Kind::Certificate, 12044, false},
      {Kind::Client, 12017, false},       // cancelled: the run was stopped
      {Kind::Request, 0, false},          // redirect limit, set-up
      {Kind::Url, 0, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsRetryableFailure(net::HttpError(c.kind, L"x", c.number)), c.retryable)
        << static_cast<int>(c.kind) << " " << c.number;
}

TEST(RetryRules, ABusyPauseIsTheRetryAfterOrTheBackoffAndNothingAboveAMinute) {
  const RetryRules rules{3, [] { return 0u; }, [] { return std::int64_t{1796119200}; }};
  net::HttpResponse response;
  response.status = 503;
  EXPECT_EQ(BusyPause(response, 2, rules), std::chrono::milliseconds(1000));
  response.headers = {{L"Retry-After", L"7"}};
  EXPECT_EQ(BusyPause(response, 2, rules), std::chrono::milliseconds(7000));
  response.headers = {{L"Retry-After", L"60"}};
  EXPECT_EQ(BusyPause(response, 2, rules), std::chrono::milliseconds(60000));
  response.headers = {{L"Retry-After", L"61"}};
  EXPECT_EQ(BusyPause(response, 2, rules), std::nullopt);
  response.headers = {{L"Retry-After", L"Tue, 01 Dec 2026 10:00:05 GMT"}};
  EXPECT_EQ(BusyPause(response, 2, rules), std::chrono::milliseconds(5000));
  response.headers = {{L"Retry-After", L"Tue, 01 Dec 2026 11:00:00 GMT"}};
  EXPECT_EQ(BusyPause(response, 2, rules), std::nullopt);
  response.headers = {{L"Retry-After", L"garbage"}};
  EXPECT_EQ(BusyPause(response, 3, rules), std::chrono::milliseconds(2000));
}

}  // namespace
}  // namespace kelvora

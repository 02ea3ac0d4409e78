#include "download/next_step.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kelvora {
namespace {

// How each request's end is sorted, the same for a HEAD and a GET.
TEST(NextStep, ClassifiesEachEndTheSameForBothKinds) {
  struct Row {
    const char* name;
    RequestFacts facts;
    Ending ending;
  };
  const auto facts = [](std::int32_t status, Failure failure = Failure::None) {
    RequestFacts f;
    f.retrying = true;
    f.status = status;
    f.failure = failure;
    return f;
  };
  const auto with = [](RequestFacts f, auto change) {
    change(f);
    return f;
  };
  const Row rows[] = {
      {"a 200 that came whole", facts(200), Ending::Complete},
      {"a 206 that came whole", facts(206), Ending::Complete},
      {"a 2xx whose body broke off", facts(206, Failure::MayPass), Ending::BrokeOff},
      {"a 2xx whose body ended short", with(facts(200), [](auto& f) { f.body_short = true; }), Ending::BrokeOff},
      {"a 2xx whose body failed for good", facts(200, Failure::Lasting), Ending::FailsAgain},
      {"503", facts(503), Ending::Busy},
      {"429 whose page broke off", facts(429, Failure::MayPass), Ending::Busy},
      {"503 asking for too long", with(facts(503), [](auto& f) { f.pause_too_long = true; }), Ending::BusyTooLong},
      {"503 in a build that does not ask again", with(facts(503), [](auto& f) { f.retrying = false; }),
       Ending::FinalAnswer},
      {"no connection", facts(0, Failure::MayPass), Ending::NoResponse},
      {"a certificate error", facts(0, Failure::Lasting), Ending::FailsAgain},
      {"404", facts(404), Ending::FinalAnswer},
      {"500 whose page broke off", facts(500, Failure::MayPass), Ending::FinalAnswer},
      {"416 that ended short", with(facts(416), [](auto& f) { f.body_short = true; }), Ending::FinalAnswer},
      {"a 3xx that is the answer", facts(304), Ending::FinalAnswer},
      {"a 206 for another part", with(facts(206), [](auto& f) { f.continues = false; }), Ending::NotContinuing},
      {"a 200 where bytes are in place", with(facts(200), [](auto& f) { f.continues = false; }),
       Ending::NotContinuing},
      {"a progress handler's abort", with(facts(206), [](auto& f) { f.stopped = true; }), Ending::Stopped},
      {"a cancelled call", facts(0, Failure::Cancelled), Ending::Stopped},
      {"a cancelled read", facts(206, Failure::Cancelled), Ending::Stopped},
  };
  for (const auto& row : rows) EXPECT_EQ(ClassifyEnding(row.facts), row.ending) << row.name;
}

TEST(NextStep, ACancelledCallIsAStopAndACertificateFailsAgain) {
  EXPECT_EQ(FailureOf(net::HttpError(net::HttpError::Kind::Response, L"x", 12017)), Failure::Cancelled);
  EXPECT_EQ(FailureOf(net::HttpError(net::HttpError::Kind::Response, L"x", 12030)), Failure::MayPass);
  EXPECT_EQ(FailureOf(net::HttpError(net::HttpError::Kind::Client, L"x", 12157)), Failure::Lasting);
  EXPECT_EQ(FailureOf(net::HttpError(net::HttpError::Kind::Certificate, L"x", 12175)), Failure::Lasting);
}

// The table as a reader would write it down; an empty field stands for any
// value. Attempts left: 0, or some (1 stands for any number above 0).
struct Row {
  Ending ending;
  std::optional<RequestKind> kind;
  std::optional<int> attempts_left;
  std::optional<InPlace> in_place;
  NextStep step;
};

using E = Ending;
using K = RequestKind;
using P = InPlace;
using S = NextStep;
constexpr auto kAny = std::nullopt;

const Row kTable[] = {
    {E::Complete, kAny, kAny, kAny, S::Done},
    {E::Stopped, kAny, kAny, kAny, S::EndRun},
    {E::FailsAgain, kAny, kAny, kAny, S::GiveUp},
    {E::BusyTooLong, kAny, kAny, kAny, S::GiveUp},
    {E::FinalAnswer, K::Size, kAny, kAny, S::Done},  // the GET goes without a size
    {E::FinalAnswer, K::Get, kAny, kAny, S::GiveUp},
    {E::Busy, kAny, 1, kAny, S::AskAgain},
    {E::Busy, K::Size, 0, kAny, S::Done},  // the GET goes without a size
    {E::Busy, K::Get, 0, kAny, S::GiveUp},
    {E::NoResponse, kAny, 1, kAny, S::AskAgain},
    {E::NoResponse, kAny, 0, kAny, S::GiveUp},
    {E::BrokeOff, K::Size, 1, kAny, S::AskAgain},  // a HEAD that broke off got no answer
    {E::BrokeOff, K::Size, 0, kAny, S::GiveUp},
    {E::BrokeOff, K::Get, 1, P::Continuable, S::ContinueFromK},
    {E::BrokeOff, K::Get, 1, P::Stuck, S::GiveUp},
    {E::BrokeOff, K::Get, 1, P::Nothing, S::GiveUp},
    {E::BrokeOff, K::Get, 0, kAny, S::GiveUp},
    {E::NotContinuing, K::Size, kAny, kAny, S::GiveUp},
    {E::NotContinuing, K::Get, kAny, P::Nothing, S::GiveUp},  // the same request would get the same answer
    {E::NotContinuing, K::Get, 1, P::Continuable, S::StartOver},
    {E::NotContinuing, K::Get, 1, P::Stuck, S::StartOver},
    {E::NotContinuing, K::Get, 0, P::Continuable, S::GiveUp},
    {E::NotContinuing, K::Get, 0, P::Stuck, S::GiveUp},
};

const char* Name(E e) {
  switch (e) {
    case E::Complete: return "Complete";
    case E::BrokeOff: return "BrokeOff";
    case E::Busy: return "Busy";
    case E::BusyTooLong: return "BusyTooLong";
    case E::NoResponse: return "NoResponse";
    case E::FailsAgain: return "FailsAgain";
    case E::FinalAnswer: return "FinalAnswer";
    case E::NotContinuing: return "NotContinuing";
    case E::Stopped: return "Stopped";
  }
  return "?";
}

TEST(NextStep, EveryCellOfTheTableHoldsAndEachIsWrittenDownOnce) {
  const Ending endings[] = {E::Complete,   E::BrokeOff,    E::Busy,          E::BusyTooLong, E::NoResponse,
                            E::FailsAgain, E::FinalAnswer, E::NotContinuing, E::Stopped};
  int cells = 0;
  for (const Ending ending : endings) {
    for (const K kind : {K::Size, K::Get}) {
      // 3 and 20 stand for "some" as 1 does.
      for (const int left : {0, 1, 3, 20}) {
        for (const P in_place : {P::Nothing, P::Continuable, P::Stuck}) {
          std::vector<const Row*> matches;
          for (const Row& row : kTable) {
            if (row.ending == ending && (!row.kind || *row.kind == kind) &&
                (!row.attempts_left || (*row.attempts_left > 0) == (left > 0)) &&
                (!row.in_place || *row.in_place == in_place))
              matches.push_back(&row);
          }
          const std::string cell = std::string(Name(ending)) + (kind == K::Size ? " size" : " GET") + " left " +
                                   std::to_string(left) + " in place " + std::to_string(static_cast<int>(in_place));
          ASSERT_EQ(matches.size(), 1u) << cell;
          EXPECT_EQ(DecideNextStep(ending, kind, left, in_place), matches.front()->step) << cell;
          ++cells;
        }
      }
    }
  }
  EXPECT_EQ(cells, 9 * 2 * 4 * 3);
}

}  // namespace
}  // namespace kelvora

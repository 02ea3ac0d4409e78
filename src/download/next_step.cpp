#include "download/next_step.h"

#include "download/retry_rules.h"

namespace kelvora {

namespace {

constexpr std::uint32_t kOperationCancelled = 12017;

}  // namespace

Failure FailureOf(const net::HttpError& error) {
  if (error.error_number() == kOperationCancelled) return Failure::Cancelled;
  return IsRetryableFailure(error) ? Failure::MayPass : Failure::Lasting;
}

Ending ClassifyEnding(const RequestFacts& facts) {
  if (facts.stopped || facts.failure == Failure::Cancelled) return Ending::Stopped;
  if (facts.status == 0) return facts.failure == Failure::MayPass ? Ending::NoResponse : Ending::FailsAgain;
  if (facts.status >= 300) {
    // The status is the answer: what its page did afterwards changes nothing.
    if (facts.retrying && IsBusyStatus(facts.status)) return facts.pause_too_long ? Ending::BusyTooLong : Ending::Busy;
    return Ending::FinalAnswer;
  }
  if (!facts.continues) return Ending::NotContinuing;
  if (facts.failure == Failure::Lasting) return Ending::FailsAgain;
  if (facts.failure == Failure::MayPass || facts.body_short) return Ending::BrokeOff;
  return Ending::Complete;
}

NextStep DecideNextStep(Ending ending, RequestKind kind, int attempts_left, InPlace in_place) {
  const bool attempt_left = attempts_left > 0;
  const bool size = kind == RequestKind::Size;
  switch (ending) {
    case Ending::Complete:
      return NextStep::Done;
    case Ending::Stopped:
      return NextStep::EndRun;
    case Ending::FailsAgain:
    case Ending::BusyTooLong:
      return NextStep::GiveUp;
    case Ending::FinalAnswer:
      // A size request's answer of any status lets the GET go without a size.
      return size ? NextStep::Done : NextStep::GiveUp;
    case Ending::Busy:
      if (attempt_left) return NextStep::AskAgain;
      return size ? NextStep::Done : NextStep::GiveUp;
    case Ending::NoResponse:
      return attempt_left ? NextStep::AskAgain : NextStep::GiveUp;
    case Ending::BrokeOff:
      // A HEAD has no body: one that broke off got no answer.
      if (size) return attempt_left ? NextStep::AskAgain : NextStep::GiveUp;
      return attempt_left && in_place == InPlace::Continuable ? NextStep::ContinueFromK : NextStep::GiveUp;
    case Ending::NotContinuing:
      // Another version, or another part: what is in place is of no use, and
      // a fresh request from the first byte is the way on. With nothing in
      // place the server answered the very request it would be asked again.
      if (size || in_place == InPlace::Nothing) return NextStep::GiveUp;
      return attempt_left ? NextStep::StartOver : NextStep::GiveUp;
  }
  return NextStep::GiveUp;
}

}  // namespace kelvora

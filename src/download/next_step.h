#pragma once
// What an answer means and what comes next: one table for the size request
// and the GET. Each request's end is sorted into an Ending, the same way for
// both kinds; DecideNextStep then picks the next step from that class, the
// kind of request, the attempts left and what is in place.

#include <cstdint>

#include "net/http_error.h"

namespace kelvora {

// How a failed exchange failed, as far as asking again goes.
enum class Failure {
  None,       // the exchange returned
  MayPass,    // another try may not meet it (IsRetryableFailure)
  Lasting,    // another try would meet it again: certificates, the secure channel, addresses, set-up
  Cancelled,  // the call was cancelled: the run was stopped
};
Failure FailureOf(const net::HttpError& error);

// What one request showed when it ended.
struct RequestFacts {
  bool retrying = false;        // the build asks busy and unreachable servers again
  bool stopped = false;         // a progress handler ended the body (the run was stopped)
  std::int32_t status = 0;      // the final response's status; 0 when none came
  bool continues = true;        // a 2xx: it continues what is in place, or starts where it was asked to
  bool body_short = false;      // a 2xx: its body ended before the length it announced
  bool pause_too_long = false;  // a busy answer asked for more than kLongestRetryAfter
  Failure failure = Failure::None;
};

enum class Ending {
  Complete,       // a 2xx whose body (none for a HEAD) came whole
  BrokeOff,       // a 2xx whose body broke off after some bytes, or ended short
  Busy,           // a busy answer (IsBusyStatus) with a pause that may be waited
  BusyTooLong,    // a busy answer asking for more than kLongestRetryAfter
  NoResponse,     // no response at all, for a failure another try may not meet
  FailsAgain,     // a failure another try would meet again
  FinalAnswer,    // any other status of 300 or more (404, 500, ...), whatever its body did
  NotContinuing,  // a 2xx that does not continue what is in place: none of it is read
  Stopped,        // the run was stopped
};
// A busy status is busy only for a build that asks again; without attempts
// it is an answer like any other.
Ending ClassifyEnding(const RequestFacts& facts);

enum class RequestKind { Size, Get };

// What lies in the file from the fragment's first byte on, after the request.
enum class InPlace {
  Nothing,      // no bytes of any version
  Continuable,  // bytes of a version whose rest can be asked for with If-Range
  Stuck,        // bytes of a version that cannot be continued (no validator, or nothing left to ask for)
};

enum class NextStep {
  Done,           // the answer is taken: the body is whole, or (size request) the GET goes on with what it said
  AskAgain,       // the same request once more, after a pause
  ContinueFromK,  // the rest from the first missing byte, with If-Range
  StartOver,      // the fragment from its first byte, without If-Range; nothing in place counts any more
  GiveUp,         // the address has no file for this run: the next one may
  EndRun,         // the run was stopped: nothing more starts
};

// The whole table; `attempts_left` is the further requests of this kind the
// address may still make.
NextStep DecideNextStep(Ending ending, RequestKind kind, int attempts_left, InPlace in_place);

}  // namespace kelvora

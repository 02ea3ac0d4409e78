#pragma once
// One worker's transfer: the ranged GET of its fragment into the working
// file, and, when the build allows it, picking up where a dropped connection
// left off instead of starting again from zero.

#include <optional>
#include <string>

#include "net/http_client.h"
#include "net/target_stream.h"
#include "download/fragment.h"
#include "download/retry_rules.h"
#include "download/transfer_check.h"

namespace kelvora {

// The validator a resumed request sends in If-Range: the response's strong
// ETag, else its Last-Modified; "" when it has neither (weak ETags never
// prove that two bodies are byte for byte the same).
std::wstring ResumeValidator(const net::HttpResponse& response);

// Where a fragment's transfer stands: the bytes in place from the
// fragment's first byte, all of the version `validator` names (its
// ResumeValidator, "" when it has none) of a resource of `total` bytes (-1
// when unknown).
struct ResumePoint {
  std::wstring validator;
  std::int64_t in_place = 0;
  std::int64_t total = -1;
};

struct FetchRequest {
  std::wstring url;
  Fragment fragment;
  // Further GETs allowed after the first (resumes, start-overs, busy
  // answers and failed connections share them), the draw of their pauses
  // and the clock a Retry-After date is read against; no attempts keeps to
  // one GET.
  RetryRules retries;
  // Bytes an earlier run left in place: the first GET then asks for the
  // rest with If-Range, as a resume does. Only for a fragment of known
  // length whose total it names.
  std::optional<ResumePoint> continue_from = std::nullopt;
};

// What a fetch got to, however it ended (a throw included): the bytes of one
// version in place, and the further GETs it made.
struct FetchProgress {
  ResumePoint reached;
  int further_requests = 0;
  // The bytes in place went on from bytes an earlier run kept
  // (FetchRequest::continue_from): nothing started the fragment over.
  bool holds_kept_bytes = false;
};

// After the publisher check refused the file that a fetch given `attempts`
// finished as `made` says: the attempts of the one download from byte 0
// that follows, at the cost of a GET of the budget, or nothing when none
// follows. Only a file that held kept bytes is fetched again (they may have
// been changed between the runs); a file fetched from byte 0 would be the
// same refused file once more.
std::optional<int> AttemptsForRefetch(const FetchProgress& made, int attempts);

// Fetches `request.fragment` into `file`, from the fragment's first byte on,
// with a GET for the fragment's range through `client` (whose handlers this
// sets). The progress handler gets every notification counted over the
// fragment: the first response's content length, and the bytes in place
// from the fragment's start.
//
// Each GET's end is classified and the next step decided by the one table
// of next_step.h, as the size request's is. A page of 300 or more is never
// read, so no such page reaches the file. With attempts (further GETs,
// shared by every step below):
// - A 200 or 206 that carried a validator and then broke off (a transport
//   failure, or a body shorter than announced) is followed, after
//   BackoffPause, by a GET for the missing rest with If-Range. Its 206 must
//   start at the first missing byte, end and total as the first response did
//   and carry the same validator.
// - A 2xx that does not continue the bytes in place (a 200, another part,
//   another version's 206 from a server that ignores If-Range), whether they
//   came in this fetch or were kept by an earlier run, is not read: the
//   fragment starts over from its first byte with the next GET, and the
//   bytes in place no longer count (FetchProgress never reports them again).
//   The file never holds bytes of two versions.
// - A busy answer (IsBusyStatus) is asked again after BusyPause, or ends the
//   fetch at once when it asks for longer than kLongestRetryAfter; a GET that
//   got no response at all for a failure that another try may not meet
//   (IsRetryableFailure) is asked again after BackoffPause.
// Any other status of 300 or more (404, 500, 416 to a resume, ...) ends the
// fetch as the answer at once, whatever its body did.
//
// Returns the outcome as if one response had brought what is in place; a
// failure with no attempt left (or that allows none) is thrown, as is any
// file error. A progress handler's abort or a stop during a wait ends it
// at once with an aborted outcome.
// When `progress_made` is given, it says at the end, however the fetch ended,
// where the fragment stands (FetchProgress).
TransferOutcome FetchFragment(net::HttpClient& client, const FetchRequest& request, net::TargetStream& file,
                              const net::HttpClient::ReceiveDataHandler& progress, const WaitUnlessStopped& wait,
                              FetchProgress* progress_made = nullptr);

}  // namespace kelvora

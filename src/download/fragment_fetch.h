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
  // Further GETs allowed after the first (resumes, busy answers and failed
  // connections share them), the draw of their pauses and the clock a
  // Retry-After date is read against; no attempts keeps to one GET.
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
};

// Fetches `request.fragment` into `file`, from the fragment's first byte on,
// with a GET for the fragment's range through `client` (whose handlers this
// sets). The progress handler gets every notification counted over the
// fragment: the first response's content length, and the bytes in place
// from the fragment's start.
//
// With attempts, a GET whose 200 or 206 response carried a validator and
// then ended by a transport failure or before the length it announced is
// followed, after BackoffPause, by a GET for the missing rest with If-Range.
// Its 206 must start at the first missing byte, end and total as the first
// response did and carry the same validator; a 200 instead (the file
// changed, or ranges are not served) reads nothing and starts the fragment
// over from its first byte with the next attempt; any other answer ends the
// fetch as it stands. The file never holds bytes of two versions.
// With attempts too, a busy answer (IsBusyStatus; its body is never written)
// is asked again after BusyPause, or ends the fetch at once when it asks for
// longer than kLongestRetryAfter, and a GET that got no response for a
// failure that another try may not meet (IsRetryableFailure) is asked again
// after BackoffPause.
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

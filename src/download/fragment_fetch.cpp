#include "download/fragment_fetch.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "common/text.h"
#include "download/next_step.h"

namespace kelvora {

namespace {

// What the response that began the fragment's current version said of it;
// a resumed request must fit it exactly.
struct Version {
  std::int32_t status = 0;
  std::wstring content_range;
  std::int64_t content_length = -1;
  std::wstring validator;
  std::int64_t body_length = -1;  // the bytes this body should bring, -1 when unknown
  std::int64_t total = -1;        // the resource's size, -1 when unknown
  std::int64_t last = -1;         // the last byte this body should reach, -1 when unknown

  // The version of bytes an earlier run left: as if a 206 for the whole
  // fragment had begun it.
  Version(const ResumePoint& point, const Fragment& fragment) {
    status = 206;
    total = point.total;
    last = fragment.end;
    body_length = fragment.length;
    content_length = fragment.length;
    content_range = L"bytes " + std::to_wstring(fragment.start) + L"-" + std::to_wstring(fragment.end) + L"/" +
                    std::to_wstring(point.total);
    validator = point.validator;
  }

  Version(const net::HttpResponse& response, const Fragment& fragment) {
    status = response.status;
    content_range = response.Header(L"Content-Range");
    content_length = response.content_length;
    validator = ResumeValidator(response);
    if (status == 200) {
      body_length = content_length;
      total = content_length;
    } else if (status == 206) {
      ContentRange range;
      if (ParseContentRange(content_range, range)) {
        body_length = range.last - range.first + 1;
        total = range.total;
      }
    }
    last = fragment.end >= 0 ? fragment.end : (total >= 0 ? total - 1 : -1);
  }

  // Whether the rest from `first_missing` on can be asked for and checked.
  bool Resumable(std::int64_t first_missing) const {
    return (status == 200 || status == 206) && !validator.empty() && last >= 0 && first_missing <= last;
  }

  // A resumed response carries exactly the rest of this version. Its own
  // validator must be the same: a server that ignores If-Range answers a
  // changed file's range with a 206 as well.
  bool Continues(const net::HttpResponse& response, std::int64_t first_missing) const {
    ContentRange range;
    return response.status == 206 && ParseContentRange(response.Header(L"Content-Range"), range) &&
           range.first == first_missing && range.last == last && range.total == total &&
           ResumeValidator(response) == validator;
  }
};

// Whether a 2xx to a request with nothing in place starts where it was
// asked to: a 200 brings the file from its first byte, a 206 names its range.
bool Starts(const net::HttpResponse& response, std::int64_t from) {
  if (response.status != 206) return from == 0;
  ContentRange range;
  return ParseContentRange(response.Header(L"Content-Range"), range) && range.first == from;
}

// The outcome as if one response of `version` had brought what is in place.
TransferOutcome VersionOutcome(const Version& version, std::int64_t in_place) {
  TransferOutcome outcome;
  outcome.ended_normally = true;
  outcome.status = version.status;
  outcome.content_range = version.content_range;
  outcome.content_length = version.content_length;
  outcome.bytes_written = in_place;
  return outcome;
}

}  // namespace

std::wstring ResumeValidator(const net::HttpResponse& response) {
  const std::wstring etag = TrimBlanks(response.Header(L"ETag"));
  if (etag.size() >= 2 && etag.front() == L'"' && etag.back() == L'"') return etag;
  return TrimBlanks(response.Header(L"Last-Modified"));
}

std::optional<int> AttemptsForRefetch(const FetchProgress& made, int attempts) {
  const int left = attempts - made.further_requests;
  if (!made.holds_kept_bytes || left < 1) return std::nullopt;
  return left - 1;
}

TransferOutcome FetchFragment(net::HttpClient& client, const FetchRequest& request, net::TargetStream& file,
                              const net::HttpClient::ReceiveDataHandler& progress, const WaitUnlessStopped& wait,
                              FetchProgress* progress_made) {
  const Fragment& fragment = request.fragment;
  const RetryRules& retries = request.retries;
  std::optional<Version> version;  // empty until a 2xx response began the body
  std::int64_t in_place = 0;       // bytes of the current version from the fragment's start
  bool kept_bytes = false;         // the version in place began in an earlier run
  int attempts_used = 0;
  if (request.continue_from && fragment.length >= 0 && request.continue_from->in_place < fragment.length) {
    version.emplace(*request.continue_from, fragment);
    in_place = request.continue_from->in_place;
    kept_bytes = true;
  }
  // Tells the caller where the fragment stands, on every way out.
  struct Report {
    FetchProgress* out;
    const std::optional<Version>& version;
    const std::int64_t& in_place;
    const bool& kept_bytes;
    const int& attempts_used;
    ~Report() {
      if (!out) return;
      out->reached = version ? ResumePoint{version->validator, in_place, version->total} : ResumePoint{};
      out->further_requests = attempts_used;
      out->holds_kept_bytes = version && kept_bytes;
    }
  } report{progress_made, version, in_place, kept_bytes, attempts_used};
  // What an earlier request left beyond the bytes in place goes before the next one.
  const std::int64_t prepared_size = file.Size();

  for (;;) {
    // Ask: for the rest of the version in place with If-Range, or for the
    // fragment from its first byte.
    const bool resuming = version.has_value();
    const std::int64_t from = fragment.start + in_place;
    const std::int64_t base = in_place;
    RequestFacts facts;
    facts.retrying = retries.attempts > 0;
    std::optional<net::HttpResponse> began;  // the 2xx response, once its headers are in
    std::int64_t received = 0;

    client.SetResponseHandler([&](const net::HttpResponse& response, bool& abort) {
      // No page of 300 or more is the file (a busy one, an error page, a
      // redirect's note): none of it is read, so what it does after its
      // status changes nothing.
      if (response.status >= 300) {
        abort = true;
        return;
      }
      began = response;
      facts.continues = resuming ? version->Continues(response, from) : Starts(response, from);
      if (!facts.continues) abort = true;
    });
    client.SetReceiveDataHandler([&](const void* sender, std::int64_t content_length, std::int64_t read_count,
                                     bool& abort) {
      received = read_count;
      // A resumed body goes on counting where the first one broke off.
      if (resuming) content_length = version->content_length == 0 ? -1 : version->content_length;
      if (progress) progress(sender, content_length, base + read_count, abort);
      facts.stopped = abort;
    });

    net::HeaderList headers;
    if (resuming) headers.emplace_back(L"If-Range", version->validator);
    file.SetSize(fragment.length >= 0 ? prepared_size : from);
    file.Seek(from);
    std::exception_ptr failure;
    net::HttpResponse response;
    try {
      response = client.GetRange(request.url, from, fragment.end, file, headers);
    } catch (const net::HttpError& error) {
      failure = std::current_exception();
      facts.failure = FailureOf(error);
    }

    // Classify. What a 2xx that continues brought counts as in place,
    // however the request ended.
    if (began && facts.continues) {
      if (!resuming) version.emplace(*began, fragment);
      in_place = base + received;
      facts.body_short = version->body_length >= 0 && in_place < version->body_length;
    }
    // Only a 2xx can be followed by a failure: no other page is read.
    facts.status = began ? began->status : failure ? 0 : response.status;
    std::optional<std::chrono::milliseconds> busy_pause;
    if (facts.retrying && !began && !failure && IsBusyStatus(response.status)) {
      busy_pause = BusyPause(response, attempts_used + 1, retries);
      facts.pause_too_long = !busy_pause;
    }
    const Ending ending = ClassifyEnding(facts);

    // Decide.
    const InPlace standing = !version                                          ? InPlace::Nothing
                             : version->Resumable(fragment.start + in_place) ? InPlace::Continuable
                                                                              : InPlace::Stuck;
    const NextStep step = DecideNextStep(ending, RequestKind::Get, retries.attempts - attempts_used, standing);

    // Act. Bytes that the answer does not continue are of no use from here,
    // whatever comes next: they are never reported as in place again.
    if (ending == Ending::NotContinuing) {
      version.reset();
      in_place = 0;  // for an open fragment, the file is cut back to its start: nothing of the old version stays
      kept_bytes = false;
    }
    TransferOutcome outcome;
    switch (step) {
      case NextStep::Done:
        return version ? VersionOutcome(*version, in_place) : outcome;
      case NextStep::EndRun:
        if (failure) std::rethrow_exception(failure);
        outcome.aborted = true;
        outcome.bytes_written = in_place;
        return outcome;
      case NextStep::GiveUp:
        if (failure) std::rethrow_exception(failure);
        if (ending == Ending::NotContinuing) return outcome;  // nothing of this answer, or before it, is in place
        // A body that ended short stands as it is; any other answer (a 416 or
        // an error page to a resumed request too) is the answer.
        if (ending == Ending::BrokeOff) return VersionOutcome(*version, in_place);
        outcome.ended_normally = true;
        outcome.status = response.status;
        outcome.content_range = response.Header(L"Content-Range");
        outcome.content_length = response.content_length;
        return outcome;
      case NextStep::AskAgain:
      case NextStep::ContinueFromK:
      case NextStep::StartOver:
        if (PauseToAskAgain(busy_pause, attempts_used, retries, wait)) break;
        outcome.aborted = true;
        outcome.bytes_written = in_place;
        return outcome;
    }
  }
}

}  // namespace kelvora

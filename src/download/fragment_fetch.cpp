#include "download/fragment_fetch.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "common/text.h"

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

}  // namespace

std::wstring ResumeValidator(const net::HttpResponse& response) {
  const std::wstring etag = TrimBlanks(response.Header(L"ETag"));
  if (etag.size() >= 2 && etag.front() == L'"' && etag.back() == L'"') return etag;
  return TrimBlanks(response.Header(L"Last-Modified"));
}

TransferOutcome FetchFragment(net::HttpClient& client, const FetchRequest& request, net::TargetStream& file,
                              const net::HttpClient::ReceiveDataHandler& progress, const WaitUnlessStopped& wait,
                              FetchProgress* progress_made) {
  const Fragment& fragment = request.fragment;
  const RetryRules& retries = request.retries;
  const bool retrying = retries.attempts > 0;
  std::optional<Version> version;  // empty until a 2xx response began the body
  std::int64_t in_place = 0;       // bytes of the current version from the fragment's start
  int attempts_used = 0;
  if (request.continue_from && fragment.length >= 0 && request.continue_from->in_place < fragment.length) {
    version.emplace(*request.continue_from, fragment);
    in_place = request.continue_from->in_place;
  }
  // Tells the caller where the fragment stands, on every way out.
  struct Report {
    FetchProgress* out;
    const std::optional<Version>& version;
    const std::int64_t& in_place;
    const int& attempts_used;
    ~Report() {
      if (!out) return;
      out->reached = version ? ResumePoint{version->validator, in_place, version->total} : ResumePoint{};
      out->further_requests = attempts_used;
    }
  } report{progress_made, version, in_place, attempts_used};
  // What an earlier request left beyond the bytes in place (the error page
  // of a request that broke off) goes before the next one.
  const std::int64_t prepared_size = file.Size();

  // Ends the fetch as stopped when the pause before the next request is cut short.
  auto pause_then_ask_again = [&](std::chrono::milliseconds pause) {
    ++attempts_used;
    return wait(pause);
  };
  auto stopped = [&] {
    TransferOutcome outcome;
    outcome.aborted = true;
    outcome.bytes_written = in_place;
    return outcome;
  };

  for (;;) {
    const bool resuming = version.has_value();
    const std::int64_t from = fragment.start + in_place;
    const std::int64_t base = in_place;
    std::optional<net::HttpResponse> began;  // the 2xx response, once its headers are in
    std::int64_t received = 0;
    bool aborted = false;
    bool refused = false;  // a resumed 2xx that does not continue the version: none of it is read

    client.SetResponseHandler([&](const net::HttpResponse& response, bool& abort) {
      if (response.status >= 300) {
        // A busy page is not the file, and is asked again: none of it is written.
        if (retrying && IsBusyStatus(response.status)) abort = true;
        return;
      }
      began = response;
      if (resuming && !version->Continues(response, from)) abort = refused = true;
    });
    client.SetReceiveDataHandler([&](const void* sender, std::int64_t content_length, std::int64_t read_count,
                                     bool& abort) {
      received = read_count;
      // A resumed body goes on counting where the first one broke off.
      if (resuming) content_length = version->content_length == 0 ? -1 : version->content_length;
      if (progress) progress(sender, content_length, base + read_count, abort);
      aborted = abort;
    });

    net::HeaderList headers;
    if (resuming) headers.emplace_back(L"If-Range", version->validator);
    file.SetSize(fragment.length >= 0 ? prepared_size : from);
    file.Seek(from);
    std::exception_ptr failure;
    bool retryable_failure = false;
    net::HttpResponse response;
    try {
      response = client.GetRange(request.url, from, fragment.end, file, headers);
    } catch (const net::HttpError& error) {
      failure = std::current_exception();
      retryable_failure = IsRetryableFailure(error);
    }
    const bool attempt_left = attempts_used < retries.attempts;

    TransferOutcome outcome;
    if (aborted) {
      // What this body brought of the version counts as in place.
      if (began && !refused) {
        if (!resuming) version.emplace(*began, fragment);
        in_place = base + received;
      }
      outcome.aborted = true;
      outcome.bytes_written = base + received;
      return outcome;
    }

    if (failure && !retryable_failure) {
      // No other try: what this body brought of the version stays in place
      // (a close in mid-body ends here), the rest is the failure's.
      if (began && !refused) {
        if (!resuming) version.emplace(*began, fragment);
        in_place = base + received;
      }
      std::rethrow_exception(failure);
    }
    if (failure && !began && !resuming && retrying && attempt_left) {
      // No response at all: the same request once more.
      if (!pause_then_ask_again(BackoffPause(attempts_used + 1, retries.draw))) return stopped();
      continue;
    }

    bool start_over = false;
    if (!failure && !began) {
      if (retrying && IsBusyStatus(response.status)) {
        // Busy: the same request once more, after the pause it asks for.
        const auto pause = BusyPause(response, attempts_used + 1, retries);
        if (pause && attempt_left) {
          if (!pause_then_ask_again(*pause)) return stopped();
          continue;
        }
      }
      // A status of 300 or more is the answer, as it stands; on a resumed
      // request (416, 412, an error page) it ends the fetch all the same.
      outcome.ended_normally = true;
      outcome.status = response.status;
      outcome.content_range = response.Header(L"Content-Range");
      outcome.content_length = response.content_length;
      return outcome;
    }
    if (!resuming) {
      if (began) {
        version.emplace(*began, fragment);
        in_place = received;
      }
    } else if (refused) {
      if (began->status != 200) {
        // A 206 for some other part: the run ends with what it has.
        outcome.ended_normally = true;
        outcome.status = began->status;
        outcome.content_range = began->Header(L"Content-Range");
        outcome.content_length = began->content_length;
        return outcome;
      }
      // The file changed, or ranges are not served: start the fragment over.
      start_over = true;
      version.reset();
      in_place = 0;  // for an open fragment, the file is cut back to its start: nothing of the old version stays
    } else if (began) {
      in_place += received;
    }

    const bool short_body = version && version->body_length >= 0 && in_place < version->body_length;
    const bool more_wanted = start_over || failure || short_body;
    const bool can_ask = start_over || (version && version->Resumable(fragment.start + in_place));
    if (!more_wanted || !can_ask || !attempt_left) {
      if (failure) std::rethrow_exception(failure);
      if (start_over) return outcome;  // no attempt left for the new version: nothing of it is in place
      outcome.ended_normally = true;
      outcome.status = version->status;
      outcome.content_range = version->content_range;
      outcome.content_length = version->content_length;
      outcome.bytes_written = in_place;
      return outcome;
    }
    if (!pause_then_ask_again(BackoffPause(attempts_used + 1, retries.draw))) return stopped();
  }
}

}  // namespace kelvora

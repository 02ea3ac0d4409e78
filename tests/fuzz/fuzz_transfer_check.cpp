// The completeness check against a server that is honest about the size of
// its resource but may serve any part of it, cut it short or run past it:
// whatever the check accepts must be exactly the resource, byte for byte.
// Arbitrary Content-Range texts exercise the parser on the way.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_require.h"
#include "fuzz_text.h"
#include "download/transfer_check.h"
#include "window/fragment_plan.h"

namespace {

using kelvora::ContentRange;
using kelvora::Fragment;
using kelvora::TransferOutcome;

void CheckParser(const std::wstring& text) {
  ContentRange range;
  if (!kelvora::ParseContentRange(text, range)) return;
  FUZZ_REQUIRE(range.first >= 0 && range.first <= range.last);
  FUZZ_REQUIRE(range.total == -1 || range.total > range.last);
}

// What one response really put into the file: `written` bytes of the
// resource from `served_from`, of which only the first `genuine` are the
// resource's own (beyond them the server sent something else).
struct Served {
  std::int64_t served_from = 0;
  std::int64_t written = 0;
  std::int64_t genuine = 0;
};

std::wstring Number(std::int64_t value) { return std::to_wstring(value); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::int64_t resource = input.ConsumeIntegralInRange<std::int64_t>(1, 1 << 20);
  const bool head_gave_size = input.ConsumeBool();
  const std::int32_t threads = input.ConsumeIntegralInRange<std::int32_t>(1, 4);
  const std::int64_t file_size = head_gave_size ? resource : -1;
  const std::vector<Fragment> plan = kelvora::PlanFragments(file_size, threads);

  std::vector<TransferOutcome> outcomes;
  std::vector<Served> served;
  bool honest = true;  // every Content-Range told the truth about the resource
  std::int64_t length_less_end = -1;  // where a 200 without length ended its body
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (input.remaining_bytes() == 0) break;
    TransferOutcome outcome;
    Served what;
    outcome.ended_normally = input.ConsumeIntegralInRange<int>(0, 7) != 0;
    outcome.aborted = input.ConsumeIntegralInRange<int>(0, 7) == 0;
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: {  // the whole resource
        outcome.status = 200;
        const bool has_length = input.ConsumeBool();
        outcome.content_length = has_length ? resource : -1;
        what.written = input.ConsumeIntegralInRange<std::int64_t>(0, 2 * resource);
        what.genuine = has_length ? resource : what.written;  // without a length the body is what came
        if (!has_length) length_less_end = what.written;
        break;
      }
      case 1: {  // some range of it
        outcome.status = 206;
        const std::int64_t first = input.ConsumeIntegralInRange<std::int64_t>(0, resource - 1);
        const std::int64_t last = input.ConsumeIntegralInRange<std::int64_t>(first, resource - 1);
        const bool total_known = input.ConsumeBool();
        outcome.content_range = L"bytes " + Number(first) + L"-" + Number(last) + L"/" +
                                (total_known ? Number(resource) : std::wstring(L"*"));
        outcome.content_length = input.ConsumeBool() ? last - first + 1 : -1;
        what.served_from = first;
        what.written = input.ConsumeIntegralInRange<std::int64_t>(0, 2 * (last - first + 1));
        what.genuine = last - first + 1;
        break;
      }
      case 2: {  // a Content-Range of any text
        outcome.status = 206;
        outcome.content_range = kelvora::fuzz::ConsumeWide(input, 64);
        CheckParser(outcome.content_range);
        outcome.content_length = input.ConsumeIntegralInRange<std::int64_t>(-1, resource);
        what.written = input.ConsumeIntegralInRange<std::int64_t>(0, resource);
        honest = false;
        break;
      }
      default:  // an error page
        outcome.status = input.ConsumeIntegralInRange<std::int32_t>(100, 599);
        outcome.content_length = input.ConsumeIntegralInRange<std::int64_t>(-1, 4096);
        what.written = input.ConsumeIntegralInRange<std::int64_t>(0, 4096);
        honest = false;
        break;
    }
    outcome.bytes_written = what.written;
    if (what.served_from + what.genuine > resource) what.genuine = resource - what.served_from;
    outcomes.push_back(outcome);
    served.push_back(what);
  }

  const bool complete = kelvora::DownloadComplete(plan, file_size, outcomes);
  if (!complete || !honest) return 0;
  // Accepted: every fragment holds its own bytes of the resource and nothing
  // else, and together they are all of it. A 200 that ended without a length
  // defines the resource itself when the size was never announced.
  const std::int64_t expected = (!head_gave_size && length_less_end >= 0) ? length_less_end : resource;
  bool exact = outcomes.size() == plan.size();
  std::int64_t next = 0;
  for (std::size_t i = 0; exact && i < plan.size(); ++i) {
    exact = served[i].served_from == plan[i].start && plan[i].start == next &&
            (served[i].written <= served[i].genuine || (outcomes[i].status == 200 && outcomes[i].content_length < 0));
    next += served[i].written;
  }
  if (exact && next == expected) return 0;
  // What was wrongly accepted.
  std::fprintf(stderr, "resource %lld, size from HEAD %lld\n", static_cast<long long>(resource),
               static_cast<long long>(file_size));
  for (const auto& outcome : outcomes)
    std::fprintf(stderr, "  status %d, Content-Range \"%ls\", Content-Length %lld, %lld bytes written\n",
                 outcome.status, outcome.content_range.c_str(), static_cast<long long>(outcome.content_length),
                 static_cast<long long>(outcome.bytes_written));

  std::abort();
}

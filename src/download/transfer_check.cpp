#include "download/transfer_check.h"

#include "common/text.h"

namespace kelvora {

namespace {

// At most 18 digits, leading zeros counted: any two such numbers subtract and
// add one (a range's length) without overflow.
bool ParseNumber(std::wstring_view text, std::int64_t& value) {
  if (text.size() > 18) return false;
  const auto parsed = ParseDecimal(text);
  if (parsed) value = *parsed;
  return parsed.has_value();
}

}  // namespace

bool ParseContentRange(std::wstring_view value, ContentRange& range) {
  // Only blanks and tabs are the value's own: any other character, a line
  // break included, makes it no range.
  value = Trim(value, kSpaceAndTab);
  constexpr std::wstring_view kUnit = L"bytes ";
  if (!StartsWithIgnoreCase(value, kUnit)) return false;
  value = Trim(value.substr(kUnit.size()), kSpaceAndTab);
  const size_t dash = value.find(L'-');
  const size_t slash = value.find(L'/');
  if (dash == std::wstring_view::npos || slash == std::wstring_view::npos || slash < dash) return false;
  ContentRange parsed;
  if (!ParseNumber(value.substr(0, dash), parsed.first) ||
      !ParseNumber(value.substr(dash + 1, slash - dash - 1), parsed.last) || parsed.last < parsed.first)
    return false;
  const std::wstring_view total = value.substr(slash + 1);
  if (total != L"*") {
    if (!ParseNumber(total, parsed.total) || parsed.total <= parsed.last) return false;
  }
  range = parsed;
  return true;
}

bool FragmentComplete(const Fragment& fragment, std::int64_t file_size, const TransferOutcome& outcome) {
  if (!outcome.ended_normally || outcome.aborted) return false;
  // What the response announced must be what arrived.
  if (outcome.content_length >= 0 && outcome.content_length != outcome.bytes_written) return false;

  if (outcome.status == 200) {
    // The whole resource: good for a fragment that starts the file and, when
    // the size is known, covers all of it.
    if (fragment.start != 0) return false;
    if (file_size >= 0) return fragment.length == file_size && outcome.bytes_written == file_size;
    return outcome.bytes_written > 0;
  }
  if (outcome.status == 206) {
    ContentRange range;
    if (!ParseContentRange(outcome.content_range, range) || range.first != fragment.start) return false;
    if (fragment.end >= 0) {
      if (range.last != fragment.end) return false;
    } else if (range.total < 0 || range.last != range.total - 1) {
      // An open range is answered in full only up to the last byte of a
      // resource whose size the server names; anything less is a part.
      return false;
    }
    if (file_size >= 0 && range.total != -1 && range.total != file_size) return false;
    return outcome.bytes_written == range.last - range.first + 1 &&
           (fragment.length < 0 || outcome.bytes_written == fragment.length);
  }
  return false;
}

bool DownloadComplete(const std::vector<Fragment>& plan, std::int64_t file_size,
                      const std::vector<TransferOutcome>& outcomes) {
  if (plan.empty() || outcomes.size() != plan.size() || file_size == 0) return false;
  std::int64_t total = 0;
  for (size_t i = 0; i < plan.size(); ++i) {
    if (!FragmentComplete(plan[i], file_size, outcomes[i])) return false;
    total += outcomes[i].bytes_written;
  }
  return total > 0;
}

}  // namespace kelvora

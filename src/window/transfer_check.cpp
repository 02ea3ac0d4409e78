#include "window/transfer_check.h"

namespace kelvora {

namespace {

bool ParseNumber(std::wstring_view text, std::int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + (c - L'0');
  }
  return true;
}

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

bool ParseContentRange(std::wstring_view value, ContentRange& range) {
  value = Trim(value);
  constexpr std::wstring_view kUnit = L"bytes ";
  if (value.size() < kUnit.size()) return false;
  for (size_t i = 0; i < kUnit.size(); ++i) {
    wchar_t c = value[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    if (c != kUnit[i]) return false;
  }
  value = Trim(value.substr(kUnit.size()));
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

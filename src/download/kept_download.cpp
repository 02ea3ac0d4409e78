#include "download/kept_download.h"

#include <vector>

#include "common/text.h"
#include "net/url.h"
#include "download/transfer_check.h"

namespace kelvora {

namespace {

constexpr std::string_view kFirstLine = "kelvora-kept-download 1";
// Far more than a record needs; a longer file is not one.
constexpr std::size_t kLongestRecord = 8192;

bool HasControlOrNonAscii(std::wstring_view text) {
  for (const wchar_t c : text)
    if (c < 0x20 || c >= 0x7F) return true;
  return false;
}

}  // namespace

bool UsableValidator(std::wstring_view validator) {
  return !validator.empty() && validator.size() <= 1024 && !StartsWithIgnoreCase(validator, L"W/") &&
         !HasControlOrNonAscii(validator);
}

bool MayKeep(const KeptDownload& kept) {
  return UsableValidator(kept.validator) && kept.total > 0 && InstallerSizeAllowed(kept.total) && kept.length > 0 &&
         kept.length < kept.total && !kept.url.empty() && !HasControlOrNonAscii(kept.url);
}

bool MayContinue(const KeptDownload& kept, const std::wstring& url, std::int64_t size) {
  return MayKeep(kept) && kept.url == url && kept.total == size;
}

bool OnlyItsOwnFile(const KeptFileFacts& facts) {
  return !facts.directory && !facts.reparse_point && facts.links == 1;
}

std::string FormatKeptDownload(const KeptDownload& kept) {
  std::string text(kFirstLine);
  text += "\nurl=" + ToUtf8(kept.url);
  text += "\ntotal=" + std::to_string(kept.total);
  text += "\nvalidator=" + ToUtf8(kept.validator);
  text += "\nlength=" + std::to_string(kept.length);
  text += "\n";
  return text;
}

std::optional<KeptDownload> ParseKeptDownload(std::string_view text) {
  if (text.size() > kLongestRecord) return std::nullopt;
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // every line ends with a line break
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  static constexpr std::string_view kNames[] = {"url=", "total=", "validator=", "length="};
  if (lines.size() != 5 || lines[0] != kFirstLine) return std::nullopt;
  std::wstring values[4];
  for (int i = 0; i < 4; ++i) {
    const std::string_view line = lines[i + 1];
    if (line.substr(0, kNames[i].size()) != kNames[i]) return std::nullopt;
    values[i] = FromUtf8(line.substr(kNames[i].size()));
  }
  const auto total = ParseDecimal(values[1], kInstallerSizeLimit);
  const auto length = ParseDecimal(values[3], kInstallerSizeLimit);
  if (!total || !length) return std::nullopt;
  KeptDownload kept{values[0], *total, values[2], *length};
  if (!MayKeep(kept) || !net::ParseUrl(kept.url)) return std::nullopt;
  return kept;
}

}  // namespace kelvora

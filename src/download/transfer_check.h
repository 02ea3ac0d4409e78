#pragma once
// Whether a download run fetched the whole installer. Only a complete file is
// ever put in place to be launched.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/http_client.h"
#include "download/fragment.h"

namespace kelvora {

// What one worker's transfer ended with.
struct TransferOutcome {
  bool ended_normally = false;  // the GET returned: no error from client or file
  bool aborted = false;         // the last notification answered with an abort
  std::int32_t status = 0;      // the final response's status
  std::wstring content_range;   // its Content-Range header, "" when missing
  std::int64_t content_length = -1;  // its Content-Length, -1 when missing
  std::int64_t bytes_written = 0;    // body bytes of the final response written
};

// The most an installer may be: no Windows executable is larger, as the PE
// format's offsets are 32-bit (the cap of an open-ended GET's body too). An
// announced size above it fails the run before anything is set aside.
inline constexpr std::int64_t kInstallerSizeLimit = net::HttpClient::kOpenRangeBodyLimit;
constexpr bool InstallerSizeAllowed(std::int64_t announced_size) { return announced_size <= kInstallerSizeLimit; }

// A Content-Range value "bytes first-last/total" ("*" for an unknown total).
struct ContentRange {
  std::int64_t first = -1;
  std::int64_t last = -1;
  std::int64_t total = -1;  // -1 for "*"
};
// False when the value is not of that form.
bool ParseContentRange(std::wstring_view value, ContentRange& range);

// One fragment is complete when its transfer ended normally without an abort
// and either a 200 delivered the whole resource or a 206 delivered exactly the
// fragment asked for; the bytes written must match what was announced. An
// open fragment's 206 must run to the last byte of the total it names.
// `file_size` is the size the HEAD request reported, -1 when unknown.
bool FragmentComplete(const Fragment& fragment, std::int64_t file_size, const TransferOutcome& outcome);

// The run is complete when every planned fragment had a worker and each is
// complete, and the file is not empty.
bool DownloadComplete(const std::vector<Fragment>& plan, std::int64_t file_size,
                      const std::vector<TransferOutcome>& outcomes);

}  // namespace kelvora

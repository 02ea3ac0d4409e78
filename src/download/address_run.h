#pragma once
// The run over the download addresses: the built-in one first, then each
// fallback in turn, until one gives a file that passes every check.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "download/size_request.h"

namespace kelvora {

// The addresses in the order they are tried: `main`, then `fallbacks` (a
// list ended by a null pointer, or null) in their order. An address given
// twice is tried once, where it first stands.
std::vector<std::wstring> DownloadAddresses(const std::wstring& main, const wchar_t* const* fallbacks);

// How fetching the file from one address ended.
enum class FetchEnd {
  Accepted,  // complete, in place and accepted by every check: the run's file
  Failed,    // no such file: the next address may have one
  Stopped,   // the run was stopped
};

// The steps of one address, which the coordinator provides (tests give fakes).
struct AddressSteps {
  // The address's size request (AskSize) with a client of the address's own.
  std::function<SizeAnswer(const std::wstring& url)> ask_size;
  // A download of the whole file from `url` from byte 0 into a new working
  // file, `size` as the size request gave it (-1 when unknown); `index` is
  // the address's place in the order.
  std::function<FetchEnd(const std::wstring& url, std::int64_t size, std::size_t index)> fetch;
  // Whether the run has been stopped (the window is closing).
  std::function<bool()> stopped;
};

struct AddressRun {
  bool accepted = false;     // some address gave the run's file
  bool answered = false;     // some size request got an HTTP answer
  std::size_t address = 0;   // the address that gave the file, or the last one tried
};

// Tries `addresses` in order: each starts with its size request; one whose
// size request failed, or whose fetch failed for any reason, gives way to
// the next. Ends at the first accepted file, after the last address, or as
// soon as the run is stopped (no further address is started then).
AddressRun TryAddresses(const std::vector<std::wstring>& addresses, const AddressSteps& steps);

}  // namespace kelvora

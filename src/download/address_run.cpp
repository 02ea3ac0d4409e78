#include "download/address_run.h"

#include <algorithm>

namespace kelvora {

std::vector<std::wstring> DownloadAddresses(const std::wstring& main, const wchar_t* const* fallbacks) {
  std::vector<std::wstring> addresses{main};
  for (const wchar_t* const* fallback = fallbacks; fallback && *fallback; ++fallback)
    if (std::find(addresses.begin(), addresses.end(), *fallback) == addresses.end()) addresses.emplace_back(*fallback);
  return addresses;
}

AddressRun TryAddresses(const std::vector<std::wstring>& addresses, const AddressSteps& steps) {
  AddressRun run;
  for (std::size_t index = 0; index < addresses.size(); ++index) {
    if (steps.stopped()) break;
    run.address = index;
    const SizeAnswer size = steps.ask_size(addresses[index]);
    run.answered |= size.answered;
    // A close right after the size answer begins no fetch: nothing of the
    // files (kept bytes among them) is touched then.
    if (size.stopped || steps.stopped()) break;
    if (!size.usable) continue;
    const FetchEnd end = steps.fetch(addresses[index], size.size, index);
    if (end == FetchEnd::Accepted) {
      run.accepted = true;
      break;
    }
    if (end == FetchEnd::Stopped) break;
  }
  return run;
}

}  // namespace kelvora

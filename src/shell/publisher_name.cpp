#include "shell/publisher_name.h"

namespace kelvora {

namespace {

bool SameName(std::wstring_view expected, std::wstring_view name) noexcept {
  return name.find(L'\0') == std::wstring_view::npos && name == expected;
}

}  // namespace

bool PublisherCheckRequired(std::wstring_view expected) noexcept { return !expected.empty(); }

bool SignedByPublisher(std::wstring_view expected, const SignerNames& signer) noexcept {
  if (!PublisherCheckRequired(expected) || expected.find(L'\0') != std::wstring_view::npos) return false;
  return SameName(expected, signer.common_name) || SameName(expected, signer.organisation);
}

}  // namespace kelvora

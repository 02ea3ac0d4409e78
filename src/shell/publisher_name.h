#pragma once
// Whose signature an installer must carry before it is started. The name is
// set when the program is built; comparing it with a signer certificate's
// names is kept apart from the system's signature check so that the rule can
// be checked anywhere.

#include <string>
#include <string_view>

namespace kelvora {

// The subject names of the certificate that signed a file, as the system's
// certificate functions give them (empty when the subject has none).
struct SignerNames {
  std::wstring common_name;
  std::wstring organisation;
};

// Whether a build asks for a publisher's signature at all: an empty name
// leaves launching exactly as it is without the check.
bool PublisherCheckRequired(std::wstring_view expected) noexcept;

// True when `expected` is not empty and equals the signer's common name or
// its organisation exactly, code unit by code unit: no case folding, no
// trimming, nothing that two differently spelt names could both satisfy. A
// name with a NUL in it never matches (a certificate name cut short at a NUL
// must not pass for the publisher's). Any thread; does not throw.
bool SignedByPublisher(std::wstring_view expected, const SignerNames& signer) noexcept;

}  // namespace kelvora

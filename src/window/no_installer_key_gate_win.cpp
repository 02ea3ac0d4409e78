// Builds without keys: no signature is fetched and no key check is linked in.
#include "window/installer_key_gate_win.h"

namespace kelvora {

bool InstallerKeysBuiltIn() { return false; }
std::optional<EcdsaP256Signature> FetchInstallerSignature(const StopSignal&, const std::wstring&) {
  return std::nullopt;
}
bool AcceptKeySigned(const std::wstring&, unique_file&, const std::optional<EcdsaP256Signature>&) { return true; }

}  // namespace kelvora

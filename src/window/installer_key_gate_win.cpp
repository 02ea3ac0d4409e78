// Builds with keys: the installer's detached signature is fetched and checked
// against the keys built in (config/installer_keys.h).
#include "window/installer_key_gate_win.h"

#include <span>

#include "config/installer_keys.h"
#include "config/resume_attempts.h"
#include "download/installer_signature.h"
#include "download/random_draw_win.h"
#include "download/stop_wait_win.h"
#include "net/winhttp_transport.h"
#include "window/installer_key_check_win.h"

namespace kelvora {

namespace {
std::span<const InstallerKey> BuiltInKeys() { return {kInstallerKeys, kInstallerKeyCount}; }
}  // namespace

bool InstallerKeysBuiltIn() { return !BuiltInKeys().empty(); }

std::optional<EcdsaP256Signature> FetchInstallerSignature(const StopSignal& stop, const std::wstring& url) {
  // The same proxy choice, redirect rules and certificate checks as the
  // file's requests; busy answers within a budget of their own.
  try {
    const auto client = net::CreateWinHttpClient(&stop);
    const RetryRules retries{kResumeAttempts, SystemRandomDraw, nullptr};
    return FetchSignature(*client, url, retries, StopAwareWait(&stop)).signature;
  } catch (...) {
    return std::nullopt;
  }
}

bool AcceptKeySigned(const std::wstring& path, unique_file& held, const std::optional<EcdsaP256Signature>& signature) {
  return AcceptKeySignedInstaller(path, held, BuiltInKeys(), signature);
}

}  // namespace kelvora

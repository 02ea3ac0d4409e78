#pragma once
// The installer's detached signature: a small file beside it on the server,
// the same name with ".sig" appended, holding a DER ECDSA P-256 signature
// over the installer's SHA-256. It is read into memory only (never written to
// disk), and bounded: it comes from the network.

#include <cstdint>
#include <optional>
#include <string>

#include "download/ecdsa_der.h"
#include "download/retry_rules.h"
#include "net/http_client.h"

namespace kelvora {

// No signature is this long: a larger one is refused before it is read.
inline constexpr std::int64_t kMaxSignatureBytes = 4096;

// The signature's address: `installer_url` with ".sig" appended to its path,
// before any query. Empty when the address is not an https address.
std::wstring SignatureAddress(const std::wstring& installer_url);

struct SignatureAnswer {
  std::optional<EcdsaP256Signature> signature;  // none: the installer is refused
  bool stopped = false;                         // the run was stopped during a pause
};

// GETs the signature of the installer at `installer_url` through `client`,
// at most 1 + rules.attempts times: what each answer means and what comes
// next is the download's one table (next_step.h, as a GET with nothing to
// go on from): busy answers and failures that another try may not meet are
// asked again (BusyPause, BackoffPause, through `wait`); this budget is the
// signature's own. A 2xx answer whose announced length exceeds kMaxSignatureBytes is
// refused without reading its body, and so is a body that turns out longer;
// any other final answer, a failure, or a body ReadEcdsaP256Signature refuses
// gives no signature. Throws only what is no HttpError. The calling thread
// owns `client`; its response handler is replaced.
SignatureAnswer FetchSignature(net::HttpClient& client, const std::wstring& installer_url, const RetryRules& rules,
                               const WaitUnlessStopped& wait);

}  // namespace kelvora

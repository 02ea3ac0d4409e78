#pragma once
// The key check as the download run uses it. Only builds with keys have one:
// each installer links one of installer_key_gate_win.cpp (keys) and
// no_installer_key_gate_win.cpp, so that the others carry none of its code.
// Coordinator thread only.

#include <optional>
#include <string>

#include "common/stop_signal_win.h"
#include "common/win32_handles.h"
#include "download/ecdsa_der.h"

namespace kelvora {

// Whether the build has keys: then no file of an earlier run is launched.
bool InstallerKeysBuiltIn();
// The detached signature of the file at `url` (installer_signature.h),
// asked for by a client of its own that `stop` ends; nothing when there is
// none to be had, for whatever reason. Never throws.
std::optional<EcdsaP256Signature> FetchInstallerSignature(const StopSignal& stop, const std::wstring& url);
// Whether the held file at `path` passes the key check with `signature`
// (installer_key_check_win.h: a file that fails is removed); always true
// without keys.
bool AcceptKeySigned(const std::wstring& path, unique_file& held, const std::optional<EcdsaP256Signature>& signature);

}  // namespace kelvora

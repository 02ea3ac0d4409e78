#pragma once
// The system's Authenticode check of a file that is about to be launched.

#include <windows.h>

#include <optional>
#include <string>

#include "shell/publisher_name.h"

namespace kelvora {

// Checks the Authenticode signature of the file open as `file` (a handle with
// read access; `path` is its name, for the system's records) and returns the
// subject names of the certificate that signed it. Nothing when the file
// carries no signature, its content does not match the signature, the
// signature is not trusted, or the system's trust functions cannot be had.
// No UI is shown and revocation is not checked, nor is anything fetched from
// the network: a machine without internet access checks the same way.
// wintrust.dll and crypt32.dll are loaded from System32 for the call only.
// Any thread; reads the whole file; does not throw except std::bad_alloc.
std::optional<SignerNames> VerifiedSigner(HANDLE file, const std::wstring& path);

}  // namespace kelvora

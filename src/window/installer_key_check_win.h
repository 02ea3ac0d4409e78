#pragma once
// The vendor's own key, beside the publisher check: a build with installer
// keys starts only a file whose detached signature one of its keys made, so
// that a file swapped on the server, on a mirror or in a cache never runs,
// whatever certificate it carries.

#include <windows.h>

#include <optional>
#include <span>
#include <string>

#include "common/win32_handles.h"
#include "config/installer_keys.h"
#include "download/ecdsa_der.h"

namespace kelvora {

// Whether `signature` is an ECDSA P-256 signature over the SHA-256 of the
// file open as `file` (a handle with read access; the whole file is read from
// its first byte, whatever the handle's position) by one of `keys`. Both the
// hash and the verification are the system's CNG; bcrypt.dll is loaded from
// System32 for the call only. False when no key verifies it, and on any
// failure. Any thread; does not throw.
bool SignedWithInstallerKey(HANDLE file, std::span<const InstallerKey> keys,
                            const EcdsaP256Signature& signature) noexcept;

// With no `keys` does nothing and returns true. Otherwise pins the file at
// `path` (file_pin_win.h, as AcceptInstaller does: the pin replaces `held`
// and must stay open until the launch) and returns true when `signature` is
// given and SignedWithInstallerKey accepts the pinned file. Otherwise the file
// has been removed (as far as it can be), `held` is empty, and nothing may be
// launched. Call on a background thread (it reads the whole file); does not
// throw.
bool AcceptKeySignedInstaller(const std::wstring& path, unique_file& held, std::span<const InstallerKey> keys,
                              const std::optional<EcdsaP256Signature>& signature) noexcept;

}  // namespace kelvora

#pragma once
// The vendor's public keys, one of which must have signed the downloaded
// installer (its detached ".sig"); none when the build asks for no such
// check. Each executable compiles its own from KELVORA_INSTALLER_KEYS
// (cmake/InstallerKeys.cmake, config/installer_publisher.cpp.in); no key is
// read at run time.

#include <cstddef>

namespace kelvora {

// A P-256 public key as the system's CNG imports it (BCRYPT_ECCPUBLIC_BLOB):
// the magic "ECS1" and the key size 32, both 32-bit little-endian, then X and
// Y, 32 bytes each, big-endian.
struct InstallerKey {
  unsigned char blob[8 + 64];
};

extern const InstallerKey kInstallerKeys[];
extern const std::size_t kInstallerKeyCount;

}  // namespace kelvora

#pragma once
// The detached signature of an installer, as `openssl dgst -sha256 -sign`
// writes it with a P-256 key: a DER SEQUENCE of two INTEGERs r and s. The
// system's ECDSA verification takes r and s side by side, each as 32 bytes
// big-endian. The signature comes from the network: the reader takes only the
// one strict encoding of a valid pair and refuses everything else.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace kelvora {

// r then s, each 32 bytes big-endian.
using EcdsaP256Signature = std::array<std::uint8_t, 64>;

// r and s from `der` when it is exactly one DER SEQUENCE (short-form
// length, the whole input) of two minimal DER INTEGERs, each positive and
// below the order of P-256. Nothing for anything else: a long-form or lying
// length, trailing bytes, a missing byte, another tag, a negative, zero or
// zero-padded integer, one too large. Pure; any thread.
std::optional<EcdsaP256Signature> ReadEcdsaP256Signature(std::span<const std::uint8_t> der) noexcept;

}  // namespace kelvora

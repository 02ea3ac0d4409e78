#include "download/ecdsa_der.h"

#include <algorithm>
#include <cstddef>

namespace kelvora {

namespace {

constexpr std::uint8_t kSequenceTag = 0x30;
constexpr std::uint8_t kIntegerTag = 0x02;
constexpr std::size_t kScalarSize = 32;

// The order n of P-256's base point: r and s lie in [1, n-1].
constexpr std::array<std::uint8_t, kScalarSize> kOrder = {
    0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xbc, 0xe6, 0xfa, 0xad, 0xa7, 0x17, 0x9e, 0x84, 0xf3, 0xb9, 0xca, 0xc2, 0xfc, 0x63, 0x25, 0x51};

// The content of the element with `tag` at the start of `input`, which then
// starts after it. Only the short length form: no element of a P-256
// signature is 128 bytes long, so a long form is never the minimal one.
std::optional<std::span<const std::uint8_t>> TakeElement(std::span<const std::uint8_t>& input, std::uint8_t tag) {
  if (input.size() < 2 || input[0] != tag || input[1] >= 0x80) return std::nullopt;
  const std::size_t length = input[1];
  if (input.size() - 2 < length) return std::nullopt;
  const auto content = input.subspan(2, length);
  input = input.subspan(2 + length);
  return content;
}

// One INTEGER's content as 32 bytes big-endian, when it is minimal,
// positive and below the order.
bool ReadScalar(std::span<const std::uint8_t> content, std::uint8_t* out) {
  if (content.empty() || (content[0] & 0x80) != 0) return false;  // missing or negative
  if (content[0] == 0) {
    // A leading zero only where the next byte would read as a sign.
    if (content.size() == 1 || (content[1] & 0x80) == 0) return false;
    content = content.subspan(1);
  }
  if (content.size() > kScalarSize) return false;
  std::fill(out, out + kScalarSize, std::uint8_t{0});
  std::copy(content.begin(), content.end(), out + (kScalarSize - content.size()));
  return std::lexicographical_compare(out, out + kScalarSize, kOrder.begin(), kOrder.end());
}

}  // namespace

std::optional<EcdsaP256Signature> ReadEcdsaP256Signature(std::span<const std::uint8_t> der) noexcept {
  auto sequence = TakeElement(der, kSequenceTag);
  if (!sequence || !der.empty()) return std::nullopt;
  const auto r = TakeElement(*sequence, kIntegerTag);
  if (!r) return std::nullopt;
  const auto s = TakeElement(*sequence, kIntegerTag);
  if (!s || !sequence->empty()) return std::nullopt;
  EcdsaP256Signature signature{};
  if (!ReadScalar(*r, signature.data()) || !ReadScalar(*s, signature.data() + kScalarSize)) return std::nullopt;
  return signature;
}

}  // namespace kelvora

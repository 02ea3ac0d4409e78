// The signature reader on any bytes. What it accepts is the one strict
// encoding of its result: writing r and s back in minimal DER gives the input
// byte for byte, and both lie in [1, n-1].

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "download/ecdsa_der.h"
#include "fuzz_require.h"

namespace {

constexpr std::array<std::uint8_t, 32> kOrder = {
    0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xbc, 0xe6, 0xfa, 0xad, 0xa7, 0x17, 0x9e, 0x84, 0xf3, 0xb9, 0xca, 0xc2, 0xfc, 0x63, 0x25, 0x51};

// A scalar as a minimal DER INTEGER, written independently of the reader.
std::vector<std::uint8_t> Integer(std::span<const std::uint8_t> scalar) {
  std::size_t first = 0;
  while (first + 1 < scalar.size() && scalar[first] == 0) ++first;
  std::vector<std::uint8_t> content(scalar.begin() + first, scalar.end());
  if (content[0] & 0x80) content.insert(content.begin(), 0);
  std::vector<std::uint8_t> out = {0x02, static_cast<std::uint8_t>(content.size())};
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

bool InRange(std::span<const std::uint8_t> scalar) {
  const bool zero = std::all_of(scalar.begin(), scalar.end(), [](std::uint8_t b) { return b == 0; });
  return !zero && std::lexicographical_compare(scalar.begin(), scalar.end(), kOrder.begin(), kOrder.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto signature = kelvora::ReadEcdsaP256Signature(std::span(data, size));
  if (!signature) return 0;
  const auto r = std::span(signature->data(), 32);
  const auto s = std::span(signature->data() + 32, 32);
  FUZZ_REQUIRE(InRange(r) && InRange(s));
  std::vector<std::uint8_t> content = Integer(r);
  const auto s_der = Integer(s);
  content.insert(content.end(), s_der.begin(), s_der.end());
  std::vector<std::uint8_t> der = {0x30, static_cast<std::uint8_t>(content.size())};
  der.insert(der.end(), content.begin(), content.end());
  FUZZ_REQUIRE(der.size() == size && std::equal(der.begin(), der.end(), data));
  return 0;
}

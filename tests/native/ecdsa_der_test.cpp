#include "download/ecdsa_der.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelvora {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}
Bytes Element(std::uint8_t tag, const Bytes& content) {
  return Cat({{tag, static_cast<std::uint8_t>(content.size())}, content});
}
Bytes Integer(const Bytes& content) { return Element(0x02, content); }
Bytes Sequence(const Bytes& content) { return Element(0x30, content); }
Bytes Repeat(std::uint8_t byte, std::size_t count) { return Bytes(count, byte); }
Bytes Scalar32(const Bytes& value) { return Cat({Repeat(0, 32 - value.size()), value}); }

// A signature that openssl made (`openssl dgst -sha256 -sign`, P-256): both
// r and s have the top bit set, so each carries the one leading zero.
const Bytes kR = {0xa0, 0xae, 0x02, 0x19, 0xed, 0xa0, 0xbe, 0xe5, 0xc6, 0x7f, 0x6c, 0x94, 0xaa, 0xf6, 0x56, 0xbe,
                  0x3e, 0x83, 0xa7, 0x03, 0x78, 0x8d, 0xa6, 0xba, 0x0b, 0xe7, 0xd0, 0xbe, 0xd6, 0x8a, 0x31, 0xd7};
const Bytes kS = {0xba, 0x61, 0x41, 0x3b, 0xd0, 0x7a, 0xd3, 0xac, 0x32, 0x1f, 0x0e, 0xeb, 0xd6, 0xa2, 0x8d, 0x62,
                  0x69, 0xc9, 0x12, 0x55, 0x97, 0xac, 0x3d, 0xd5, 0xf9, 0x2d, 0x60, 0x94, 0xfd, 0xac, 0xc0, 0xa8};
const Bytes kOpensslSignature = {
    0x30, 0x46, 0x02, 0x21, 0x00, 0xa0, 0xae, 0x02, 0x19, 0xed, 0xa0, 0xbe, 0xe5, 0xc6, 0x7f, 0x6c, 0x94, 0xaa,
    0xf6, 0x56, 0xbe, 0x3e, 0x83, 0xa7, 0x03, 0x78, 0x8d, 0xa6, 0xba, 0x0b, 0xe7, 0xd0, 0xbe, 0xd6, 0x8a, 0x31,
    0xd7, 0x02, 0x21, 0x00, 0xba, 0x61, 0x41, 0x3b, 0xd0, 0x7a, 0xd3, 0xac, 0x32, 0x1f, 0x0e, 0xeb, 0xd6, 0xa2,
    0x8d, 0x62, 0x69, 0xc9, 0x12, 0x55, 0x97, 0xac, 0x3d, 0xd5, 0xf9, 0x2d, 0x60, 0x94, 0xfd, 0xac, 0xc0, 0xa8};
// The order of P-256, and one below it.
const Bytes kOrder = {0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                      0xbc, 0xe6, 0xfa, 0xad, 0xa7, 0x17, 0x9e, 0x84, 0xf3, 0xb9, 0xca, 0xc2, 0xfc, 0x63, 0x25, 0x51};
Bytes OrderMinusOne() {
  Bytes value = kOrder;
  value.back() -= 1;
  return value;
}
const Bytes kSmall = {0x01};
const Bytes kMid = {0x12, 0x34};  // top bit clear: no leading zero

struct Accepted {
  const char* name;
  Bytes der;
  Bytes r;  // 32 bytes
  Bytes s;
};

TEST(EcdsaDer, ReadsMinimalEncodings) {
  const Accepted rows[] = {
      {"what openssl wrote", kOpensslSignature, kR, kS},
      {"the same, built from its parts", Sequence(Cat({Integer(Cat({{0}, kR})), Integer(Cat({{0}, kS}))})), kR, kS},
      {"short r and s", Sequence(Cat({Integer(kSmall), Integer(kMid)})), Scalar32(kSmall), Scalar32(kMid)},
      {"r of 32 bytes, top bit clear", Sequence(Cat({Integer(Cat({{0x7f}, Repeat(0xee, 31)})), Integer(kSmall)})),
       Cat({{0x7f}, Repeat(0xee, 31)}), Scalar32(kSmall)},
      {"r and s one below the order", Sequence(Cat({Integer(Cat({{0}, OrderMinusOne()})), Integer(Cat({{0}, OrderMinusOne()}))})),
       OrderMinusOne(), OrderMinusOne()},
      {"a leading zero before a top bit", Sequence(Cat({Integer({0x00, 0x80}), Integer(kSmall)})), Scalar32({0x80}),
       Scalar32(kSmall)},
  };
  for (const Accepted& row : rows) {
    const auto signature = ReadEcdsaP256Signature(row.der);
    ASSERT_TRUE(signature) << row.name;
    EXPECT_EQ(Bytes(signature->begin(), signature->begin() + 32), row.r) << row.name;
    EXPECT_EQ(Bytes(signature->begin() + 32, signature->end()), row.s) << row.name;
  }
}

struct Refused {
  const char* name;
  Bytes der;
};

TEST(EcdsaDer, RefusesEverythingElse) {
  const Bytes r = Integer(Cat({{0}, kR}));
  const Bytes s = Integer(Cat({{0}, kS}));
  Bytes long_form = {0x30, 0x81, 0x46};
  long_form.insert(long_form.end(), kOpensslSignature.begin() + 2, kOpensslSignature.end());
  Bytes r_long_form = {0x30, 0x47, 0x02, 0x81, 0x21, 0x00};
  r_long_form.insert(r_long_form.end(), kR.begin(), kR.end());
  r_long_form.insert(r_long_form.end(), s.begin(), s.end());
  const Refused rows[] = {
      {"nothing", {}},
      // r or s too long
      {"r of 33 bytes without a sign byte", Sequence(Cat({Integer(Cat({{0x01}, kR})), s}))},
      {"s of 34 bytes", Sequence(Cat({r, Integer(Cat({{0x00, 0x01}, kS}))}))},
      {"r of 40 bytes", Sequence(Cat({Integer(Cat({{0x00}, Repeat(0x11, 39)})), s}))},
      // zero
      {"r zero", Sequence(Cat({Integer({0x00}), s}))},
      {"s zero", Sequence(Cat({r, Integer({0x00})}))},
      {"r empty", Sequence(Cat({Integer({}), s}))},
      // negative
      {"r negative", Sequence(Cat({Integer(kR), s}))},
      {"s negative", Sequence(Cat({r, Integer({0x80})}))},
      {"s minus one", Sequence(Cat({r, Integer({0xff})}))},
      // padded
      {"r with a zero it does not need", Sequence(Cat({Integer({0x00, 0x01}), s}))},
      {"s with two leading zeros", Sequence(Cat({r, Integer(Cat({{0x00, 0x00}, kS}))}))},
      {"r zero written as two bytes", Sequence(Cat({Integer({0x00, 0x00}), s}))},
      // at or above the order
      {"r equal to the order", Sequence(Cat({Integer(Cat({{0}, kOrder})), s}))},
      {"s equal to the order", Sequence(Cat({r, Integer(Cat({{0}, kOrder}))}))},
      {"s of 32 bytes 0xff", Sequence(Cat({r, Integer(Cat({{0}, Repeat(0xff, 32)}))}))},
      // trailing bytes
      {"a byte after the sequence", Cat({kOpensslSignature, {0x00}})},
      {"a second signature after it", Cat({kOpensslSignature, kOpensslSignature})},
      {"a third integer", Sequence(Cat({r, s, Integer(kSmall)}))},
      {"a zero byte after s, inside", Sequence(Cat({r, s, {0x00}}))},
      // missing parts
      {"only r", Sequence(r)},
      {"an empty sequence", Sequence({})},
      // wrong tags
      {"a SET", Element(0x31, Cat({r, s}))},
      {"an OCTET STRING around it", Element(0x04, kOpensslSignature)},
      {"r as a BIT STRING", Sequence(Cat({Element(0x03, Cat({{0}, kR})), s}))},
      {"s as an ENUMERATED", Sequence(Cat({r, Element(0x0a, Cat({{0}, kS}))}))},
      {"r constructed", Sequence(Cat({Element(0x22, Cat({{0}, kR})), s}))},
      {"a nested sequence", Sequence(Cat({Sequence(Cat({r, s}))}))},
      // lengths that lie
      {"sequence longer than the input", Cat({{0x30, 0x47}, Bytes(kOpensslSignature.begin() + 2, kOpensslSignature.end())})},
      {"sequence shorter than its content", Cat({{0x30, 0x45}, Bytes(kOpensslSignature.begin() + 2, kOpensslSignature.end())})},
      {"r longer than it is", Sequence(Cat({{0x02, 0x22, 0x00}, kR, s}))},
      {"r shorter than it is", Sequence(Cat({{0x02, 0x20, 0x00}, kR, s}))},
      {"s running past the sequence", Sequence(Cat({r, {0x02, 0x30}, Cat({{0}, kS})}))},
      {"sequence length in the long form", long_form},
      {"r length in the long form", r_long_form},
      {"an indefinite length", Cat({{0x30, 0x80}, r, s, {0x00, 0x00}})},
  };
  for (const Refused& row : rows) EXPECT_FALSE(ReadEcdsaP256Signature(row.der)) << row.name;
}

TEST(EcdsaDer, RefusesEveryTruncation) {
  for (std::size_t size = 0; size < kOpensslSignature.size(); ++size)
    EXPECT_FALSE(ReadEcdsaP256Signature(std::span(kOpensslSignature.data(), size))) << size << " bytes";
}

TEST(EcdsaDer, RefusesEveryOneByteChangeOfATagOrLength) {
  // The tags and lengths sit at 0, 1, 2, 3, 37 and 38 of the signature openssl wrote.
  for (const std::size_t at : {0, 1, 2, 3, 37, 38}) {
    for (const std::uint8_t flip : {0x01, 0x02, 0x10, 0x80}) {
      Bytes der = kOpensslSignature;
      der[at] ^= flip;
      EXPECT_FALSE(ReadEcdsaP256Signature(der)) << "byte " << at << " xor " << int{flip};
    }
  }
}

}  // namespace
}  // namespace kelvora

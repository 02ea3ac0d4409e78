// What the installer-key check relies on of the system's CNG: bcrypt.dll,
// loaded from System32 by full path, hashes with SHA-256 and verifies an
// ECDSA P-256 signature that openssl made (`openssl dgst -sha256 -sign`), once
// its DER form is turned into r and s side by side. Measured under Wine 8
// (which does this through GnuTLS): a good signature gives STATUS_SUCCESS, a
// changed signature or digest STATUS_INVALID_SIGNATURE (0xC000A000). On
// Windows this is documented since Windows 7.

#include <windows.h>
#include <bcrypt.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "common/system_library_win.h"

namespace kelvora {
namespace {

// Made once with openssl: a P-256 key (`openssl ecparam -name prime256v1
// -genkey`), the message below signed by it, the signature's r and s taken
// from its DER form.
constexpr char kMessage[] = "MZ a file that openssl signed";
constexpr std::array<unsigned char, 64> kPublicKeyXY = {
    0x50, 0xd9, 0x07, 0x76, 0x64, 0x57, 0x05, 0x33, 0x94, 0xf6, 0x6d, 0xac, 0xad, 0x63, 0x8a, 0x79,
    0xa0, 0x01, 0x5b, 0xa4, 0x86, 0x69, 0xa5, 0x39, 0x18, 0x29, 0x2d, 0x87, 0xeb, 0xb4, 0x36, 0x7d,
    0x76, 0x74, 0x0c, 0x1c, 0x7d, 0x47, 0x01, 0xc0, 0x09, 0xf4, 0xb1, 0x70, 0xe6, 0xec, 0x90, 0xa0,
    0x18, 0x53, 0x47, 0x90, 0x0c, 0x6e, 0xd8, 0xd4, 0x49, 0x35, 0x14, 0x28, 0x93, 0x36, 0x36, 0x63};
constexpr std::array<unsigned char, 64> kSignatureRS = {
    0xa0, 0xae, 0x02, 0x19, 0xed, 0xa0, 0xbe, 0xe5, 0xc6, 0x7f, 0x6c, 0x94, 0xaa, 0xf6, 0x56, 0xbe,
    0x3e, 0x83, 0xa7, 0x03, 0x78, 0x8d, 0xa6, 0xba, 0x0b, 0xe7, 0xd0, 0xbe, 0xd6, 0x8a, 0x31, 0xd7,
    0xba, 0x61, 0x41, 0x3b, 0xd0, 0x7a, 0xd3, 0xac, 0x32, 0x1f, 0x0e, 0xeb, 0xd6, 0xa2, 0x8d, 0x62,
    0x69, 0xc9, 0x12, 0x55, 0x97, 0xac, 0x3d, 0xd5, 0xf9, 0x2d, 0x60, 0x94, 0xfd, 0xac, 0xc0, 0xa8};

using OpenAlgorithm = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
using CloseAlgorithm = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
using HashData = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, PUCHAR, ULONG, PUCHAR, ULONG);
using ImportKeyPair = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR, BCRYPT_KEY_HANDLE*, PUCHAR,
                                        ULONG, ULONG);
using VerifySignature = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE, VOID*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
using DestroyKey = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE);

constexpr NTSTATUS kSuccess = 0;
constexpr NTSTATUS kInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);

class SystemEcdsa : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bcrypt_) << GetLastError();
    ASSERT_TRUE(open_ && close_ && hash_ && import_ && verify_ && destroy_);
    ASSERT_EQ(open_(&sha256_, BCRYPT_SHA256_ALGORITHM, nullptr, 0), kSuccess);
    ASSERT_EQ(open_(&ecdsa_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0), kSuccess);
    std::array<unsigned char, sizeof(BCRYPT_ECCKEY_BLOB) + 64> blob{};
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, kPublicKeyXY.data(), kPublicKeyXY.size());
    ASSERT_EQ(import_(ecdsa_, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key_, blob.data(), static_cast<ULONG>(blob.size()), 0),
              kSuccess);
  }
  void TearDown() override {
    if (key_) destroy_(key_);
    if (ecdsa_) close_(ecdsa_, 0);
    if (sha256_) close_(sha256_, 0);
  }
  std::array<unsigned char, 32> Digest(std::vector<unsigned char> message) const {
    std::array<unsigned char, 32> digest{};
    EXPECT_EQ(hash_(sha256_, nullptr, 0, message.data(), static_cast<ULONG>(message.size()), digest.data(), 32),
              kSuccess);
    return digest;
  }
  NTSTATUS Verify(std::array<unsigned char, 32> digest, std::array<unsigned char, 64> signature) const {
    return verify_(key_, nullptr, digest.data(), 32, signature.data(), 64, 0);
  }
  static std::vector<unsigned char> Message() { return {kMessage, kMessage + sizeof kMessage - 1}; }

  unique_hmodule bcrypt_{LoadSystemLibrary(L"bcrypt.dll")};
  OpenAlgorithm open_ = ModuleFunction<OpenAlgorithm>(bcrypt_.get(), "BCryptOpenAlgorithmProvider");
  CloseAlgorithm close_ = ModuleFunction<CloseAlgorithm>(bcrypt_.get(), "BCryptCloseAlgorithmProvider");
  HashData hash_ = ModuleFunction<HashData>(bcrypt_.get(), "BCryptHash");
  ImportKeyPair import_ = ModuleFunction<ImportKeyPair>(bcrypt_.get(), "BCryptImportKeyPair");
  VerifySignature verify_ = ModuleFunction<VerifySignature>(bcrypt_.get(), "BCryptVerifySignature");
  DestroyKey destroy_ = ModuleFunction<DestroyKey>(bcrypt_.get(), "BCryptDestroyKey");
  BCRYPT_ALG_HANDLE sha256_ = nullptr;
  BCRYPT_ALG_HANDLE ecdsa_ = nullptr;
  BCRYPT_KEY_HANDLE key_ = nullptr;
};

TEST_F(SystemEcdsa, VerifiesWhatOpensslSigned) { EXPECT_EQ(Verify(Digest(Message()), kSignatureRS), kSuccess); }

TEST_F(SystemEcdsa, RefusesAChangedMessage) {
  auto message = Message();
  message.back() ^= 1;
  EXPECT_EQ(Verify(Digest(message), kSignatureRS), kInvalidSignature);
}

TEST_F(SystemEcdsa, RefusesAChangedSignature) {
  for (const std::size_t at : {std::size_t{0}, std::size_t{31}, std::size_t{32}, std::size_t{63}}) {
    auto signature = kSignatureRS;
    signature[at] ^= 1;
    EXPECT_EQ(Verify(Digest(Message()), signature), kInvalidSignature) << "byte " << at;
  }
}

TEST_F(SystemEcdsa, RefusesRAndSSwapped) {
  std::array<unsigned char, 64> swapped{};
  std::memcpy(swapped.data(), kSignatureRS.data() + 32, 32);
  std::memcpy(swapped.data() + 32, kSignatureRS.data(), 32);
  EXPECT_EQ(Verify(Digest(Message()), swapped), kInvalidSignature);
}

}  // namespace
}  // namespace kelvora

#include "window/installer_key_check_win.h"

#include <bcrypt.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "common/system_library_win.h"
#include "download/file_pin_win.h"

namespace kelvora {

namespace {

constexpr NTSTATUS kSuccess = 0;
constexpr DWORD kDigestSize = 32;
constexpr DWORD kReadSize = 1 << 20;

// The few CNG functions the check calls, from bcrypt.dll in System32 (present
// since Windows Vista; ECDSA P-256 and SHA-256 since then too). Under Wine 8
// they work through GnuTLS: measured in tests/wine/bcrypt_ecdsa_test.cpp.
class Cng {
 public:
  Cng() noexcept : module_(LoadSystemLibrary(L"bcrypt.dll")) {}
  Cng(const Cng&) = delete;
  Cng& operator=(const Cng&) = delete;
  ~Cng() {
    if (key_) destroy_key_(key_);
    if (hash_) destroy_hash_(hash_);
    if (ecdsa_) close_(ecdsa_, 0);
    if (sha256_) close_(sha256_, 0);
  }

  bool Ready() noexcept {
    return open_ && close_ && get_property_ && create_hash_ && hash_data_ && finish_hash_ && destroy_hash_ &&
           import_ && verify_ && destroy_key_ && open_(&sha256_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == kSuccess &&
           open_(&ecdsa_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) == kSuccess;
  }

  // SHA-256 of the whole file, read through `file` from its first byte.
  bool Digest(HANDLE file, unsigned char (&digest)[kDigestSize]) noexcept {
    // Windows 7 needs the hash object's memory from the caller.
    DWORD object_size = 0;
    ULONG written = 0;
    if (get_property_(sha256_, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&object_size), sizeof object_size,
                      &written, 0) != kSuccess || object_size == 0 || object_size > (1u << 16))
      return false;
    try {
      hash_object_.resize(object_size);
      buffer_.resize(kReadSize);
    } catch (...) {
      return false;
    }
    if (create_hash_(sha256_, &hash_, hash_object_.data(), object_size, nullptr, 0, 0) != kSuccess) return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0) return false;
    // Positioned reads: the handle's own position is never relied on. The
    // file is pinned (nobody writes it), so its size stays what it was, and
    // the loop ends after size / kReadSize reads.
    for (LONGLONG offset = 0; offset < size.QuadPart;) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      const DWORD wanted = static_cast<DWORD>(std::min<LONGLONG>(kReadSize, size.QuadPart - offset));
      DWORD read = 0;
      if (!::ReadFile(file, buffer_.data(), wanted, &read, &at) || read != wanted) return false;
      if (hash_data_(hash_, buffer_.data(), read, 0) != kSuccess) return false;
      offset += read;
    }
    return finish_hash_(hash_, digest, kDigestSize, 0) == kSuccess;
  }

  bool Verifies(const InstallerKey& key, unsigned char (&digest)[kDigestSize],
                const EcdsaP256Signature& signature) noexcept {
    if (key_) destroy_key_(key_);
    key_ = nullptr;
    InstallerKey blob = key;
    if (import_(ecdsa_, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key_, blob.blob, sizeof blob.blob, 0) != kSuccess)
      return false;
    EcdsaP256Signature copy = signature;
    return verify_(key_, nullptr, digest, kDigestSize, copy.data(), static_cast<ULONG>(copy.size()), 0) == kSuccess;
  }

 private:
  using OpenAlgorithm = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
  using CloseAlgorithm = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
  using GetProperty = NTSTATUS(WINAPI*)(BCRYPT_HANDLE, LPCWSTR, PUCHAR, ULONG, ULONG*, ULONG);
  using CreateHash = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
  using HashData = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
  using FinishHash = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
  using DestroyHash = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE);
  using ImportKeyPair = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR, BCRYPT_KEY_HANDLE*, PUCHAR,
                                          ULONG, ULONG);
  using VerifySignature = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE, VOID*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
  using DestroyKey = NTSTATUS(WINAPI*)(BCRYPT_KEY_HANDLE);

  unique_hmodule module_;
  OpenAlgorithm open_ = ModuleFunction<OpenAlgorithm>(module_.get(), "BCryptOpenAlgorithmProvider");
  CloseAlgorithm close_ = ModuleFunction<CloseAlgorithm>(module_.get(), "BCryptCloseAlgorithmProvider");
  GetProperty get_property_ = ModuleFunction<GetProperty>(module_.get(), "BCryptGetProperty");
  CreateHash create_hash_ = ModuleFunction<CreateHash>(module_.get(), "BCryptCreateHash");
  HashData hash_data_ = ModuleFunction<HashData>(module_.get(), "BCryptHashData");
  FinishHash finish_hash_ = ModuleFunction<FinishHash>(module_.get(), "BCryptFinishHash");
  DestroyHash destroy_hash_ = ModuleFunction<DestroyHash>(module_.get(), "BCryptDestroyHash");
  ImportKeyPair import_ = ModuleFunction<ImportKeyPair>(module_.get(), "BCryptImportKeyPair");
  VerifySignature verify_ = ModuleFunction<VerifySignature>(module_.get(), "BCryptVerifySignature");
  DestroyKey destroy_key_ = ModuleFunction<DestroyKey>(module_.get(), "BCryptDestroyKey");
  BCRYPT_ALG_HANDLE sha256_ = nullptr;
  BCRYPT_ALG_HANDLE ecdsa_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
  BCRYPT_KEY_HANDLE key_ = nullptr;
  std::vector<UCHAR> hash_object_;
  std::vector<UCHAR> buffer_;
};

}  // namespace

bool SignedWithInstallerKey(HANDLE file, std::span<const InstallerKey> keys,
                            const EcdsaP256Signature& signature) noexcept {
  if (keys.empty()) return false;
  Cng cng;
  unsigned char digest[kDigestSize] = {};
  if (!cng.Ready() || !cng.Digest(file, digest)) return false;
  for (const InstallerKey& key : keys)
    if (cng.Verifies(key, digest, signature)) return true;
  return false;
}

bool AcceptKeySignedInstaller(const std::wstring& path, unique_file& held, std::span<const InstallerKey> keys,
                              const std::optional<EcdsaP256Signature>& signature) noexcept {
  if (keys.empty()) return true;
  bool accepted = false;
  if (signature && !path.empty()) {
    // The shell will open the file by its name: from the check to the launch
    // it must stay the very file that was checked, unwritten and unrenamed.
    held = PinFile(path, std::move(held));
    accepted = held && SignedWithInstallerKey(held.get(), keys, *signature);
  }
  if (!accepted) {
    held.reset();
    if (!path.empty()) ::DeleteFileW(path.c_str());
  }
  return accepted;
}

}  // namespace kelvora

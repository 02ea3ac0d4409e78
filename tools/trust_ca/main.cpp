// kelvora_trust_ca: makes a test CA trusted inside the Wine prefix it runs in
// (the local machine's ROOT store), never on the host.
//
//   kelvora_trust_ca CERT_FILE     PEM or DER
// Prints the certificate's SHA-1 thumbprint; exit code 0 on success.

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/unique_any.h"
#include "common/win32_handles.h"

namespace {

void close_store(HCERTSTORE store) noexcept { CertCloseStore(store, 0); }
void free_context(PCCERT_CONTEXT context) noexcept { CertFreeCertificateContext(context); }
using unique_store = kelvora::unique_any<HCERTSTORE, close_store>;
using unique_cert = kelvora::unique_any<PCCERT_CONTEXT, free_context>;

int Fail(const char* what) {
  std::fprintf(stderr, "kelvora_trust_ca: %s failed (%lu)\n", what, GetLastError());
  return 1;
}

bool ReadFileBytes(const wchar_t* path, std::vector<BYTE>* bytes) {
  kelvora::unique_file file(
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > (1 << 20)) return false;
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return ReadFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
         read == bytes->size();
}

// PEM files are turned into DER; DER passes through unchanged.
bool ToDer(const std::vector<BYTE>& input, std::vector<BYTE>* der) {
  const std::string text(input.begin(), input.end());
  if (text.find("-----BEGIN") == std::string::npos) {
    *der = input;
    return true;
  }
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                            nullptr, nullptr))
    return false;
  der->resize(size);
  return CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, der->data(),
                              &size, nullptr, nullptr) != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kelvora_trust_ca CERT_FILE\n");
    return 2;
  }
  std::vector<BYTE> raw, der;
  if (!ReadFileBytes(argv[1], &raw)) return Fail("reading the certificate file");
  if (!ToDer(raw, &der)) return Fail("decoding PEM");

  unique_store store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
  if (!store) return Fail("CertOpenStore");
  unique_cert added;
  if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, added.put()))
    return Fail("CertAddEncodedCertificateToStore");

  BYTE hash[20];
  DWORD hash_size = sizeof hash;
  if (!CertGetCertificateContextProperty(added.get(), CERT_SHA1_HASH_PROP_ID, hash, &hash_size))
    return Fail("CertGetCertificateContextProperty");
  for (DWORD i = 0; i < hash_size; ++i) std::printf("%02X", hash[i]);
  std::printf("\n");
  return 0;
}

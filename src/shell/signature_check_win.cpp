#include "shell/signature_check_win.h"

// Declarations only: both DLLs are loaded at run time from System32, so that
// neither is in the exe's import table nor looked for beside it.
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include "common/system_library_win.h"

namespace kelvora {

namespace {

struct TrustFunctions {
  unique_hmodule wintrust{LoadSystemLibrary(L"wintrust.dll")};
  unique_hmodule crypt32{LoadSystemLibrary(L"crypt32.dll")};
  decltype(&::WinVerifyTrust) verify = ModuleFunction<decltype(&::WinVerifyTrust)>(wintrust.get(), "WinVerifyTrust");
  decltype(&::WTHelperProvDataFromStateData) provider_data =
      ModuleFunction<decltype(&::WTHelperProvDataFromStateData)>(wintrust.get(), "WTHelperProvDataFromStateData");
  decltype(&::WTHelperGetProvSignerFromChain) signer =
      ModuleFunction<decltype(&::WTHelperGetProvSignerFromChain)>(wintrust.get(), "WTHelperGetProvSignerFromChain");
  decltype(&::WTHelperGetProvCertFromChain) certificate =
      ModuleFunction<decltype(&::WTHelperGetProvCertFromChain)>(wintrust.get(), "WTHelperGetProvCertFromChain");
  decltype(&::CertGetNameStringW) name_string =
      ModuleFunction<decltype(&::CertGetNameStringW)>(crypt32.get(), "CertGetNameStringW");

  bool complete() const noexcept { return verify && provider_data && signer && certificate && name_string; }
};

// The trust provider keeps its state from the verifying call until it is
// told to close it; this does so on every path.
class VerifiedState {
 public:
  VerifiedState(const TrustFunctions& functions, WINTRUST_DATA& data) noexcept
      : functions_(functions), data_(data) {
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    result_ = functions_.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  VerifiedState(const VerifiedState&) = delete;
  VerifiedState& operator=(const VerifiedState&) = delete;
  ~VerifiedState() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    functions_.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }

  bool trusted() const noexcept { return result_ == ERROR_SUCCESS; }
  HANDLE handle() const noexcept { return data_.hWVTStateData; }

 private:
  const TrustFunctions& functions_;
  WINTRUST_DATA& data_;
  GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  LONG result_ = 0;
};

std::wstring SubjectAttribute(const TrustFunctions& functions, PCCERT_CONTEXT certificate, const char* oid) {
  void* type = const_cast<char*>(oid);
  const DWORD length = functions.name_string(certificate, CERT_NAME_ATTR_TYPE, 0, type, nullptr, 0);
  if (length <= 1) return {};
  std::wstring name(length, L'\0');
  const DWORD written = functions.name_string(certificate, CERT_NAME_ATTR_TYPE, 0, type, name.data(), length);
  // The count includes the terminating NUL; any NUL before it stays in the
  // name, so that a name cut short there cannot pass for another.
  name.resize(written > 0 && written <= length ? written - 1 : 0);
  return name;
}

}  // namespace

std::optional<SignerNames> VerifiedSigner(HANDLE file, const std::wstring& path) {
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return std::nullopt;
  const TrustFunctions functions;
  if (!functions.complete()) return std::nullopt;

  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path.c_str();
  file_info.hFile = file;  // the held file itself is checked, not whatever the name finds

  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file_info;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;

  const VerifiedState state(functions, data);
  if (!state.trusted()) return std::nullopt;

  CRYPT_PROVIDER_DATA* provider = functions.provider_data(state.handle());
  CRYPT_PROVIDER_SGNR* signer = provider ? functions.signer(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* signer_certificate = signer ? functions.certificate(signer, 0) : nullptr;
  if (!signer_certificate || !signer_certificate->pCert) return std::nullopt;

  return SignerNames{SubjectAttribute(functions, signer_certificate->pCert, szOID_COMMON_NAME),
                     SubjectAttribute(functions, signer_certificate->pCert, szOID_ORGANIZATION_NAME)};
}

}  // namespace kelvora

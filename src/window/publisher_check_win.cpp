#include "window/publisher_check_win.h"

#include <windows.h>

#include "shell/publisher_name.h"
#include "shell/signature_check_win.h"
#include "window/working_file_win.h"

namespace kelvora {

namespace {

bool SignedBy(const std::wstring& path, unique_file& held, std::wstring_view publisher) {
  if (!held)
    held.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) return false;
  const auto signer = VerifiedSigner(held.get(), path);
  return signer && SignedByPublisher(publisher, *signer);
}

}  // namespace

bool AcceptInstaller(const std::wstring& path, unique_file& held, std::wstring_view publisher) noexcept {
  if (!PublisherCheckRequired(publisher)) return true;
  bool accepted = false;
  try {
    accepted = !path.empty() && SignedBy(path, held, publisher);
  } catch (...) {
  }
  if (!accepted) {
    held.reset();
    if (!path.empty()) DiscardFile(path);
  }
  return accepted;
}

}  // namespace kelvora

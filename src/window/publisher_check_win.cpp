#include "window/publisher_check_win.h"

#include <windows.h>

#include <utility>

#include "shell/publisher_name.h"
#include "shell/signature_check_win.h"
#include "download/file_pin_win.h"

namespace kelvora {

namespace {

bool SignedBy(const std::wstring& path, unique_file& held, std::wstring_view publisher) {
  // The shell will open the file by its name: from the check to the launch
  // it must stay the very file that was checked, unwritten and unrenamed.
  held = PinFile(path, std::move(held));
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
    if (!path.empty()) ::DeleteFileW(path.c_str());
  }
  return accepted;
}

}  // namespace kelvora

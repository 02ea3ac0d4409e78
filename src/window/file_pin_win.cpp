#include "window/file_pin_win.h"

#include <windows.h>

#include <utility>

namespace kelvora {

namespace {

struct FileIdentity {
  DWORD volume = 0;
  DWORD index_high = 0;
  DWORD index_low = 0;
  bool operator==(const FileIdentity&) const = default;
};

bool IdentityOf(HANDLE file, FileIdentity& identity) noexcept {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return false;
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

}  // namespace

unique_file PinFile(const std::wstring& path, unique_file held) noexcept {
  FileIdentity expected;
  const bool compare = static_cast<bool>(held);
  if (compare && !IdentityOf(held.get(), expected)) return {};
  // The held handle may allow others to delete; this one must not. It can
  // only be had once the held one (which may carry delete access) is closed.
  held.reset();
  unique_file pinned(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!pinned) return {};
  // Between the two handles the file could have been swapped; whatever was
  // written to it meanwhile is for the signature check on this handle to see.
  FileIdentity found;
  if (compare && (!IdentityOf(pinned.get(), found) || !(found == expected))) return {};
  return pinned;
}

}  // namespace kelvora

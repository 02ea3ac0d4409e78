#include "download/file_pin_win.h"

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

bool IsLinkOrFolder(HANDLE file) noexcept {
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof(info))) return true;
  return info.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY);
}

// Opens what is at `path` itself, a link not followed: `access` only.
unique_file OpenName(const std::wstring& path, DWORD access, DWORD share) noexcept {
  return unique_file(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

}  // namespace

unique_file PinFile(const std::wstring& path, unique_file held) noexcept {
  if (!held) {
    // A file an earlier run left: whatever is at the name, if it is a file.
    unique_file pinned = OpenName(path, GENERIC_READ, FILE_SHARE_READ);
    if (!pinned || IsLinkOrFolder(pinned.get())) return {};
    return pinned;
  }
  // A new handle on the held file itself, never an open by name. Its share
  // mode must allow what every other open handle has, so it fails while
  // anybody else has the file open for writing or deleting.
  FileIdentity expected;
  if (!IdentityOf(held.get(), expected)) return {};
  unique_file pinned(::ReOpenFile(held.get(), GENERIC_READ, FILE_SHARE_READ, 0));
  if (!pinned) return {};
  held.reset();
  // The new handle, and the file the shell will find by name, must be this
  // very file: not one swapped in after it was moved away, nor a link. (Some
  // systems reopen a handle by the name it was opened with.)
  FileIdentity reopened, at_name_identity;
  const unique_file at_name = OpenName(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!at_name || IsLinkOrFolder(at_name.get()) || !IdentityOf(pinned.get(), reopened) || !(reopened == expected) ||
      !IdentityOf(at_name.get(), at_name_identity) || !(at_name_identity == expected))
    return {};
  return pinned;
}

}  // namespace kelvora

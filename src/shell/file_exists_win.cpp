#include <windows.h>

#include "common/win32_handles.h"
#include "shell/file_exists.h"

namespace kelvora {

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME) return false;
    // Files the system keeps locked (a page file, say) refuse their
    // attributes but still show up in a directory listing.
    WIN32_FIND_DATAW entry;
    unique_find search(::FindFirstFileW(path.c_str(), &entry));
    if (!search) return false;
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link: present when its target is a file that can be opened, or that
    // someone else holds open without sharing it.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file) return true;
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace kelvora

#include "window/working_file_win.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "common/win32_error.h"

namespace kelvora {

std::wstring WorkingFileName(const std::wstring& target) { return target + L".part"; }

void RemoveEarlierFile(const std::wstring& path) {
  if (::DeleteFileW(path.c_str())) return;
  const DWORD error = ::GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
    throw Win32Error("DeleteFileW", error);
}

void PrepareFile(const std::wstring& path, std::int64_t size) {
  unique_file file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) ThrowLastError("CreateFileW");
  LARGE_INTEGER end{};
  end.QuadPart = size > 0 ? size : 0;
  if (!::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get()))
    ThrowLastError("SetEndOfFile");
}

unique_file PutInPlace(const std::wstring& working, const std::wstring& target) {
  // Renamed through a handle that lets others only read, so nobody can
  // write or replace the file from here on.
  unique_file renamed(::CreateFileW(working.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!renamed) ThrowLastError("CreateFileW");

  const size_t name_bytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(rename->FileName, target.c_str(), name_bytes);
  if (!::SetFileInformationByHandle(renamed.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size())))
    ThrowLastError("SetFileInformationByHandle");

  // Held from here on by a plain read handle on the same file object (not
  // reopened by name, which could find another file): the launching shell
  // then needs no delete sharing. Where that cannot be had, the renaming
  // handle keeps the file just as safe.
  unique_file held(::ReOpenFile(renamed.get(), GENERIC_READ, FILE_SHARE_READ, 0));
  return held ? std::move(held) : std::move(renamed);
}

void DiscardFile(const std::wstring& path) { ::DeleteFileW(path.c_str()); }

}  // namespace kelvora

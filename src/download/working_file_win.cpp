#include "download/working_file_win.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "common/win32_error.h"
#include "download/file_pin_win.h"

namespace kelvora {

std::wstring WorkingFileName(const std::wstring& target) { return target + L".part"; }

void RemoveEarlierFile(const std::wstring& path) {
  // Attributes of the name itself: a link is not followed.
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    throw Win32Error("GetFileAttributesW", error);
  }
  const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
  const bool link = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
  // A real folder is somebody's data: it stays, and the run fails.
  if (folder && !link) throw Win32Error("RemoveEarlierFile", ERROR_ACCESS_DENIED);
  if (attributes & FILE_ATTRIBUTE_READONLY)
    ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  // A folder link or junction goes with RemoveDirectoryW, which removes the
  // link and leaves its target alone.
  if (!(folder ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str()))) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      throw Win32Error(folder ? "RemoveDirectoryW" : "DeleteFileW", error);
  }
}

unique_file CreateWorkingFile(const std::wstring& path, std::int64_t size) {
  RemoveEarlierFile(path);
  // CREATE_NEW never opens what is there: a file or link put at the name
  // after the removal fails the run instead of being written through.
  // Shared for reading only: nobody else can write, rename or delete it
  // while the run has it open.
  unique_file file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                 CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) ThrowLastError("CreateFileW");
  LARGE_INTEGER end{};
  end.QuadPart = size > 0 ? size : 0;
  if (!::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get())) {
    const DWORD error = ::GetLastError();
    DiscardFile(std::move(file));
    throw Win32Error("SetEndOfFile", error);
  }
  LARGE_INTEGER start{};
  ::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN);
  return file;
}

unique_file DuplicateFileHandle(HANDLE file) {
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), file, ::GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
    ThrowLastError("DuplicateHandle");
  return unique_file(copy);
}

void RenameThrough(HANDLE file, const std::wstring& target) {
  const size_t name_bytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(rename->FileName, target.c_str(), name_bytes);
  if (!::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())))
    ThrowLastError("SetFileInformationByHandle");
}

unique_file PutInPlace(unique_file working, const std::wstring& target) {
  // The rename goes through the run's own handle: the file at the target
  // name is this one from the first moment, and until the writing handle is
  // closed nobody else can open it for anything but reading.
  try {
    RenameThrough(working.get(), target);
  } catch (...) {
    DiscardFile(std::move(working));
    throw;
  }
  // The hold that follows reads and shares only reading; it cannot be had
  // while the writing handle is open, so a reader that shares everything
  // bridges the step. Each is a new handle on this very file, never an open
  // by name, which could find another file.
  unique_file bridge(::ReOpenFile(working.get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  0));
  if (!bridge) {
    const DWORD error = ::GetLastError();
    DiscardFile(std::move(working));
    throw Win32Error("ReOpenFile", error);
  }
  working.reset();
  // Fails if anybody opened the file for writing, renaming or deleting in
  // the moment between; the identity check below catches one who did and
  // is gone again, having moved the file away.
  unique_file held = PinFile(target, std::move(bridge));
  if (!held) throw Win32Error("PinFile", ERROR_SHARING_VIOLATION);
  return held;
}

void DiscardFile(unique_file file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof(disposition));
}

void DiscardFile(const std::wstring& path) { ::DeleteFileW(path.c_str()); }

}  // namespace kelvora

#pragma once
// A fresh folder under the temporary folder for one test. Whatever the test
// leaves in it (files, links, folders) goes with it; links are removed, never
// followed.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "common/text.h"
#include "common/win32_handles.h"

namespace kelvora::testing {

class ScratchFolder {
 public:
  // `name` keeps the folders of different tests apart.
  explicit ScratchFolder(std::wstring_view name) {
    wchar_t buffer[MAX_PATH];
    const DWORD n = ::GetTempPathW(MAX_PATH, buffer);
    root_ = std::wstring(buffer, n) + L"kelvora_" + std::wstring(name) + L"_" +
            std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(root_.c_str(), nullptr);
  }
  ~ScratchFolder() { Remove(root_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::wstring& Root() const { return root_; }
  std::wstring Path(std::wstring_view name) const { return root_ + L"\\" + std::wstring(name); }

 private:
  static void Remove(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    unique_find find(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (find) {
      do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
          ::DeleteFileW(path.c_str());
        else if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
          ::RemoveDirectoryW(path.c_str());  // a link to a folder: the link only
        else
          Remove(path);
      } while (::FindNextFileW(find.get(), &entry));
    }
    find.reset();
    ::RemoveDirectoryW(folder.c_str());
  }

  std::wstring root_;
};

// Creates or replaces the file at `path` with `content`.
inline void WriteTestFile(const std::wstring& path, std::string_view content) {
  unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file) << ToUtf8(path);
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
}

}  // namespace kelvora::testing

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "common/win32_handles.h"
#include "scratch_folder.h"
#include "shell/file_exists.h"

namespace kelvora {
namespace {

// The tests' folder, with the kinds of entries the file-exists test meets.
class Scratch : public testing::ScratchFolder {
 public:
  Scratch() : ScratchFolder(L"exists") {}
  std::wstring File(const std::wstring& name) {
    const std::wstring path = Path(name);
    testing::WriteTestFile(path, "");
    return path;
  }
  std::wstring Folder(const std::wstring& name) {
    const std::wstring path = Path(name);
    EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << ToUtf8(path);
    return path;
  }
  // A symbolic link, or empty when the system cannot make one.
  std::wstring Link(const std::wstring& name, const std::wstring& target, bool directory) {
    const std::wstring path = Path(name);
    if (!CreateSymbolicLinkW(path.c_str(), target.c_str(), directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0)) return {};
    return path;
  }
};

TEST(FileExists, PlainPaths) {
  Scratch scratch;
  const std::wstring held = scratch.File(L"held.exe");
  // Held open without any sharing, as an installer still being written would be.
  unique_file holder(CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);

  struct Row {
    const char* name;
    std::wstring path;
    bool exists;
  };
  const Row rows[] = {
      {"missing file", scratch.Path(L"fehlt.exe"), false},
      {"existing file", scratch.File(L"Kelvora_Install.exe"), true},
      {"empty file with a Cyrillic name", scratch.File(L"Установка.exe"), true},
      {"directory", scratch.Folder(L"Ordner.exe"), false},
      {"file held open without sharing", held, true},
      {"path in a missing folder", scratch.Path(L"fehlt\\Kelvora_Install.exe"), false},
      {"name with a wildcard", scratch.Path(L"Kelvora_*.exe"), false},
      {"empty path", L"", false},
  };
  for (const auto& row : rows) EXPECT_EQ(FileExists(row.path), row.exists) << row.name << ": " << ToUtf8(row.path);
}

TEST(FileExists, LinksAreFollowed) {
  Scratch scratch;
  const std::wstring file = scratch.File(L"target.exe");
  const std::wstring folder = scratch.Folder(L"target_folder");
  const std::wstring to_file = scratch.Link(L"to_file.exe", file, false);
  if (to_file.empty()) GTEST_SKIP() << "symbolic links cannot be made here (error " << GetLastError() << ")";
  // Wine 8 reports success but leaves a link that does not resolve.
  const DWORD attributes = GetFileAttributesW(to_file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "symbolic links do not work here (attributes " << attributes << ", error " << GetLastError() << ")";

  const std::wstring held = scratch.File(L"held.exe");
  unique_file holder(CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);

  struct Row {
    const char* name;
    std::wstring path;
    bool exists;
  };
  const Row rows[] = {
      {"link to a file", to_file, true},
      {"link to a missing file", scratch.Link(L"dangling.exe", scratch.Path(L"missing.exe"), false), false},
      {"link to a folder", scratch.Link(L"to_folder", folder, true), false},
      {"link to a file held without sharing", scratch.Link(L"to_held.exe", held, false), true},
  };
  for (const auto& row : rows) {
    ASSERT_FALSE(row.path.empty()) << row.name;
    EXPECT_EQ(FileExists(row.path), row.exists) << row.name;
  }
}

}  // namespace
}  // namespace kelvora

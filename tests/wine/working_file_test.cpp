#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "common/win32_handles.h"
#include "scratch_folder.h"
#include "download/working_file_win.h"

namespace kelvora {
namespace {

// The tests' folder, named apart from the other tests'.
class Scratch : public testing::ScratchFolder {
 public:
  Scratch() : ScratchFolder(L"working") {}
};

void Write(const std::wstring& path, const std::string& content) { testing::WriteTestFile(path, content); }

std::string Read(const std::wstring& path) {
  unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return "<cannot open>";
  std::string content(1 << 16, '\0');
  DWORD read = 0;
  ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
  content.resize(read);
  return content;
}

void WriteThrough(HANDLE file, const std::string& content) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
}

// Whether another opener gets the file with this access and sharing.
bool Opens(const std::wstring& path, DWORD access, DWORD share) {
  return static_cast<bool>(
      unique_file(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TEST(WorkingFile, IsCreatedNewWhateverIsAtItsName) {
  struct Case {
    const char* name;
    void (*prepare)(const Scratch& scratch, const std::wstring& path);
  };
  const Case cases[] = {
      {"nothing", [](const Scratch&, const std::wstring&) {}},
      {"an earlier file", [](const Scratch&, const std::wstring& path) { Write(path, "an earlier file's bytes"); }},
      {"a read-only file",
       [](const Scratch&, const std::wstring& path) {
         Write(path, "read-only");
         SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
       }},
      {"a hard link to another file",
       [](const Scratch& scratch, const std::wstring& path) {
         Write(scratch.Path(L"other.bin"), "somebody else's file");
         ASSERT_TRUE(CreateHardLinkW(path.c_str(), scratch.Path(L"other.bin").c_str(), nullptr));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    const std::wstring path = scratch.Path(L"Kelvora_Install.exe.part");
    c.prepare(scratch, path);
    unique_file working = CreateWorkingFile(path, 5);
    WriteThrough(working.get(), "fresh");
    EXPECT_EQ(Read(path), "fresh");
    if (GetFileAttributesW(scratch.Path(L"other.bin").c_str()) != INVALID_FILE_ATTRIBUTES) {
      EXPECT_EQ(Read(scratch.Path(L"other.bin")), "somebody else's file");
    }
    DiscardFile(std::move(working));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TEST(WorkingFile, AFolderAtItsNameStaysAndFailsTheRun) {
  Scratch scratch;
  const std::wstring path = scratch.Path(L"Kelvora_Install.exe.part");
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  EXPECT_THROW(CreateWorkingFile(path, 5), std::exception);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST(WorkingFile, OnlyTheRunsHandlesWriteItFromCreationToLaunch) {
  Scratch scratch;
  const std::wstring working_name = scratch.Path(L"Kelvora_Install.exe.part");
  const std::wstring target = scratch.Path(L"Kelvora_Install.exe");
  Write(target, "an earlier installer");

  unique_file working = CreateWorkingFile(working_name, 10);
  EXPECT_FALSE(Opens(working_name, GENERIC_WRITE, kShareAll));
  EXPECT_FALSE(Opens(working_name, DELETE, kShareAll));  // nor renamed or deleted
  EXPECT_FALSE(MoveFileW(working_name.c_str(), scratch.Path(L"aside.part").c_str()));
  {
    // The worker's handle: a duplicate, the same file.
    unique_file worker = DuplicateFileHandle(working.get());
    WriteThrough(worker.get(), "0123456789");
  }
  EXPECT_FALSE(Opens(working_name, GENERIC_WRITE, kShareAll));

  unique_file held = PutInPlace(std::move(working), target);
  EXPECT_EQ(GetFileAttributesW(working_name.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Read(target), "0123456789");
  // Held for reading, sharing reading only: a reader that shares only
  // reading (as the shell may open it) gets in; nobody writes, renames or
  // deletes it, nor puts another file at its name.
  EXPECT_TRUE(Opens(target, GENERIC_READ, FILE_SHARE_READ));
  EXPECT_TRUE(Opens(target, GENERIC_READ | FILE_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE));
  EXPECT_FALSE(Opens(target, GENERIC_WRITE, kShareAll));
  EXPECT_FALSE(Opens(target, GENERIC_READ | GENERIC_WRITE, kShareAll));
  EXPECT_FALSE(Opens(target, DELETE, kShareAll));
  EXPECT_FALSE(DeleteFileW(target.c_str()));
  EXPECT_FALSE(MoveFileW(target.c_str(), scratch.Path(L"aside.exe").c_str()));
  Write(working_name, "a stranger");
  EXPECT_FALSE(MoveFileExW(working_name.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Read(target), "0123456789");
  held.reset();
  EXPECT_TRUE(Opens(target, GENERIC_WRITE, 0));
}

}  // namespace
}  // namespace kelvora

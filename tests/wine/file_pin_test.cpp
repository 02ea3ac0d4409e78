#include "download/file_pin_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/win32_handles.h"
#include "scratch_folder.h"

namespace kelvora {
namespace {

class FilePin : public ::testing::Test {
 protected:
  static void Write(const std::wstring& path, const char* text) { testing::WriteTestFile(path, text); }
  // How the run holds the file it put in place just before it pins it: a
  // reader that shares everything (the step from the writing handle).
  unique_file Held() const {
    return unique_file(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  unique_file Open(DWORD access, DWORD share) const {
    return unique_file(CreateFileW(path_.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  testing::ScratchFolder folder_{L"pin"};
  const std::wstring path_ = folder_.Path(L"Kelvora_Install.exe");
  const std::wstring aside_ = folder_.Path(L"aside.exe");
};

TEST_F(FilePin, ThePinnedFileCannotBeWrittenRenamedOrDeleted) {
  Write(path_, "MZ checked");
  unique_file held = Held();
  ASSERT_TRUE(held);
  const unique_file pinned = PinFile(path_, std::move(held));
  ASSERT_TRUE(pinned);
  EXPECT_FALSE(MoveFileW(path_.c_str(), aside_.c_str()));
  EXPECT_FALSE(DeleteFileW(path_.c_str()));
  EXPECT_FALSE(Open(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  EXPECT_FALSE(Open(DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  // Reading, as the shell does to start it, still works.
  EXPECT_TRUE(Open(GENERIC_READ, FILE_SHARE_READ));
  EXPECT_TRUE(Open(GENERIC_READ | FILE_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE));
}

TEST_F(FilePin, AFileSwappedInUnderTheNameIsNotPinned) {
  Write(path_, "MZ checked");
  unique_file held = Held();
  ASSERT_TRUE(held);
  ASSERT_TRUE(MoveFileW(path_.c_str(), aside_.c_str()));  // the hold shares delete: a rename goes through
  Write(path_, "MZ swapped in");
  EXPECT_FALSE(PinFile(path_, std::move(held)));
}

TEST_F(FilePin, WithoutAHoldTheFileAtTheNameIsPinned) {
  EXPECT_FALSE(PinFile(path_, unique_file()));  // nothing there
  Write(path_, "MZ from an earlier run");
  const unique_file pinned = PinFile(path_, unique_file());
  ASSERT_TRUE(pinned);
  EXPECT_FALSE(DeleteFileW(path_.c_str()));
}

TEST_F(FilePin, AFileOpenForWritingOrDeletingBesideTheHoldIsNotPinned) {
  for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{DELETE}}) {
    Write(path_, "MZ checked");
    unique_file held = Held();
    ASSERT_TRUE(held);
    const unique_file other = Open(access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(other);
    EXPECT_FALSE(PinFile(path_, std::move(held)));
  }
}

TEST_F(FilePin, ALinkAtTheNameIsNeverFollowed) {
  Write(aside_, "MZ elsewhere");
  if (!CreateSymbolicLinkW(path_.c_str(), aside_.c_str(), 0)) GTEST_SKIP() << "no symbolic links here";
  EXPECT_FALSE(PinFile(path_, unique_file()));
  // Held through a handle on the file it points to, the name is still not that file.
  unique_file held(CreateFileW(aside_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  EXPECT_FALSE(PinFile(path_, std::move(held)));
}

TEST_F(FilePin, AFileOpenForWritingIsNotPinned) {
  Write(path_, "MZ being written");
  const unique_file writer = Open(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ASSERT_TRUE(writer);
  EXPECT_FALSE(PinFile(path_, unique_file()));
}

}  // namespace
}  // namespace kelvora

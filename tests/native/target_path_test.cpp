#include "window/target_path.h"

#include <gtest/gtest.h>

namespace kelvora {
namespace {

TEST(TargetPath, JoinTable) {
  struct Row {
    const wchar_t* folder;
    const wchar_t* expected;
  };
  const Row rows[] = {
      {L"C:\\Users\\Anna\\AppData\\Local\\Temp\\", L"C:\\Users\\Anna\\AppData\\Local\\Temp\\Kelvora_Install.exe"},
      {L"C:\\Temp", L"C:\\Temp\\Kelvora_Install.exe"},
      {L"C:/Temp/", L"C:/Temp/Kelvora_Install.exe"},
      {L"C:", L"C:Kelvora_Install.exe"},
      {L"\\\\server\\share\\", L"\\\\server\\share\\Kelvora_Install.exe"},
      {L"C:\\Пользователь\\Temp\\", L"C:\\Пользователь\\Temp\\Kelvora_Install.exe"},
      // U+015C ends in the byte 0x5C but is no separator.
      {L"C:\\Temp\\\u015C", L"C:\\Temp\\\u015C\\Kelvora_Install.exe"},
      {L"", L"Kelvora_Install.exe"},
  };
  for (const auto& row : rows) EXPECT_EQ(JoinTargetPath(row.folder), row.expected);
}

TEST(TargetPath, OnlyAFolderGivenInFullIsUsable) {
  struct Row {
    const wchar_t* folder;
    bool usable;
  };
  const Row rows[] = {
      {L"C:\\Users\\Anna\\AppData\\Local\\Temp\\", true},
      {L"c:/Temp/", true},
      {L"\\\\server\\share\\Temp\\", true},
      {L"\\\\?\\C:\\Temp\\", true},
      {L"", false},          // GetTempPathW or GetLongPathNameW failed
      {L"Temp\\", false},    // relative to the current folder
      {L"C:Temp\\", false},  // relative to the current folder of drive C:
      {L"C:", false},
      {L"\\Temp\\", false},  // rooted on the current drive
      {L"\\\\\\server\\", false},
      {L"1:\\Temp\\", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(IsFullyQualifiedFolder(row.folder), row.usable) << testing::PrintToString(std::wstring(row.folder));
}

}  // namespace
}  // namespace kelvora

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

}  // namespace
}  // namespace kelvora

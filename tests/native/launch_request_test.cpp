#include "shell/launch_request.h"

#include <gtest/gtest.h>

namespace kelvora {
namespace {

TEST(LaunchRequest, DirectoryPartTable) {
  struct Row {
    const wchar_t* file_name;
    const wchar_t* directory;
  };
  const Row rows[] = {
      {L"C:\\Temp\\Kelvora_Install.exe", L"C:\\Temp"},
      {L"C:\\Kelvora_Install.exe", L"C:\\"},
      {L"C:Kelvora_Install.exe", L"C:"},
      {L"\\Kelvora_Install.exe", L"\\"},
      {L"Kelvora_Install.exe", L""},
      {L"", L""},
      {L"C:\\Temp\\", L"C:\\Temp"},
      {L"\\\\server\\share\\Kelvora_Install.exe", L"\\\\server\\share"},
      {L"\\\\Kelvora_Install.exe", L"\\\\"},
      {L"C:\\Temp\\\\Kelvora_Install.exe", L"C:\\Temp\\\\"},
      {L"C:\\a:b", L"C:\\a:"},
      // Slashes are not separators here.
      {L"C:/Temp/Kelvora_Install.exe", L"C:"},
      {L"Temp/Kelvora_Install.exe", L""},
      {L"C:\\Пользователь\\Temp\\Kelvora_Install.exe", L"C:\\Пользователь\\Temp"},
      // Characters whose low byte is 0x5C or 0x3A do not count.
      {L"C:\\Temp\\a\u015Cb\u013Ac.exe", L"C:\\Temp"},
      {L"a\uFF3Cb\u013Ac.exe", L""},
  };
  for (const auto& row : rows) EXPECT_EQ(DirectoryPart(row.file_name), row.directory) << "file name: " << row.file_name;
}

TEST(LaunchRequest, QuotedTable) {
  EXPECT_EQ(Quoted(L""), L"\"\"");
  EXPECT_EQ(Quoted(L"C:\\Temp"), L"\"C:\\Temp\"");
  EXPECT_EQ(Quoted(L"a \"b\""), L"\"a \"b\"\"");
}

TEST(LaunchRequest, RequestTable) {
  struct Row {
    const wchar_t* file_name;
    const wchar_t* parameters;
    uint16_t show;
    LaunchRequest expected;
  };
  const Row rows[] = {
      {L"C:\\Users\\Пётр\\Temp\\Kelvora_Install.exe",
       L"",
       1,
       {L"open", L"\"C:\\Users\\Пётр\\Temp\\Kelvora_Install.exe\"", L"", L"\"C:\\Users\\Пётр\\Temp\"", 1}},
      {L"C:\\Kelvora_Install.exe", L"/S /D=x", 3, {L"open", L"\"C:\\Kelvora_Install.exe\"", L"/S /D=x", L"\"C:\\\"", 3}},
      {L"Kelvora_Install.exe", L"", 0, {L"open", L"\"Kelvora_Install.exe\"", L"", L"\"\"", 0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file_name);
    const LaunchRequest request = MakeLaunchRequest(row.file_name, row.parameters, row.show);
    EXPECT_EQ(request.verb, row.expected.verb);
    EXPECT_EQ(request.file, row.expected.file);
    EXPECT_EQ(request.parameters, row.expected.parameters);
    EXPECT_EQ(request.directory, row.expected.directory);
    EXPECT_EQ(request.show_command, row.expected.show_command);
  }
}

}  // namespace
}  // namespace kelvora

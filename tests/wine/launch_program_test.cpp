#include "shell/launch_program.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/win32_handles.h"
#include "replaceable_launch_program_win.h"

namespace kelvora {
namespace {

// Everything LaunchProgram handed to the shell, copied at the call.
struct Captured {
  DWORD size = 0;
  ULONG mask = 0;
  HWND hwnd = nullptr;
  HWND foreground_at_call = nullptr;
  std::optional<std::wstring> verb, file, parameters, directory;
  int show = -1;
  bool other_fields_zero = false;
};

std::vector<Captured> g_calls;
HANDLE g_handle_to_return = nullptr;
bool g_pass_through = false;

std::optional<std::wstring> Text(LPCWSTR text) {
  if (text == nullptr) return std::nullopt;
  return std::wstring(text);
}

BOOL WINAPI RecordingShellExecute(SHELLEXECUTEINFOW* info) {
  Captured call;
  call.size = info->cbSize;
  call.mask = info->fMask;
  call.hwnd = info->hwnd;
  call.foreground_at_call = GetForegroundWindow();
  call.verb = Text(info->lpVerb);
  call.file = Text(info->lpFile);
  call.parameters = Text(info->lpParameters);
  call.directory = Text(info->lpDirectory);
  call.show = info->nShow;
  call.other_fields_zero = info->hInstApp == nullptr && info->lpIDList == nullptr && info->lpClass == nullptr &&
                           info->hkeyClass == nullptr && info->dwHotKey == 0 && info->hIcon == nullptr &&
                           info->hProcess == nullptr;
  g_calls.push_back(call);
  if (g_pass_through) return ShellExecuteExW(info);
  info->hProcess = g_handle_to_return;
  return TRUE;
}

class LaunchProgramTest : public testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    g_handle_to_return = nullptr;
    g_pass_through = false;
    previous_ = ReplaceShellExecuteForTesting(&RecordingShellExecute);
  }
  void TearDown() override { ReplaceShellExecuteForTesting(previous_); }

 private:
  ShellExecuteFunction previous_ = nullptr;
};

bool HandleIsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

TEST_F(LaunchProgramTest, HandsTheShellQuotedFileAndFolder) {
  struct Row {
    std::wstring file_name;
    std::wstring parameters;
    uint16_t show;
    std::wstring file;
    std::wstring directory;
  };
  const Row rows[] = {
      {L"C:\\users\\Пётр\\Temp\\Kelvora_Install.exe", L"", SW_SHOWNORMAL,
       L"\"C:\\users\\Пётр\\Temp\\Kelvora_Install.exe\"", L"\"C:\\users\\Пётр\\Temp\""},
      {L"C:\\Kelvora_Install.exe", L"/S", SW_SHOWMAXIMIZED, L"\"C:\\Kelvora_Install.exe\"", L"\"C:\\\""},
      {L"Kelvora_Install.exe", L"", SW_HIDE, L"\"Kelvora_Install.exe\"", L"\"\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(ToUtf8(row.file_name));
    g_calls.clear();
    EXPECT_EQ(LaunchProgram(row.file_name, row.parameters, false, row.show), 0u) << "no process came back";
    ASSERT_EQ(g_calls.size(), 1u);
    const Captured& call = g_calls[0];
    EXPECT_EQ(call.size, sizeof(SHELLEXECUTEINFOW));
    EXPECT_EQ(call.mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS));
    EXPECT_EQ(call.hwnd, call.foreground_at_call);
    EXPECT_EQ(call.verb, L"open");
    EXPECT_EQ(call.file, row.file);
    ASSERT_TRUE(call.parameters.has_value()) << "parameters must never be null";
    EXPECT_EQ(call.parameters, row.parameters);
    EXPECT_EQ(call.directory, row.directory);
    EXPECT_EQ(call.show, row.show);
    EXPECT_TRUE(call.other_fields_zero);
  }
}

TEST_F(LaunchProgramTest, EmptyFileNameDoesNothing) {
  EXPECT_EQ(LaunchProgram(L"", L"/S", true, SW_SHOWNORMAL), 0u);
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(LaunchProgramTest, ProcessHandleIsClosedOnEveryPath) {
  // A running process (this one) without waiting: its exit code is STILL_ACTIVE.
  HANDLE self = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  g_handle_to_return = self;
  EXPECT_EQ(LaunchProgram(L"C:\\a.exe", L"", false, SW_SHOWNORMAL), static_cast<uint32_t>(STILL_ACTIVE));
  EXPECT_FALSE(HandleIsOpen(self));

  // A handle whose exit code cannot be read: 0, and still closed.
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_NE(event, nullptr);
  g_handle_to_return = event;
  EXPECT_EQ(LaunchProgram(L"C:\\a.exe", L"", true, SW_SHOWNORMAL), 0u);
  EXPECT_FALSE(HandleIsOpen(event));
}

std::wstring ModuleFolder() {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  std::wstring path(buffer, n);
  return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring ReadUtf16File(const std::wstring& path) {
  unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::wstring text(GetFileSize(file.get(), nullptr) / sizeof(wchar_t), L'\0');
  DWORD read = 0;
  ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
  text.resize(read / sizeof(wchar_t));
  return text;
}

TEST_F(LaunchProgramTest, StartsAProgramFromACyrillicFolderAndWaitsForIt) {
  const std::wstring source = ModuleFolder() + L"\\kelvora_launch_target.exe";
  ASSERT_NE(GetFileAttributesW(source.c_str()), INVALID_FILE_ATTRIBUTES) << "build kelvora_launch_target first";

  wchar_t temp[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp, n) + L"Пётр Тест " + std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring program = folder + L"\\Установка Kelvora.exe";
  const std::wstring log = folder + L"\\launch_target.log";
  ASSERT_TRUE(CopyFileW(source.c_str(), program.c_str(), FALSE));

  g_pass_through = true;
  const uint32_t exit_code = LaunchProgram(program, L"42 ключ", true, SW_SHOWMINNOACTIVE);
  const std::wstring record = ReadUtf16File(log);
  DeleteFileW(log.c_str());
  DeleteFileW(program.c_str());
  RemoveDirectoryW(folder.c_str());

  EXPECT_EQ(exit_code, 42u) << "the exit code comes from the started program, read after waiting";
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].directory, L"\"" + folder + L"\"");
  // Command line, show command and working folder, one per line.
  const auto first_break = record.find(L'\n');
  ASSERT_NE(first_break, std::wstring::npos) << "the program left no record";
  const std::wstring command_line = record.substr(0, first_break);
  EXPECT_NE(command_line.find(L"Установка Kelvora.exe"), std::wstring::npos) << ToUtf8(command_line);
  EXPECT_NE(command_line.find(L"42 ключ"), std::wstring::npos) << ToUtf8(command_line);
  const auto second_break = record.find(L'\n', first_break + 1);
  EXPECT_EQ(record.substr(first_break + 1, second_break - first_break - 1), std::to_wstring(SW_SHOWMINNOACTIVE));
}

}  // namespace
}  // namespace kelvora

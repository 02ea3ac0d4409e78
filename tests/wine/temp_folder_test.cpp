#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "window/temp_folder.h"

namespace kelvora {
namespace {

std::wstring Environment(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

// Points TMP and TEMP (GetTempPathW reads both, TMP first) at a folder and
// puts the old values back afterwards.
class TempVariables {
 public:
  TempVariables() : tmp_(Environment(L"TMP")), temp_(Environment(L"TEMP")) {}
  ~TempVariables() {
    SetEnvironmentVariableW(L"TMP", tmp_.empty() ? nullptr : tmp_.c_str());
    SetEnvironmentVariableW(L"TEMP", temp_.empty() ? nullptr : temp_.c_str());
  }
  void PointAt(const std::wstring& folder) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", folder.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TEMP", folder.c_str()));
  }

 private:
  std::wstring tmp_;
  std::wstring temp_;
};

// Removes the folders it was given, deepest first. \\?\ lets the long ones go too.
class Folders {
 public:
  ~Folders() {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) RemoveDirectoryW((L"\\\\?\\" + *it).c_str());
  }
  bool Make(const std::wstring& folder) {
    if (!CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) return false;
    made_.push_back(folder);
    return true;
  }

 private:
  std::vector<std::wstring> made_;
};

std::wstring Base() {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, buffer);
  std::wstring base(buffer, n);
  return base + L"kelvora_temp_" + std::to_wstring(GetCurrentProcessId());
}

TEST(TemporaryFolder, FollowsTheEnvironment) {
  TempVariables variables;
  Folders folders;
  const std::wstring base = Base();
  ASSERT_TRUE(folders.Make(base));

  const std::wstring cyrillic = base + L"\\Временные файлы";
  ASSERT_TRUE(folders.Make(cyrillic));

  // The longest folder whose path with the backslash still fits MAX_PATH with
  // its terminator, and two that do not fit.
  const auto padded = [&](size_t length) {
    std::wstring folder = base + L"\\edge_" + std::to_wstring(length) + L"_";
    folder.resize(length, L'x');
    return folder;
  };
  const std::wstring fits = padded(MAX_PATH - 2);
  const std::wstring edge = padded(MAX_PATH - 1);
  ASSERT_TRUE(folders.Make(fits));
  ASSERT_TRUE(folders.Make(edge));
  std::wstring deep = base;
  for (int i = 0; deep.size() <= 300; ++i) {
    deep += L"\\long_folder_name_" + std::to_wstring(i) + L"_abcdefghijklmnopqrstuvwxyz";
    ASSERT_TRUE(folders.Make(deep)) << ToUtf8(deep);
  }

  struct Row {
    const char* name;
    std::wstring folder;
    std::wstring expected;
  };
  std::vector<Row> rows = {
      {"Cyrillic folder, backslash appended", cyrillic, cyrillic + L"\\"},
      {"folder with its trailing backslash", cyrillic + L"\\", cyrillic + L"\\"},
      {"259 characters with the backslash", fits, fits + L"\\"},
      {"missing folder", base + L"\\fehlt", L""},
  };
  // Windows hands out a temporary path of MAX_PATH characters or more when
  // asked with a buffer large enough. Wine 8 refuses such paths (error 206)
  // even then, and there is no folder: TemporaryFolder must then be empty.
  const Row too_long[] = {{"260 characters with the backslash", edge, edge + L"\\"},
                          {"longer than 300 characters", deep, deep + L"\\"}};
  for (const auto& row : too_long) {
    variables.PointAt(row.folder);
    std::vector<wchar_t> large(32768);
    const bool system_takes_it = GetTempPathW(static_cast<DWORD>(large.size()), large.data()) != 0;
    rows.push_back({row.name, row.folder, system_takes_it ? row.expected : L""});
  }

  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    variables.PointAt(row.folder);
    EXPECT_EQ(ToUtf8(TemporaryFolder()), ToUtf8(row.expected));
  }
}

TEST(TemporaryFolder, ShortNamesAreExpanded) {
  TempVariables variables;
  Folders folders;
  const std::wstring base = Base();
  ASSERT_TRUE(folders.Make(base));
  const std::wstring folder = base + L"\\A folder with a long name";
  ASSERT_TRUE(folders.Make(folder));

  wchar_t short_name[MAX_PATH];
  const DWORD n = GetShortPathNameW(folder.c_str(), short_name, MAX_PATH);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, static_cast<DWORD>(MAX_PATH));
  if (std::wstring(short_name, n) == folder) GTEST_SKIP() << "this file system gives no short names";

  variables.PointAt(std::wstring(short_name, n));
  EXPECT_EQ(ToUtf8(TemporaryFolder()), ToUtf8(folder + L"\\"));
}

}  // namespace
}  // namespace kelvora

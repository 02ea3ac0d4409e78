#include "window/progress_text.h"

#include <gtest/gtest.h>

#include <climits>

namespace kelvora {
namespace {

TEST(ProgressText, SetupText) { EXPECT_EQ(SetupSpeedText(), L"0 KB/s"); }

TEST(ProgressText, DownloadTextTable) {
  struct Row {
    int32_t speed;
    const wchar_t* expected;
  };
  const Row rows[] = {
      {0, L"Download: 0 KB/s"},
      {1023, L"Download: 0 KB/s"},
      {-1, L"Download: 0 KB/s"},
      {-1023, L"Download: 0 KB/s"},
      {1024, L"Download: 1 KB/s"},
      {2047, L"Download: 1 KB/s"},
      {-1024, L"Download: -1 KB/s"},
      {-2047, L"Download: -1 KB/s"},
      {1536000, L"Download: 1500 KB/s"},
      {10240000, L"Download: 10000 KB/s"},
      {INT32_MAX, L"Download: 2097151 KB/s"},
      {INT32_MIN, L"Download: -2097152 KB/s"},
  };
  for (const auto& row : rows) EXPECT_EQ(DownloadSpeedText(row.speed), row.expected) << "speed " << row.speed;
}

}  // namespace
}  // namespace kelvora

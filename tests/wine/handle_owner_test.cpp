#include <gtest/gtest.h>

#include "common/win32_handles.h"

namespace kelvora {
namespace {

// An owner freed on a failure path must leave the error about to be reported.
TEST(HandleOwners, FreeingKeepsTheLastError) {
  // A close that fails sets an error of its own, which must not leak out.
  unique_handle bogus(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x7ff0)));
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  bogus.reset();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  unique_handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  ::SetLastError(ERROR_ACCESS_DENIED);
  event.reset();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  {
    unique_local_text text(static_cast<wchar_t*>(::LocalAlloc(LMEM_FIXED, 16)));
    ASSERT_TRUE(text);
    ::SetLastError(ERROR_DISK_FULL);
  }
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
}

TEST(HandleOwners, ScreenDcIsReleased) {
  // GetDC(nullptr) hands out a common DC; releasing it twice would fail.
  HDC raw = nullptr;
  {
    const unique_screen_dc screen(::GetDC(nullptr));
    ASSERT_TRUE(screen);
    raw = screen.get();
  }
  EXPECT_EQ(::ReleaseDC(nullptr, raw), 0) << "the owner released the DC already";
}

}  // namespace
}  // namespace kelvora

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "common/win32_handles.h"
#include "window/controls_win.h"

namespace kelvora {
namespace {

// A shown top-level window with a static label and a progress bar, the way
// the installer's window holds them.
class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&classes));
    window_.reset(CreateWindowExW(0, L"STATIC", L"controls", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 200,
                                  nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(window_);
    const HWND label = CreateWindowExW(0, L"STATIC", label_.Caption().c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, 10,
                                       10, 300, 20, window_.get(), nullptr, nullptr, nullptr);
    const HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 10, 40, 300, 20, window_.get(),
                                     nullptr, nullptr, nullptr);
    ASSERT_TRUE(label && bar);
    label_.Attach(label);
    bar_.Attach(bar);
    ProcessMessagesFor(50);
  }

  // Runs the thread's messages (and so its timers) for about `milliseconds`.
  static void ProcessMessagesFor(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      Sleep(1);
    }
  }

  // The text the window itself holds, read without asking its window procedure.
  static std::wstring HeldText(HWND window) {
    wchar_t text[128] = {};
    InternalGetWindowText(window, text, 128);
    return text;
  }

  // The position the native control itself holds, bypassing the bar's own answer.
  static LRESULT NativePosition(HWND bar) {
    WNDCLASSEXW progress{};
    progress.cbSize = sizeof(progress);
    EXPECT_TRUE(GetClassInfoExW(nullptr, PROGRESS_CLASSW, &progress));
    return CallWindowProcW(progress.lpfnWndProc, bar, PBM_GETPOS, 0, 0);
  }

  // The window is declared last and so goes first, before the owners that its
  // controls' subclasses and timers point to.
  TLabel label_;
  TProgressBar bar_;
  unique_hwnd window_;
};

TEST_F(ControlsTest, ANewTextIsAnsweredAtOnceAndHeldByTheControlAtTheNextTick) {
  const HWND label = label_.Handle();
  label_.SetCaption(L"Download: 512 KB/s");

  wchar_t text[64] = {};
  EXPECT_EQ(GetWindowTextW(label, text, 64), 18);
  EXPECT_STREQ(text, L"Download: 512 KB/s");
  EXPECT_EQ(GetWindowTextLengthW(label), 18);
  EXPECT_EQ(HeldText(label), L"Label1");  // nothing reached the control yet

  // A short buffer gets what fits and its terminator, as from any window.
  wchar_t short_buffer[6] = {L'x', L'x', L'x', L'x', L'x', L'x'};
  EXPECT_EQ(SendMessageW(label, WM_GETTEXT, 6, reinterpret_cast<LPARAM>(short_buffer)), 5);
  EXPECT_STREQ(short_buffer, L"Downl");
  EXPECT_EQ(SendMessageW(label, WM_GETTEXT, 0, reinterpret_cast<LPARAM>(short_buffer)), 0);

  // Many texts within one tick: the control takes the last.
  label_.SetCaption(L"Download: 600 KB/s");
  label_.SetCaption(L"Download: 700 KB/s");
  ProcessMessagesFor(100);
  EXPECT_EQ(HeldText(label), L"Download: 700 KB/s");
  EXPECT_EQ(GetWindowTextLengthW(label), 18);
}

TEST_F(ControlsTest, ANewPositionIsAnsweredAtOnceAndReachesTheControlWhenTheFillChanges) {
  const HWND bar = bar_.Handle();
  bar_.SetUpSlot(300'000);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);  // the range is the control's at once
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 300'000);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);

  // Less than a pixel of fill: answered, but the control keeps drawing what it drew.
  bar_.SetPosition(7);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 7);
  ProcessMessagesFor(100);
  EXPECT_EQ(NativePosition(bar), 0);

  // A longer fill reaches the control at the next tick, as the latest value.
  bar_.SetPosition(150'000);
  bar_.SetPosition(150'001);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 150'001);
  EXPECT_EQ(NativePosition(bar), 0);
  ProcessMessagesFor(100);
  EXPECT_EQ(NativePosition(bar), 150'001);

  // The end of the range always reaches it.
  bar_.SetPosition(300'000);
  ProcessMessagesFor(100);
  EXPECT_EQ(NativePosition(bar), 300'000);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 300'000);
}

TEST_F(ControlsTest, ARangeBeyondIntIsScaledAlikeForRangeAndPosition) {
  const HWND bar = bar_.Handle();
  bar_.SetUpSlot(4.0 * INT_MAX);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), INT_MAX);
  bar_.SetPosition(2.0 * INT_MAX);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), INT_MAX / 2);
}

}  // namespace
}  // namespace kelvora

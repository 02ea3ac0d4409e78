#include <gtest/gtest.h>

#include "common/text.h"
#include "ui/app_title.h"
#include "ui/placement.h"
#include "window/form_layout.h"

namespace kelvora {
namespace {

TEST(FormLayout, ScalesLogicalPixelsByDpi) {
  EXPECT_EQ(ScaleForDpi(kClientWidth, 96), 640);
  EXPECT_EQ(ScaleForDpi(kClientWidth, 144), 960);
  EXPECT_EQ(ScaleForDpi(kClientHeight, 144), 342);
  EXPECT_EQ(ScaleForDpi(kClientHeight, 120), 285);
  EXPECT_EQ(ScaleForDpi(kLabelBounds, 144), (LayoutRect{24, 173, 194, 50}));  // 172.5 and 49.5 round up
  EXPECT_EQ(ScaleForDpi(kProgressBarBounds, 192), (LayoutRect{32, 126, 1212, 88}));
}

TEST(FormLayout, UnanchoredLabelKeepsItsRelativeCentre) {
  EXPECT_EQ(FloatUnanchored(kLabelBounds, 640, 228, 640, 228), kLabelBounds);
  // Twice as large: the centre (80, 131) moves to (160, 262); the size stays.
  EXPECT_EQ(FloatUnanchored(kLabelBounds, 640, 228, 1280, 456), (LayoutRect{96, 246, 129, 33}));
  EXPECT_EQ(FloatUnanchored(kLabelBounds, 640, 228, 0, 0), (LayoutRect{-64, -16, 129, 33}));
}

TEST(DialogPlacement, CentresAndTruncatesHalvesTowardZero) {
  EXPECT_EQ(ui::CentredOrigin(0, 0, 1280, 1000, 300, 151), (ui::Origin{490, 424}));
  EXPECT_EQ(ui::CentredOrigin(100, 50, 301, 201, 100, 100), (ui::Origin{200, 100}));
  EXPECT_EQ(ui::CentredOrigin(0, 0, 100, 100, 201, 103), (ui::Origin{-50, -1}));  // -50.5 and -1.5 truncate
  EXPECT_EQ(ui::CentredOrigin(-1920, 0, 1920, 1040, 400, 200), (ui::Origin{-1160, 420}));
}

TEST(ApplicationTitle, FileNameCutAtFirstDotAndLowerCasedAfterFirstCharacter) {
  struct Case {
    const wchar_t* path;
    const wchar_t* title;
  } cases[] = {
      {L"C:\\Program Files\\Kelvora_Installer.exe", L"Kelvora_installer"},
      {L"Kelvora_Installer.exe", L"Kelvora_installer"},
      {L"C:\\a.b\\SETUP.Test.exe", L"Setup"},
      {L"\\\\server\\share\\Kelvora_Test_Installer.exe", L"Kelvora_test_installer"},
      {L"kelvora.exe", L"kelvora"},  // the first character keeps its case
      {L"D:NoDot", L"Nodot"},
      {L"C:\\x\\.hidden", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(ui::ApplicationTitle(c.path, AsciiLowerChar), c.title);
}

}  // namespace
}  // namespace kelvora

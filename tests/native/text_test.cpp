#include "common/text.h"

#include <gtest/gtest.h>

namespace kelvora {
namespace {

TEST(Text, Utf8RoundTripsGermanAndCyrillicAndAstral) {
  const std::wstring cases[] = {L"", L"abc", L"Möchten Sie", L"Überschritten ß", L"Пользователь", L"\U0001F600x"};
  for (const auto& text : cases) EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(L"ü"), "\xC3\xBC");
}

TEST(Text, BrokenUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(FromUtf8("a\xC3"), L"a\uFFFD");
  EXPECT_EQ(FromUtf8("\xFF" "b"), L"\uFFFD" L"b");
}

TEST(Text, EqualsIgnoreCaseFoldsAsciiOnly) {
  EXPECT_TRUE(EqualsIgnoreCase(L"Content-Length", L"content-LENGTH"));
  EXPECT_FALSE(EqualsIgnoreCase(L"Content-Length", L"Content-Lengt"));
  EXPECT_FALSE(EqualsIgnoreCase(L"Ä", L"ä"));
}

}  // namespace
}  // namespace kelvora

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

TEST(Text, AsciiLowerFoldsOnlyAToZ) {
  const struct {
    std::wstring_view input;
    std::wstring_view expected;
  } cases[] = {
      {L"", L""},
      {L"HTTPS", L"https"},
      {L"Max-Age", L"max-age"},
      {L"LocalHost.Example", L"localhost.example"},
      {L"@[`{09az", L"@[`{09az"},  // the neighbours of A-Z and a-z stay
      {L"ÄÖÜ Пользователь", L"ÄÖÜ Пользователь"},
  };
  for (const auto& row : cases) EXPECT_EQ(AsciiLower(row.input), row.expected) << ToUtf8(row.input);
}

TEST(Text, IsAsciiDigitAcceptsZeroToNineOnly) {
  for (wchar_t c = L'0'; c <= L'9'; ++c) EXPECT_TRUE(IsAsciiDigit(c)) << static_cast<int>(c);
  for (wchar_t c : {L'/', L':', L'a', L' ', static_cast<wchar_t>(0x0660), static_cast<wchar_t>(0xFF10)})
    EXPECT_FALSE(IsAsciiDigit(c)) << static_cast<int>(c);
}

}  // namespace
}  // namespace kelvora

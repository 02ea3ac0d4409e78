#include "common/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

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

TEST(Text, StartsWithIgnoreCaseFoldsAsciiOnly) {
  EXPECT_TRUE(StartsWithIgnoreCase(L"BYTES 0-1/2", L"bytes "));
  EXPECT_TRUE(StartsWithIgnoreCase(L"http/1.1 200", L"HTTP/"));
  EXPECT_TRUE(StartsWithIgnoreCase(L"x", L""));
  EXPECT_FALSE(StartsWithIgnoreCase(L"byte", L"bytes"));
  EXPECT_FALSE(StartsWithIgnoreCase(L"Äb", L"äb"));
}

// Each caller names the characters it trims; the rows show where the sets part.
TEST(Text, TrimCutsOnlyTheNamedCharactersAtTheEnds) {
  const struct {
    std::wstring_view input;
    std::wstring_view space_tab;  // Trim(kSpaceAndTab)
    std::wstring_view blanks;     // Trim(kBlanksAndLineBreaks), TrimBlanks
    std::wstring_view message;    // TrimEnd(kMessageEnd), TrimPlatformText
  } rows[] = {
      {L"", L"", L"", L""},
      {L" \t ", L"", L"", L""},
      {L"\r\n", L"\r\n", L"", L""},
      {L"a", L"a", L"a", L"a"},
      {L" \tvalue\t ", L"value", L"value", L" \tvalue"},
      {L"\r\n value \r\n", L"\r\n value \r\n", L"value", L"\r\n value"},
      {L"a b\tc", L"a b\tc", L"a b\tc", L"a b\tc"},  // inner blanks stay
      {L"Zugriff verweigert.\r\n", L"Zugriff verweigert.\r\n", L"Zugriff verweigert.", L"Zugriff verweigert"},
      {L"z.B. . .\n", L"z.B. . .\n", L"z.B. . .", L"z.B"},
      {L"\v\f x \u00A0", L"\v\f x \u00A0", L"\v\f x \u00A0", L"\v\f x \u00A0"},  // other spaces are text
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Trim(row.input, kSpaceAndTab), row.space_tab) << ToUtf8(row.input);
    EXPECT_EQ(Trim(row.input, kBlanksAndLineBreaks), row.blanks) << ToUtf8(row.input);
    EXPECT_EQ(TrimBlanks(row.input), row.blanks) << ToUtf8(row.input);
    EXPECT_EQ(TrimEnd(row.input, kMessageEnd), row.message) << ToUtf8(row.input);
    EXPECT_EQ(TrimPlatformText(row.input), row.message) << ToUtf8(row.input);
  }
}

TEST(Text, ParseDecimalTakesAsciiDigitsUpToTheMaximum) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const struct {
    std::wstring_view input;
    std::int64_t max;
    std::optional<std::int64_t> expected;
  } rows[] = {
      {L"", kMax, std::nullopt},
      {L"0", kMax, 0},
      {L"42", kMax, 42},
      {L"000000000000000000000000042", kMax, 42},  // leading zeros, however many
      {L"9223372036854775807", kMax, kMax},
      {L"9223372036854775808", kMax, std::nullopt},  // one past: no wrap-around
      {L"18446744073709551626", kMax, std::nullopt},  // 2^64 + 10 would wrap to 10
      {L"99999999999999999999999", kMax, std::nullopt},
      {L"+5", kMax, std::nullopt},
      {L"-5", kMax, std::nullopt},
      {L" 5", kMax, std::nullopt},
      {L"5 ", kMax, std::nullopt},
      {L"5\t", kMax, std::nullopt},
      {L"1.5", kMax, std::nullopt},
      {L"0x10", kMax, std::nullopt},
      {L"\u0665", kMax, std::nullopt},  // Arabic-Indic five
      {L"\uFF15", kMax, std::nullopt},  // fullwidth five
      {L"255", 255, 255},
      {L"256", 255, std::nullopt},
      {L"0255", 255, 255},
      {L"65535", 65535, 65535},
      {L"65536", 65535, std::nullopt},
      {L"7", 5, std::nullopt},  // a single digit above a small maximum
      {L"5", 5, 5},
      {L"0", 0, 0},
      {L"1", 0, std::nullopt},
      {L"0", -1, std::nullopt},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ParseDecimal(row.input, row.max), row.expected) << ToUtf8(row.input) << " max " << row.max;
  EXPECT_EQ(ParseDecimal(L"9223372036854775807"), kMax);  // the maximum by default
}

TEST(Text, AsciiLowerCharFoldsOnlyAToZ) {
  for (wchar_t c = L'A'; c <= L'Z'; ++c) EXPECT_EQ(AsciiLowerChar(c), c - L'A' + L'a');
  for (wchar_t c : {L'@', L'[', L'a', L'z', L'0', L'\u00C4', L'\u041F'}) EXPECT_EQ(AsciiLowerChar(c), c);
}

}  // namespace
}  // namespace kelvora

#include "shell/publisher_name.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvora {
namespace {

using namespace std::string_literals;

TEST(PublisherName, CheckRequiredOnlyForANamedPublisher) {
  EXPECT_FALSE(PublisherCheckRequired(L""));
  EXPECT_TRUE(PublisherCheckRequired(L"Kelvora GmbH"));
  EXPECT_TRUE(PublisherCheckRequired(L" "));
}

TEST(PublisherName, SignerTable) {
  struct Row {
    const char* what;
    std::wstring expected;
    SignerNames signer;
    bool matches;
  };
  const Row rows[] = {
      {"common name", L"Kelvora GmbH", {L"Kelvora GmbH", L""}, true},
      {"organisation", L"Kelvora GmbH", {L"Code Signing 3", L"Kelvora GmbH"}, true},
      {"both", L"Kelvora GmbH", {L"Kelvora GmbH", L"Kelvora GmbH"}, true},
      {"outside Latin-1", L"ООО Келвора", {L"Code Signing", L"ООО Келвора"}, true},
      {"another publisher", L"Kelvora GmbH", {L"Other Vendor Ltd", L"Other Vendor Ltd"}, false},
      {"no names", L"Kelvora GmbH", {L"", L""}, false},
      {"case differs", L"Kelvora GmbH", {L"kelvora gmbh", L"KELVORA GMBH"}, false},
      {"umlaut spelt out", L"Kelvora Prüfverlag", {L"Kelvora Pruefverlag", L""}, false},
      {"umlaut decomposed", L"Kelvora Prüfverlag", {L"Kelvora Pru\u0308fverlag", L""}, false},
      {"prefix of the name", L"Kelvora GmbH", {L"Kelvora", L"Kelvora GmbH & Co"}, false},
      {"longer name", L"Kelvora", {L"Kelvora GmbH", L"Kelvora Inc"}, false},
      {"trailing blank", L"Kelvora GmbH", {L"Kelvora GmbH ", L" Kelvora GmbH"}, false},
      {"cut at a NUL", L"Kelvora GmbH", {L"Kelvora GmbH\0.evil.example"s, L"Kelvora GmbH\0"s}, false},
      {"NUL in the expected name", L"Kelvora\0GmbH"s, {L"Kelvora\0GmbH"s, L""}, false},
      {"nothing expected", L"", {L"", L""}, false},
      {"nothing expected, named signer", L"", {L"Kelvora GmbH", L"Kelvora GmbH"}, false},
  };
  for (const auto& row : rows) EXPECT_EQ(SignedByPublisher(row.expected, row.signer), row.matches) << row.what;
}

}  // namespace
}  // namespace kelvora

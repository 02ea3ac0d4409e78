#pragma once
// Turning fuzzer bytes into the wide text the client works on. Bytes map to
// the first 256 code points, as a header decoded byte by byte would; 0xFF
// introduces a 16-bit unit, so that text beyond Latin-1 is reached too.

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

namespace kelvora::fuzz {

inline std::wstring WideFromBytes(const std::string& bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte == 0xFF && i + 2 < bytes.size()) {
      const auto high = static_cast<unsigned char>(bytes[i + 1]);
      const auto low = static_cast<unsigned char>(bytes[i + 2]);
      text.push_back(static_cast<wchar_t>((high << 8) | low));
      i += 2;
    } else {
      text.push_back(static_cast<wchar_t>(byte));
    }
  }
  return text;
}

inline std::wstring ConsumeWide(FuzzedDataProvider& input, std::size_t max_length = 256) {
  return WideFromBytes(input.ConsumeRandomLengthString(max_length));
}

inline std::wstring RemainingWide(FuzzedDataProvider& input) {
  return WideFromBytes(input.ConsumeRemainingBytesAsString());
}

}  // namespace kelvora::fuzz

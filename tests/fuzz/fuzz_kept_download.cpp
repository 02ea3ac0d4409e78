// The record of kept bytes, as read back from the temporary folder, where
// anybody may have written it. Whatever the text: a record read back may be
// kept, its validator can stand in a header, and writing it again gives a
// text that reads back as the same record.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_require.h"
#include "download/kept_download.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto kept = kelvora::ParseKeptDownload(text);
  if (!kept) return 0;
  FUZZ_REQUIRE(kelvora::MayKeep(*kept));
  FUZZ_REQUIRE(kelvora::UsableValidator(kept->validator));
  for (const wchar_t c : kept->validator) FUZZ_REQUIRE(c >= 0x20 && c < 0x7F);
  FUZZ_REQUIRE(kept->length > 0 && kept->length < kept->total);
  const auto again = kelvora::ParseKeptDownload(kelvora::FormatKeptDownload(*kept));
  FUZZ_REQUIRE(again && again->url == kept->url && again->total == kept->total &&
               again->validator == kept->validator && again->length == kept->length);
  return 0;
}

#pragma once
// A cut-off download kept in the temporary folder for the next run: what
// may be kept, the record that goes with the bytes, and whether the next run
// may continue them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora {

// What goes with kept bytes: where they came from and what they are part of.
struct KeptDownload {
  std::wstring url;        // the address they came from
  std::int64_t total = -1; // the file's size as that address's size request gave it
  std::wstring validator;  // what If-Range sends: a strong ETag or a Last-Modified
  std::int64_t length = 0; // the bytes in place, from the file's first byte
};

// A validator that proves two bodies the same byte for byte: not empty, not
// a weak ETag, and nothing that could not stand in a header.
bool UsableValidator(std::wstring_view validator);

// Whether `kept` may be kept: a usable validator, a known total within the
// size limit, and some bytes in place but not all.
bool MayKeep(const KeptDownload& kept);

// Whether the next run may continue `kept` at `url`, whose size request
// gave `size`: the same address, the same total, and a record that may be kept.
bool MayContinue(const KeptDownload& kept, const std::wstring& url, std::int64_t size);

// What a file's own handle tells of it (the Win32 side fills it from
// GetFileInformationByHandle), as far as kept bytes go.
struct KeptFileFacts {
  bool directory = false;
  bool reparse_point = false;  // a symbolic link, junction or other reparse point
  std::uint32_t links = 0;     // the file's names (hard links)
};

// Whether kept bytes or their record may be read from, and written to, a
// file: only a regular file with exactly one name. A second name may belong to
// somebody else's file (anybody may make a link in a shared temporary folder),
// and a reparse point leads elsewhere: either is left alone.
bool OnlyItsOwnFile(const KeptFileFacts& facts);

// The record as the text of its file (UTF-8, one "name=value" per line)
// and back. Parsing takes what the disk holds, which anybody may have
// written: nothing for any text that FormatKeptDownload would not give for
// a record that may be kept.
std::string FormatKeptDownload(const KeptDownload& kept);
std::optional<KeptDownload> ParseKeptDownload(std::string_view text);

}  // namespace kelvora

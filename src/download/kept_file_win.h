#pragma once
// The bytes of a cut-off download kept in the temporary folder between two
// runs, beside the installer's path: "<target>.kept" holds them and
// "<target>.kept-info" their record (kept_download.h). Only builds that
// resume and check a publisher keep them: the finished file is proven whole
// there before anything is launched, so bytes changed on the disk between
// two runs cannot reach a launch.

#include <optional>
#include <string>

#include "common/win32_handles.h"
#include "download/kept_download.h"

namespace kelvora {

// Kept bytes with their record, held: the handle reads, writes and deletes,
// and while it is open others may only read the file.
struct HeldKept {
  KeptDownload record;
  unique_file file;
};

// The kept bytes an earlier run left for `target`, held, when their record
// reads back as one that may be kept and the file holds exactly the bytes it
// names. Both must be regular files with exactly one name (OnlyItsOwnFile):
// when either is anything else (a hard link, a reparse point), both are left
// as they are, neither read further nor written nor removed. Other leftovers
// (a record that does not parse, a size that does not match) are removed.
// Coordinator thread; never throws.
std::optional<HeldKept> TakeUpKept(const std::wstring& target) noexcept;

// Keeps the working file's first `record.length` bytes under the kept name
// (through its own handle, replacing anything there) and writes the record
// beside it. Returns them held; on failure, nothing is kept (the working
// file is discarded) and nothing is returned. Never throws.
std::optional<HeldKept> KeepBytes(unique_file working, const std::wstring& target,
                                  const KeptDownload& record) noexcept;

// Removes the record of kept bytes for `target`: the bytes are about to be
// written on, and the record no longer tells what they are. Never throws.
void RemoveKeptRecord(const std::wstring& target) noexcept;

// Removes kept bytes and their record for `target`: through `held` when
// given, and by name. Never throws.
void RemoveKept(const std::wstring& target, unique_file held = unique_file()) noexcept;

}  // namespace kelvora

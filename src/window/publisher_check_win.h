#pragma once
// The last look at the downloaded installer before the completion step: a
// build that names a publisher starts only a file that publisher signed, so
// that a file swapped on the server, on a mirror or on the disk never runs.

#include <string>
#include <string_view>

#include "common/win32_handles.h"

namespace kelvora {

// With an empty `publisher` does nothing and returns true. Otherwise pins
// the file at `path` (file_pin_win.h: the file `held` holds, or when `held`
// is empty, a file an earlier run left there), checks it through the pinning
// handle, which replaces `held` and must stay open until the launch, and
// returns true when the file carries a valid signature of `publisher`. Returns false when it does not, when no file
// could be held, or on any failure: the file has then been removed (as far as
// it can be), `held` is empty, and nothing may be launched. Call on a
// background thread (it reads the whole file); does not throw.
bool AcceptInstaller(const std::wstring& path, unique_file& held, std::wstring_view publisher) noexcept;

}  // namespace kelvora

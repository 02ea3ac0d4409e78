#pragma once
// Keeping a checked file in place until the shell has started it: the shell
// opens the file by its name, so nobody may write, rename or delete it between
// the check and the launch.

#include <string>

#include "common/win32_handles.h"

namespace kelvora {

// The hold on a file that is to be launched: a handle that reads it and
// shares only reading, so that while it is open the file can be neither
// written nor renamed nor deleted. With `held` given (a handle on the file
// the run put at `path`; closed here), the hold is a new handle on that same
// file, and the file at `path` must be that one; it fails while anybody else
// has the file open for writing or deleting. Without, the hold is on the
// file found at `path` (an earlier run's). Either way a link, junction or
// folder at `path` is never followed and fails, as does any other failure:
// the result is then empty. Any thread; does not throw.
unique_file PinFile(const std::wstring& path, unique_file held) noexcept;

}  // namespace kelvora

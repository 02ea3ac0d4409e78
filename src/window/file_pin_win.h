#pragma once
// Keeping a checked file in place until the shell has started it: the shell
// opens the file by its name, so nobody may write, rename or delete it between
// the check and the launch.

#include <string>

#include "common/win32_handles.h"

namespace kelvora {

// Opens `path` for reading, sharing read only, so that while the handle is
// open the file can be neither written nor renamed nor deleted. With `held`
// given (a handle on the file the run put there; it may carry delete access,
// which the new handle denies, and is closed first), the result must be that
// same file: a file found at `path` that is not the one `held` had open gives
// an empty result, as does a failure to open. Any thread; does not throw.
unique_file PinFile(const std::wstring& path, unique_file held) noexcept;

}  // namespace kelvora

#pragma once
// The files of a download run: the installer at its final path only ever
// holds a complete download; the transfer goes into a working file beside it
// that takes the final name in one step once it is known to be complete.

#include <cstdint>
#include <string>

#include "common/win32_handles.h"

namespace kelvora {

// The working file for a target path ("<target>.part").
std::wstring WorkingFileName(const std::wstring& target);

// Removes a file an earlier run left at `path`; nothing there is fine.
// Throws Win32Error when something is there that cannot be removed (a file in
// use, a directory).
void RemoveEarlierFile(const std::wstring& path);

// Creates `path` anew, sized to `size` bytes (empty when the size is
// unknown), and closes it. Throws Win32Error.
void PrepareFile(const std::wstring& path, std::int64_t size);

// Gives the working file the target's name, replacing nothing but an earlier
// file there, and returns a handle on the result that lets others only read
// it, so that it cannot be swapped before it is launched. Throws Win32Error.
unique_file PutInPlace(const std::wstring& working, const std::wstring& target);

// Removes a working file that is left over; failures are ignored.
void DiscardFile(const std::wstring& path);

}  // namespace kelvora

#pragma once
// The files of a download run: the installer at its final path only ever
// holds a complete download; the transfer goes into a working file beside it
// that takes the final name in one step once it is known to be complete.
// From its creation to its launch only the run's own handles can write it.

#include <cstdint>
#include <string>

#include "common/win32_handles.h"

namespace kelvora {

// The working file for a target path ("<target>.part").
std::wstring WorkingFileName(const std::wstring& target);

// Removes whatever an earlier run or anybody else left at `path`: a file, a
// hard link, a symbolic link or other reparse point (the link itself, never
// what it points to). Nothing there is fine. Throws Win32Error when something
// is there that cannot be removed (a file in use) or must not be (a folder).
void RemoveEarlierFile(const std::wstring& path);

// Creates the working file at `path` as a new file (anything at its name is
// removed first; a name taken again meanwhile fails), sized to `size` bytes
// (empty when the size is unknown). The handle returned reads, writes and
// deletes; while it is open others may open the file only to read it (not to
// write, rename or delete it). Throws Win32Error.
unique_file CreateWorkingFile(const std::wstring& path, std::int64_t size);

// A second handle on the same file for a worker, not opened by name. It
// shares the original's file position: one writer at a time. Throws
// Win32Error.
unique_file DuplicateFileHandle(HANDLE file);

// Gives the working file the target's name through the run's handle,
// replacing an earlier file there, and returns the hold on the result
// (PinFile): a handle that reads it and lets others only read it, so that it
// can be neither written nor renamed nor deleted before it is launched.
// `working` is closed. Between the writing handle's close and the hold, a
// moment of a few instructions, others could open the file: the hold fails if
// one still has it open, and the file must still be at the target name. Throws
// Win32Error; the file is then gone, or at the target name and not held.
unique_file PutInPlace(unique_file working, const std::wstring& target);

// Gives the file `file` is a handle on (with delete access) the name
// `target`, replacing a file there, through that handle. Throws Win32Error.
void RenameThrough(HANDLE file, const std::wstring& target);

// Removes a file that is left over through a handle on it with delete
// access, which is closed. Failures are ignored.
void DiscardFile(unique_file file);
// Removes the file at `path`; failures are ignored.
void DiscardFile(const std::wstring& path);

}  // namespace kelvora

#pragma once
// Where the downloaded installer is stored.

#include <string>
#include <string_view>

namespace kelvora {

inline constexpr std::wstring_view kTargetFileName = L"Kelvora_Install.exe";

// The folder joined with "Kelvora_Install.exe": a backslash goes between them
// only when the folder does not already end in '\\', '/' or ':'. An empty
// folder gives the bare name (a file in the current directory).
// Any thread may call it; it throws only std::bad_alloc.
std::wstring JoinTargetPath(std::wstring_view folder);

// True only for a folder given in full: "X:\..." or a UNC path
// ("\\server\share..."), device paths ("\\?\...") included. Empty, relative
// ("Temp"), drive-relative ("C:Temp") and rooted ("\Temp") folders depend on
// the current folder or drive and give false. Any thread; does not throw.
bool IsFullyQualifiedFolder(std::wstring_view folder);

}  // namespace kelvora

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

}  // namespace kelvora

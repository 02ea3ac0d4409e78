#pragma once
// What the shell is asked to do when a file is launched, worked out without
// the shell so that the rules can be checked anywhere.

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvora {

// The directory part of a file name: everything before the last backslash or
// colon. The separator is dropped unless it is the only character, follows a
// drive's colon ("C:\") or follows another backslash; a colon stays ("C:").
// Only the characters 0x5C and 0x3A count, never a wider one. No separator
// gives an empty text.
std::wstring DirectoryPart(std::wstring_view file_name);

// The text between a pair of double quotes, as given (nothing is escaped).
std::wstring Quoted(std::wstring_view text);

struct LaunchRequest {
  std::wstring verb;        // "open"
  std::wstring file;        // the file name, quoted
  std::wstring parameters;  // as given; empty is passed as an empty string, never as null
  std::wstring directory;   // the file's directory part, quoted (a bare pair of quotes when it has none)
  uint16_t show_command;    // SW_* value for the new process's first window
};

// The request for opening `file_name` with `parameters`. Any thread may call
// it; it throws only std::bad_alloc.
LaunchRequest MakeLaunchRequest(std::wstring_view file_name, std::wstring_view parameters, uint16_t show_command);

}  // namespace kelvora

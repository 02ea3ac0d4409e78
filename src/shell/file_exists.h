#pragma once
// Whether a file is present at a path.

#include <string>

namespace kelvora {

// True when `path` names a file (not a directory); links are followed. A file
// that exists but cannot be read for a sharing violation counts as present.
// Any thread; does not throw. Windows only.
bool FileExists(const std::wstring& path);

}  // namespace kelvora

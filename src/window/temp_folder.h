#pragma once
// The user's temporary folder, where the installer is downloaded to.

#include <string>

namespace kelvora {

// The temporary folder as GetTempPathW reports it (with its trailing
// backslash), expanded to its long form. Paths longer than MAX_PATH are
// fetched with a buffer of the size the system asks for. Empty when either
// call fails, e.g. when the folder does not exist. Any thread; does not throw
// except std::bad_alloc. Windows only.
std::wstring TemporaryFolder();

}  // namespace kelvora

#pragma once

#include <string>
#include <string_view>

namespace kelvora::ui {

// The application title shown on the plain message: the executable's file
// name without its folder, cut before its first '.', every character after
// the first in lower case ("C:\x\Kelvora_Installer.exe" -> "Kelvora_installer").
// `lower` turns one character to lower case (the platform's rules on Windows).
std::wstring ApplicationTitle(std::wstring_view exe_path, wchar_t (*lower)(wchar_t));

}  // namespace kelvora::ui

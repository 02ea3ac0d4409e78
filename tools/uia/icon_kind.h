#pragma once
// Which standard icon a dialog's icon control shows, told from its pixels on
// the screen (icon handles of another process cannot be read here).

#include <windows.h>

namespace uia {

enum class IconKind { kUnknown, kQuestion, kInformation, kWarning, kError };

IconKind ClassifyIcon(HWND icon_control);
const char* IconKindName(IconKind kind);

}  // namespace uia

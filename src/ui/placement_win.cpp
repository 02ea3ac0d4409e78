#include "ui/placement_win.h"

#include "ui/placement.h"

namespace kelvora::ui {

bool CentreWindowOver(HWND window, const RECT& area) {
  RECT frame{};
  if (!::GetWindowRect(window, &frame)) return false;
  const Origin origin = CentredOrigin(area.left, area.top, area.right - area.left, area.bottom - area.top,
                                      frame.right - frame.left, frame.bottom - frame.top);
  return ::SetWindowPos(window, nullptr, origin.left, origin.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CentreInWorkArea(HWND window, HMONITOR monitor) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  return ::GetMonitorInfoW(monitor, &info) && CentreWindowOver(window, info.rcWork);
}

}  // namespace kelvora::ui

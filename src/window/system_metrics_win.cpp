#include "window/system_metrics_win.h"

#include "common/system_library_win.h"
#include "common/win32_handles.h"

namespace kelvora {

namespace {

// Functions of newer Windows versions, looked up at run time so that the
// program still starts on Windows 7. The modules are mapped in every process.
template <typename Function>
Function SystemFunction(const wchar_t* module, const char* name) {
  return ModuleFunction<Function>(::GetModuleHandleW(module), name);
}

int SystemDpi() {
  const unique_screen_dc screen(::GetDC(nullptr));
  const int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
  return dpi > 0 ? dpi : 96;
}

}  // namespace

int WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto get_dpi_for_window = SystemFunction<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
  const UINT dpi = get_dpi_for_window ? get_dpi_for_window(window) : 0;
  return dpi ? static_cast<int>(dpi) : SystemDpi();
}

SIZE WindowSizeForClient(int client_width, int client_height, DWORD style, DWORD ex_style, int dpi) {
  using AdjustForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust_for_dpi = SystemFunction<AdjustForDpiFunction>(L"user32.dll", "AdjustWindowRectExForDpi");
  RECT rect{0, 0, client_width, client_height};
  if (!adjust_for_dpi || !adjust_for_dpi(&rect, style, FALSE, ex_style, static_cast<UINT>(dpi)))
    ::AdjustWindowRectEx(&rect, style, FALSE, ex_style);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

HFONT CreateMessageFont(int dpi) {
  using ParametersForDpiFunction = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
  static const auto parameters_for_dpi =
      SystemFunction<ParametersForDpiFunction>(L"user32.dll", "SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (parameters_for_dpi &&
      parameters_for_dpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, static_cast<UINT>(dpi))) {
    return ::CreateFontIndirectW(&metrics.lfMessageFont);
  }
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return nullptr;
  metrics.lfMessageFont.lfHeight = ::MulDiv(metrics.lfMessageFont.lfHeight, dpi, SystemDpi());
  return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

}  // namespace kelvora

#pragma once
// The installer window's layout in logical pixels (96 DPI) and its scaling.

namespace kelvora {

struct LayoutRect {
  int left;
  int top;
  int width;
  int height;
  bool operator==(const LayoutRect&) const = default;
};

inline constexpr int kClientWidth = 640;
inline constexpr int kClientHeight = 228;
inline constexpr LayoutRect kProgressBarBounds{16, 63, 606, 44};
inline constexpr LayoutRect kLabelBounds{16, 115, 129, 33};

// Logical pixels to device pixels, rounding halves away from zero.
constexpr int ScaleForDpi(int logical, int dpi) {
  const long long scaled = static_cast<long long>(logical) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + 48) / 96 : (scaled - 48) / 96);
}

constexpr LayoutRect ScaleForDpi(const LayoutRect& r, int dpi) {
  return {ScaleForDpi(r.left, dpi), ScaleForDpi(r.top, dpi), ScaleForDpi(r.width, dpi), ScaleForDpi(r.height, dpi)};
}

// A control anchored to no edge keeps its centre at the same fraction of the
// client area when the window is resized; its size stays. `designed` is the
// control's place in a client area of designed_width x designed_height.
constexpr LayoutRect FloatUnanchored(const LayoutRect& designed, int designed_width, int designed_height,
                                     int client_width, int client_height) {
  if (designed_width <= 0 || designed_height <= 0) return designed;
  const long long centre_x = designed.left + designed.width / 2;
  const long long centre_y = designed.top + designed.height / 2;
  return {static_cast<int>(centre_x * client_width / designed_width) - designed.width / 2,
          static_cast<int>(centre_y * client_height / designed_height) - designed.height / 2, designed.width,
          designed.height};
}

}  // namespace kelvora

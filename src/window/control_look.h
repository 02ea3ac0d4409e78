#pragma once
// Which of four looks the system's themed controls draw in, by the Windows
// version actually running (not the one a manifest lets the program see).
// The program draws no look of its own, so nothing asks at run time: this is
// the rule the window relies on the system to follow.

#include <cstdint>

namespace kelvora {

enum class ControlLook { Windows7, Windows8, Windows10, Windows11 };

constexpr ControlLook ChooseControlLook(std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
  if (major >= 10 && build > 21999) return ControlLook::Windows11;
  if (major >= 10) return ControlLook::Windows10;
  if (major > 6 || (major == 6 && minor >= 2)) return ControlLook::Windows8;
  return ControlLook::Windows7;
}

}  // namespace kelvora

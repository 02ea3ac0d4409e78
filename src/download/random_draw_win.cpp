// rand_s is declared only with this set before the C runtime's headers.
#define _CRT_RAND_S
#include <stdlib.h>

#include <windows.h>

#include "download/random_draw_win.h"

namespace kelvora {

std::uint32_t SystemRandomDraw() {
  unsigned int value = 0;
  if (rand_s(&value) != 0) value = ::GetTickCount();
  return value;
}

}  // namespace kelvora

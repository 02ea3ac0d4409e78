#include "window/stop_wait_win.h"

namespace kelvora {

WaitUnlessStopped StopAwareWait(HANDLE stop) {
  return [stop](std::chrono::milliseconds delay) {
    const auto milliseconds = static_cast<DWORD>(delay.count());
    if (!stop) {
      ::Sleep(milliseconds);
      return true;
    }
    return ::WaitForSingleObject(stop, milliseconds) == WAIT_TIMEOUT;
  };
}

}  // namespace kelvora

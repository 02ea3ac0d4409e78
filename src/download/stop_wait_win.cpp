#include "download/stop_wait_win.h"

namespace kelvora {

WaitUnlessStopped StopAwareWait(const StopSignal* stop) {
  return [stop](std::chrono::milliseconds delay) {
    const auto milliseconds = static_cast<DWORD>(delay.count());
    if (!stop) {
      ::Sleep(milliseconds);
      return true;
    }
    if (stop->IsSet()) return false;
    return ::WaitForSingleObject(stop->Event(), milliseconds) == WAIT_TIMEOUT;
  };
}

}  // namespace kelvora

#include "common/stop_signal_win.h"

namespace kelvora {

void StopSignal::Set() {
  // The flag first: whoever is woken by the event finds it raised.
  set_.store(true, std::memory_order_release);
  ::SetEvent(event_.get());
}

}  // namespace kelvora

#include "common/stop_signal_win.h"

namespace kelvora {

void StopSignal::Set() {
  // The flag first: whoever is woken by the event finds it raised. Raised
  // under the lock, so that a start that checked it before has returned.
  ::AcquireSRWLockExclusive(&lock_);
  set_->store(true, std::memory_order_release);
  ::ReleaseSRWLockExclusive(&lock_);
  ::SetEvent(event_.get());
}

}  // namespace kelvora

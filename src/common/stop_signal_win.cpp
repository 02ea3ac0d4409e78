#include "common/stop_signal_win.h"

namespace kelvora {

void StopSignal::Set() {
  // The flag first: a start that looks at it from now on does not start, and
  // whoever is woken by the event finds it raised.
  set_->store(true, std::memory_order_seq_cst);
  // Then a start that looked before: it is waited for until it is inside
  // WinHTTP, which takes no time, but never longer than kLongestStartWait.
  // A start is meant to return at once, yet Wine runs a read that finds
  // bytes at hand on the calling thread until its buffer is full (measured),
  // and the window that sets the stop must never wait for the network. A
  // start still running by then has long begun its call: nothing starts
  // after this returns.
  const ULONGLONG deadline = ::GetTickCount64() + kLongestStartWait;
  for (;;) {
    if (::TryAcquireSRWLockExclusive(&lock_)) {
      ::ReleaseSRWLockExclusive(&lock_);
      break;
    }
    if (::GetTickCount64() >= deadline) break;
    ::SwitchToThread();
  }
  ::SetEvent(event_.get());
}

}  // namespace kelvora

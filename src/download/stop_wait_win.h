#pragma once
// Pauses of the download run that a close ends at once.

#include "common/stop_signal_win.h"
#include "download/retry_rules.h"

namespace kelvora {

// Waits on `stop` (the run's stop signal, which outlives the wait) for the
// delay; false when it is set, at once when it already is. Without a signal
// the delay is slept.
WaitUnlessStopped StopAwareWait(const StopSignal* stop);

}  // namespace kelvora

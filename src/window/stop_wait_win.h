#pragma once
// Pauses of the download run that a close ends at once.

#include <windows.h>

#include "window/retry_rules.h"

namespace kelvora {

// Waits on `stop` (the run's manual-reset stop signal, which outlives the
// wait) for the delay; false when it is set, at once when it already is.
// Without a signal the delay is slept.
WaitUnlessStopped StopAwareWait(HANDLE stop);

}  // namespace kelvora

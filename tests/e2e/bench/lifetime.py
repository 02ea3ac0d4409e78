"""Helper processes (Xvfb, nginx) end with the test process that started them,
even when it is killed without a chance to clean up."""

from __future__ import annotations

import ctypes
import signal

_PR_SET_PDEATHSIG = 1


def die_with_parent() -> None:
    """For Popen(preexec_fn=...): the child gets SIGTERM when its parent dies."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)
    except (OSError, AttributeError):
        pass  # bounded by its `timeout` wrapper all the same

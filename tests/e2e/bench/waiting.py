"""The one bounded wait of the bench: poll a condition until it holds or time runs out."""

from __future__ import annotations

import time
from typing import Callable, TypeVar

T = TypeVar("T")


def wait_until(condition: Callable[[], T], timeout: float, interval: float = 0.05) -> T:
    """Calls condition until it returns something true or timeout seconds have
    passed; returns its last result (false when time ran out). Always calls it
    at least once."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(interval)

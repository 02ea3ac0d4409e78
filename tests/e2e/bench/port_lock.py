"""A fixed port (the vendor stand-in's) is used by one server on this machine
at a time: test runs in other prefixes take turns through a lock file."""

from __future__ import annotations

import fcntl
import tempfile
import time
from pathlib import Path


class PortLock:
    def __init__(self, port: int):
        self.path = Path(tempfile.gettempdir()) / f"kelvora-bench-port-{port}.lock"
        self._file = None

    def acquire(self, timeout: float) -> None:
        self._file = open(self.path, "w")
        deadline = time.monotonic() + timeout
        while True:
            try:
                fcntl.flock(self._file, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return
            except BlockingIOError:
                if time.monotonic() > deadline:
                    self.release()
                    raise TimeoutError(f"port lock {self.path} still held after {timeout} s")
                time.sleep(0.1)

    def release(self) -> None:
        if self._file is not None:
            self._file.close()  # closing drops the lock
            self._file = None

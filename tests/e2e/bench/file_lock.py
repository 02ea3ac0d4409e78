"""Exclusive locks between test runs on this machine, through flock on a file:
one test file at a time per Wine prefix (its registry settings are shared), and
one server at a time on a fixed port (the vendor stand-in's). Closing the file
drops the lock, also when the process dies."""

from __future__ import annotations

import fcntl
import tempfile
from pathlib import Path

from .waiting import wait_until


class FileLock:
    def __init__(self, path: Path):
        self.path = Path(path)
        self._file = None

    @classmethod
    def for_port(cls, port: int) -> "FileLock":
        return cls(Path(tempfile.gettempdir()) / f"kelvora-bench-port-{port}.lock")

    def acquire(self, timeout: float) -> None:
        self.path.parent.mkdir(parents=True, exist_ok=True)
        self._file = open(self.path, "w")
        if not wait_until(self._try_lock, timeout, interval=0.1):
            self.release()
            raise TimeoutError(f"lock {self.path} still held by another test run after {timeout} s")

    def _try_lock(self) -> bool:
        try:
            fcntl.flock(self._file, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return True
        except BlockingIOError:
            return False

    def release(self) -> None:
        if self._file is not None:
            self._file.close()
            self._file = None

"""Python side of tools/uia (kelvora_uia.exe): one function per command.
Each call starts the helper in the bench's Wine prefix and returns its JSON."""

from __future__ import annotations

import json
import os
import subprocess
from dataclasses import dataclass
from pathlib import Path

from .wine import WineEnv

SW_SHOWNORMAL = 1
SW_SHOWMINIMIZED = 2
SW_SHOWMAXIMIZED = 3
SW_SHOWMINNOACTIVE = 7

IDOK = 1
IDCANCEL = 2


class UiaError(RuntimeError):
    pass


def _filters(hwnd=None, pid=None, image=None, title=None, class_name=None, dialog=False, visible=False) -> list[str]:
    args = []
    if hwnd is not None:
        args += ["--hwnd", str(hwnd)]
    if pid is not None:
        args += ["--pid", str(pid)]
    if image:
        args += ["--image", image]
    if title is not None:
        args += ["--title", title]
    if class_name:
        args += ["--class", class_name]
    if dialog:
        args.append("--dialog")
    if visible:
        args.append("--visible")
    return args


@dataclass
class Launched:
    """A program started through the helper; the helper waits for it and reports its exit code."""
    helper: subprocess.Popen
    pid: int  # the Windows process id

    def wait(self, timeout: float) -> int:
        """The program's exit code; raises TimeoutError if it does not end in time."""
        try:
            out, _ = self.helper.communicate(timeout=timeout)
        except subprocess.TimeoutExpired as error:
            raise TimeoutError(f"process {self.pid} still running after {timeout} s") from error
        lines = [json.loads(line) for line in out.decode("utf-8").splitlines() if line.strip()]
        if not lines or lines[-1].get("exit_code") is None:
            raise TimeoutError(f"process {self.pid} did not end while the helper waited")
        return int(lines[-1]["exit_code"])

    def running(self) -> bool:
        return self.helper.poll() is None

    def kill(self) -> None:
        """Ends the helper only; the program itself goes with the bench's Wine session."""
        if self.helper.poll() is None:
            self.helper.kill()
            self.helper.wait()


class Watcher:
    def __init__(self, helper: subprocess.Popen, timeout: float):
        self.helper = helper
        self.timeout = timeout

    def states(self) -> list[dict]:
        """[{ms, exists, visible, enabled}, ...], one entry per change; waits for the watch to end."""
        try:
            out, _ = self.helper.communicate(timeout=self.timeout + 30)
        except subprocess.TimeoutExpired:
            self.helper.kill()
            out, _ = self.helper.communicate()
        lines = [line for line in out.decode("utf-8").splitlines() if line.strip()]
        if not lines:
            raise UiaError("kelvora_uia watch printed nothing")
        data = json.loads(lines[-1])
        if "states" not in data:
            raise UiaError(f"kelvora_uia watch: {data}")
        return data["states"]


class Uia:
    def __init__(self, wine: WineEnv, exe: Path):
        self.wine = wine
        self.exe = Path(exe)

    def _call(self, args: list[str], *, timeout: float = 60, ok_codes=(0,)) -> dict:
        result = self.wine.run([str(self.exe), *args], timeout=timeout, check=False)
        lines = [line for line in result.stdout.splitlines() if line.strip()]
        if not lines:
            raise UiaError(f"kelvora_uia {' '.join(args)}: no output (exit {result.returncode}) {result.stderr}")
        data = json.loads(lines[-1])
        if result.returncode not in ok_codes:
            raise UiaError(f"kelvora_uia {' '.join(args)}: exit {result.returncode}: {data}")
        return data

    # ----- looking -------------------------------------------------------------------------

    def windows(self, **filters) -> list[dict]:
        """Top-level windows (all, or those matching the filters) with their child controls.
        A window destroyed while the helper read it comes back with an empty class and
        is left out: it is gone, not a window without controls."""
        return [window for window in self._call(["windows", *_filters(**filters)])["windows"] if window["class"]]

    def screen(self) -> dict:
        """width, height, dpi, work_area, foreground."""
        return self._call(["screen"])

    def dialog(self, **filters) -> dict | None:
        """The frontmost visible dialog matching the filters: title, kind
        (messagebox/taskdialog), text, icon, buttons, rect, enabled, ..."""
        return self._call(["dialog", *_filters(**filters)])["dialog"]

    def wait_window(self, timeout: float = 10, **filters) -> dict:
        """Waits until a visible window matches; returns it, raises TimeoutError."""
        return self._wait(False, timeout, filters)

    def wait_dialog(self, timeout: float = 10, **filters) -> dict:
        return self._wait(False, timeout, {**filters, "dialog": True})

    def wait_gone(self, timeout: float = 10, **filters) -> None:
        """Waits until no visible window matches."""
        self._wait(True, timeout, filters)

    def _wait(self, gone: bool, timeout: float, filters: dict) -> dict | None:
        args = ["wait", *_filters(**filters), "--timeout", str(int(timeout * 1000))]
        if gone:
            args.append("--gone")
        data = self._call(args, timeout=timeout + 30, ok_codes=(0, 2))
        if not data["ok"]:
            what = "still there" if gone else "did not appear"
            raise TimeoutError(f"window {filters} {what} after {timeout} s: {data.get('window')}")
        return data["window"]

    # ----- acting ----------------------------------------------------------------------------

    def press(self, button_id: int, method: str = "click", **filters) -> dict:
        """Presses a dialog's button by id: method click (BM_CLICK), command (WM_COMMAND) or tdm (TDM_CLICK_BUTTON)."""
        return self._call(["press", "--id", str(button_id), "--method", method, *_filters(**filters)])

    def key(self, name: str, method: str = "input", **filters) -> dict:
        """"esc", "enter" or "alt+f4" to a window: injected after bringing it to the front, or posted."""
        return self._call(["key", name, "--method", method, *_filters(**filters)])

    def close_box(self, method: str = "syscommand", **filters) -> dict:
        """The window's close box: WM_SYSCOMMAND SC_CLOSE, or a mouse click on it (method "click")."""
        return self._call(["close-box", "--method", method, *_filters(**filters)])

    def close(self, method: str = "post", **filters) -> dict:
        """Asks the window to close (WM_CLOSE): posted, or sent ("send": the call fails with code 4
        when the window has not handled it within 5 s)."""
        return self._call(["close", "--method", method, *_filters(**filters)])

    def set_event(self, name: str) -> None:
        self._call(["set-event", name])

    def terminate(self, pid: int) -> None:
        """Ends a Windows process by its id (for programs started with launch())."""
        self._call(["terminate", "--pid", str(pid)], ok_codes=(0, 3))

    def watch(self, timeout: float = 30, **filters) -> "Watcher":
        """Starts watching the first visible matching window in the background:
        every change of exists/visible/enabled until it is gone (see Watcher.states).
        Returns once the helper says that it has found the window."""
        command = [str(self.exe), "watch", *_filters(**filters), "--timeout", str(int(timeout * 1000))]
        helper = subprocess.Popen(["wine", *command], env=self.wine.env(), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        first = helper.stdout.readline().decode("utf-8")  # the helper gives up after timeout itself
        if "watching" not in (json.loads(first) if first.strip() else {}):
            helper.kill()
            helper.wait(timeout=30)
            raise UiaError(f"kelvora_uia watch found no window: {first.strip() or 'no output'}")
        return Watcher(helper, timeout)

    def launch(self, exe: os.PathLike | str, args: list[str] = (), *, show: int = SW_SHOWNORMAL,
               cwd: str | None = None, wait: float = 300, extra_env: dict[str, str] | None = None) -> Launched:
        """Starts a Windows program with CreateProcessW and the given show
        command (STARTUPINFO wShowWindow); exe and cwd are Windows paths."""
        command = [str(self.exe), "launch", "--show", str(show), "--wait", str(int(wait * 1000))]
        if cwd:
            command += ["--cwd", cwd]
        command += ["--", str(exe), *args]
        helper = subprocess.Popen(["wine", *command], env=self.wine.env(extra_env), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        first = helper.stdout.readline().decode("utf-8")
        if not first.strip():
            helper.wait(timeout=30)
            raise UiaError("kelvora_uia launch printed nothing")
        data = json.loads(first)
        if "pid" not in data:
            helper.wait(timeout=30)
            raise UiaError(f"kelvora_uia launch failed: {data}")
        return Launched(helper, int(data["pid"]))


# ----- reading what the helper reported ---------------------------------------------------

def child(window: dict, class_name: str) -> dict:
    """The first child control of a class (case-insensitive)."""
    for item in window["children"]:
        if item["class"].lower() == class_name.lower():
            return item
    raise KeyError(f"no {class_name} in {window['title']!r}: {[c['class'] for c in window['children']]}")


def progress_bar(window: dict) -> dict:
    return child(window, "msctls_progress32")


def label_text(window: dict) -> str:
    return child(window, "Static")["text"]

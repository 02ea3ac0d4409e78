"""A Wine prefix and an X display for the tests, and Windows programs run in them.

The full test run (scripts/with-wine.sh, through bench.with_wine) makes one
prefix and one Xvfb display and passes them in WINEPREFIX and DISPLAY; a pytest run on its own makes a
prefix under the build tree and an Xvfb display of its own and stops both when
it ends."""

from __future__ import annotations

import contextlib
import hashlib
import os
import select
import shutil
import subprocess
import tempfile
import time
from pathlib import Path, PurePosixPath

from . import registry
from .file_lock import FileLock
from .lifetime import die_with_parent
from .proxy_settings import CONNECTIONS_KEY, VALUE_NAME, ProxyConfig, connection_settings_blob

_PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY", "all_proxy",
                    "ALL_PROXY")
# Bumped when prepare() learns something new, so older prefixes are prepared again.
_PREPARED_MARK = ".kelvora-bench-prepared-3"
_DEFAULT_TEMP = r"%USERPROFILE%\Temp"
_XVFB_LIFETIME_S = 3600  # an Xvfb of ours never outlives a forgotten test run by long

TEMP_KEY = r"HKCU\Environment"
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
VERSION_KEY = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion"

# Wine's own fonts, from Debian's fonts-wine package. Wine 8 as Debian builds it
# looks for them at "<data folder>\..\fonts" (Z:\usr\share\wine\../fonts), a
# name its own file layer refuses (STATUS_OBJECT_NAME_INVALID), so it never
# loads them, in a new prefix or an old one (measured with WINEDEBUG=+file,+font).
# A font in the prefix's C:\windows\Fonts is found by every process started
# afterwards, as on Windows, where Marlett is one of the system's fonts.
WINE_FONTS = Path("/usr/share/wine/fonts")
# Marlett holds the symbols of the caption buttons (minimise, maximise, close);
# without it Wine draws them in a fallback text font, as the letters "0 1 r".
PREFIX_FONTS = ("marlett.ttf",)


def windows_path(path: os.PathLike | str) -> str:
    """The Windows name of a host path (drive Z: is the host's root in a Wine prefix)."""
    absolute = PurePosixPath(os.path.abspath(os.fspath(path)))
    return "Z:" + str(absolute).replace("/", "\\")


class WineProcess:
    """A Windows program started from the host. The host process is the program
    itself, so its exit code is the program's."""

    def __init__(self, popen: subprocess.Popen, name: str):
        self.popen = popen
        self.name = name

    @property
    def pid(self) -> int:
        return self.popen.pid

    def running(self) -> bool:
        return self.popen.poll() is None

    def wait(self, timeout: float) -> int:
        """The exit code; raises subprocess.TimeoutExpired if still running after timeout seconds."""
        return self.popen.wait(timeout=timeout)

    def kill(self) -> None:
        if self.running():
            self.popen.kill()
            with contextlib.suppress(subprocess.TimeoutExpired):
                self.popen.wait(timeout=10)

    def __enter__(self) -> "WineProcess":
        return self

    def __exit__(self, *exc) -> None:
        self.kill()


class WineEnv:
    def __init__(self, prefix: Path, display: str, xvfb: subprocess.Popen | None, owns_prefix: bool):
        self.prefix = prefix
        self.display = display
        self._xvfb = xvfb
        self._owns_prefix = owns_prefix
        self._started: list[WineProcess] = []
        self._prefix_lock: FileLock | None = None

    # ----- making and stopping -------------------------------------------------------------

    @classmethod
    def open(cls, scratch: Path, *, prefix: Path | None = None, display: str | None = None) -> "WineEnv":
        """Without arguments: reuse the prefix and display of the surrounding
        test run, or make our own (prefix under scratch, an Xvfb display).
        prefix/display name them explicitly; display None then means our own Xvfb."""
        owns_prefix = True
        if prefix is None and display is None and os.environ.get("WINEPREFIX") and os.environ.get("DISPLAY"):
            prefix, display, owns_prefix = Path(os.environ["WINEPREFIX"]), os.environ["DISPLAY"], False
        elif prefix is None:
            owns_prefix = not os.environ.get("WINEPREFIX")
            prefix = Path(os.environ.get("WINEPREFIX") or scratch / "e2e-prefix")
        xvfb = None
        if display is None:
            xvfb, display = start_xvfb()
        env = cls(Path(prefix), display, xvfb, owns_prefix=owns_prefix)
        try:
            env._lock()
            env._ensure_server()
            env.prepare()
        except BaseException:
            env.close()
            raise
        return env

    def _lock(self) -> None:
        """One test file at a time per prefix: registry settings and the vendor
        port are shared by everything that runs in it."""
        self._prefix_lock = FileLock(self.prefix / ".kelvora-bench.lock")
        self._prefix_lock.acquire(timeout=600)

    def close(self) -> None:
        for process in self._started:
            process.kill()
        self._started.clear()
        if self._owns_prefix or self._xvfb is not None:
            # Our own display is going away: nothing of ours may stay on it.
            subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30, check=False)
        if self._xvfb is not None:
            self._xvfb.terminate()
            with contextlib.suppress(subprocess.TimeoutExpired):
                self._xvfb.wait(timeout=10)
            if self._xvfb.poll() is None:
                self._xvfb.kill()
            self._xvfb = None
        if self._prefix_lock is not None:
            self._prefix_lock.release()
            self._prefix_lock = None

    def __enter__(self) -> "WineEnv":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    # ----- running programs ----------------------------------------------------------------

    def env(self, extra: dict[str, str] | None = None) -> dict[str, str]:
        env = {k: v for k, v in os.environ.items() if k not in _PROXY_VARIABLES}
        env.update(WINEPREFIX=str(self.prefix), DISPLAY=self.display, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8")
        env.pop("LC_ALL", None)
        if extra:
            env.update(extra)
        return env

    def start(self, exe: os.PathLike | str, args: list[str] | tuple[str, ...] = (), *, cwd: os.PathLike | None = None,
              extra_env: dict[str, str] | None = None, stdout=subprocess.DEVNULL,
              stderr=subprocess.DEVNULL) -> WineProcess:
        """Starts a Windows exe; it is killed when the bench closes if it is still running."""
        popen = subprocess.Popen(["wine", os.fspath(exe), *args], env=self.env(extra_env), cwd=cwd,
                                 stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr)
        process = WineProcess(popen, Path(exe).name)
        self._started.append(process)
        return process

    def run(self, args: list[str], *, timeout: float = 60, check: bool = True,
            extra_env: dict[str, str] | None = None) -> subprocess.CompletedProcess:
        """Runs `wine args...` to completion and returns its output (text, UTF-8).
        Output goes through files, not pipes: Wine's helper processes inherit
        the descriptors, and a pipe would only report its end when they exit."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(["wine", *args], env=self.env(extra_env), stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=err, timeout=timeout, check=False)
            out.seek(0)
            err.seek(0)
            stdout = out.read().decode("utf-8", errors="replace")
            stderr = err.read().decode("utf-8", errors="replace")
        completed = subprocess.CompletedProcess(result.args, result.returncode, stdout, stderr)
        if check and result.returncode != 0:
            raise RuntimeError(f"wine {' '.join(args)} failed with {result.returncode}: {stderr or stdout}")
        return completed

    def _ensure_server(self) -> None:
        """A wineserver that outlives single commands (it would otherwise stop
        3 s after each one and make the next start slow), started with no
        descriptors of ours; if one runs for the prefix already, this does nothing."""
        subprocess.run(["wineserver", "-p60"], env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30, check=False)

    # ----- the registry --------------------------------------------------------------------

    def apply_registry(self, edits: dict) -> None:
        """See registry.reg_file_text for the form of edits."""
        with tempfile.NamedTemporaryFile(suffix=".reg", dir=self.prefix, delete=False) as handle:
            handle.write(registry.reg_file_bytes(edits))
            path = handle.name
        try:
            # On a busy machine Wine now and then fails to start reg.exe at all ("Application could not be
            # started"); the import changes nothing until it runs, so it is simply tried again, a few times.
            for attempt in range(3):
                result = self.run(["reg", "import", windows_path(path)], check=attempt == 2)
                if result.returncode == 0:
                    break
                time.sleep(0.5)
        finally:
            os.unlink(path)

    def prepare(self) -> None:
        """Once per prefix: make it if needed, and tell Wine that no window
        manager runs on the test display: Wine draws the window frames itself,
        and it does not wait for a window manager to take a window being hidden
        (without one, every closed dialog cost a two-second timeout)."""
        mark = self.prefix / _PREPARED_MARK
        if not mark.exists():
            if not (self.prefix / "system.reg").exists():
                subprocess.run(["wineboot", "-i"], env=self.env(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)
            self.apply_registry({r"HKCU\Software\Wine\X11 Driver": {"Decorated": registry.sz("N"),
                                                                         "Managed": registry.sz("N")}})
            mark.write_text("prepared\n")
        # Every time, not once: the package may have come after the prefix.
        link_wine_fonts(self.prefix)

    def set_temp(self, folder: os.PathLike | str | None) -> None:
        """TEMP and TMP of programs started from now on (a host folder), or the prefix's default with None."""
        value = registry.expand_sz(_DEFAULT_TEMP) if folder is None else registry.sz(windows_path(folder))
        self.apply_registry({TEMP_KEY: {"TEMP": value, "TMP": value}})

    def set_dpi(self, dpi: int) -> None:
        """96 (100 %) or 144 (150 %) for programs started from now on."""
        self.apply_registry({DESKTOP_KEY: {"LogPixels": registry.dword(dpi)}})

    def set_windows_version(self, version: str) -> None:
        """"win7", "win8", "win81", "win10" or "win11" (win10 with build 22631)."""
        self.run(["winecfg", "-v", "win10" if version == "win11" else version], timeout=120)
        if version == "win11":
            self.apply_registry({VERSION_KEY: {"CurrentBuildNumber": registry.sz("22631"),
                                               "CurrentBuild": registry.sz("22631")}})

    def set_proxy(self, config: ProxyConfig | None) -> None:
        """The user's proxy configuration; None removes it (WinHTTP then goes direct)."""
        value = None if config is None else registry.binary(connection_settings_blob(config))
        self.apply_registry({CONNECTIONS_KEY: {VALUE_NAME: value}})

    # ----- trusting the test CA ------------------------------------------------------------

    def trust_ca(self, ca_pem: Path, helper_exe: Path | None = None) -> None:
        """Makes the CA trusted in this prefix only (local machine ROOT store)."""
        der = subprocess.run(["openssl", "x509", "-in", str(ca_pem), "-outform", "DER"], capture_output=True,
                             check=True, timeout=30).stdout
        thumbprint = hashlib.sha1(der).hexdigest().upper()
        mark = self.prefix / f".kelvora-bench-ca-{thumbprint}"
        if mark.exists():
            return
        if helper_exe is not None and helper_exe.exists():
            printed = self.run([str(helper_exe), windows_path(ca_pem)]).stdout.strip()
            if printed != thumbprint:
                raise RuntimeError(f"trust helper reported {printed!r}, expected {thumbprint}")
        else:
            # The registry form of a trusted root: the certificate as a serialized
            # property (id 32, the encoded certificate) in a key named by its SHA-1.
            blob = (32).to_bytes(4, "little") + (1).to_bytes(4, "little") + len(der).to_bytes(4, "little") + der
            key = rf"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\{thumbprint}"
            self.apply_registry({key: {"Blob": registry.binary(blob)}})
        mark.write_text(str(ca_pem) + "\n")


def prefix_fonts_folder(prefix: Path) -> Path:
    return prefix / "drive_c" / "windows" / "Fonts"


def link_wine_fonts(prefix: Path, source: Path = WINE_FONTS) -> list[Path]:
    """Links the fonts of PREFIX_FONTS from `source` into the prefix's C:\\windows\\Fonts
    where they are missing; returns the links now in place. A font the package
    did not bring is left out (the font test then says so)."""
    folder = prefix_fonts_folder(prefix)
    linked = []
    for name in PREFIX_FONTS:
        font, link = source / name, folder / name
        if not font.is_file():
            continue
        if not link.exists():  # also a link left dangling by a removed package
            folder.mkdir(parents=True, exist_ok=True)
            link.unlink(missing_ok=True)
            link.symlink_to(font)
        linked.append(link)
    return linked


def start_xvfb(width: int = 1280, height: int = 1024) -> tuple[subprocess.Popen, str]:
    """An Xvfb display of our own, bounded in lifetime; returns (process, ':N').
    Xvfb picks a free display number itself and writes it to -displayfd once it
    accepts connections, so there is no scan for a free number and no polling."""
    if not shutil.which("Xvfb"):
        raise RuntimeError("Xvfb is not installed")
    read_end, write_end = os.pipe()
    try:
        process = subprocess.Popen(["timeout", str(_XVFB_LIFETIME_S), "Xvfb", "-displayfd", str(write_end),
                                    "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp"],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   pass_fds=(write_end,), preexec_fn=die_with_parent)
        os.close(write_end)
        write_end = -1
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                break
            chunk = os.read(read_end, 16)
            if not chunk:  # Xvfb ended without a display
                break
            number += chunk
        if number.strip().isdigit():
            return process, f":{int(number)}"
        process.kill()
        process.wait()
        raise RuntimeError("Xvfb did not start")
    finally:
        os.close(read_end)
        if write_end >= 0:
            os.close(write_end)

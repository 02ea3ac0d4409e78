"""Fixtures of the end-to-end tests (the machinery is in bench/).

Session-wide: the Wine prefix and display (`wine`), the certificates
(`certs`, with the test CA trusted in the prefix), the UI automation helper
(`uia`). Per test: prefix settings that are reset afterwards (`settings`), a
fresh temporary folder for the programs (`temp_folder`), servers (`https_server`,
`vendor_server`, `nginx_server`, `vendor_nginx`), started programs (`programs`)
and screenshots (`screenshot`)."""

from __future__ import annotations

import shutil
import sys
from pathlib import Path
from urllib.parse import urlsplit

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from bench import paths  # noqa: E402
from bench.certs import Certificates, make_certificates  # noqa: E402
from bench.https_server import ScriptedServer  # noqa: E402
from bench.nginx import NginxServer, place_file  # noqa: E402
from bench.proxy_settings import ProxyConfig  # noqa: E402
from bench.screenshots import take_screenshot, union  # noqa: E402
from bench.uia import Uia, UiaError  # noqa: E402
from bench.wine import WineEnv, WineProcess  # noqa: E402


# ----- the session ----------------------------------------------------------------------------

@pytest.fixture(scope="session")
def work_dir() -> Path:
    return paths.work_dir()


@pytest.fixture(scope="session")
def wine(work_dir) -> WineEnv:
    with WineEnv.open(work_dir) as env:
        yield env


@pytest.fixture(scope="session")
def certs(work_dir, wine) -> Certificates:
    """The certificate set, with the test CA trusted inside the prefix (only there)."""
    made = make_certificates(work_dir / "certs")
    helper = None
    try:
        helper = paths.trust_ca_exe()
    except FileNotFoundError:
        pass
    wine.trust_ca(made.ca_cert, helper)
    return made


@pytest.fixture(scope="session")
def uia(wine) -> Uia:
    return Uia(wine, paths.uia_exe())


@pytest.fixture(scope="session")
def download_url() -> str:
    return paths.download_url()


@pytest.fixture(scope="session")
def vendor_address(download_url):
    """(host, port, path) of the download address compiled into the program."""
    parts = urlsplit(download_url)
    return parts.hostname, parts.port or 443, parts.path


@pytest.fixture(scope="session")
def installer_exe() -> Path:
    """The program as built with the default settings: no publisher to check
    (the tests serve it an unsigned stand-in and expect that to be launched),
    no resuming (one GET per run) and no fallback address."""
    publisher = paths.installer_publisher()
    assert not publisher, (f"this build's Kelvora_Installer.exe launches only installers signed by {publisher!r}; "
                           "configure it with -DKELVORA_INSTALLER_PUBLISHER= for the tests")
    attempts = paths.cmake_cache_value("KELVORA_RESUME_ATTEMPTS") or "0"
    assert attempts == "0", (f"this build's Kelvora_Installer.exe resumes {attempts} times; "
                             "configure it with -DKELVORA_RESUME_ATTEMPTS=0 for the tests")
    fallbacks = paths.cmake_cache_value("KELVORA_FALLBACK_URLS") or ""
    assert not fallbacks, (f"this build's Kelvora_Installer.exe falls back to {fallbacks}; "
                           "configure it with -DKELVORA_FALLBACK_URLS= for the tests")
    return paths.installer_exe()


@pytest.fixture(scope="session")
def test_installer_exe() -> Path:
    return paths.test_installer_exe()


@pytest.fixture(scope="session")
def standin_exe() -> Path:
    return paths.standin_installer_exe()


# ----- per test ---------------------------------------------------------------------------------

class PrefixSettings:
    """Changes to the prefix that last for one test: each one changed is put back afterwards."""

    def __init__(self, wine: WineEnv):
        self.wine = wine
        self._undo: dict[str, callable] = {}

    def temp(self, folder: Path | None) -> None:
        self.wine.set_temp(folder)
        self._undo.setdefault("temp", lambda: self.wine.set_temp(None))

    def dpi(self, dpi: int) -> None:
        self.wine.set_dpi(dpi)
        self._undo.setdefault("dpi", lambda: self.wine.set_dpi(96))

    def windows_version(self, version: str) -> None:
        self.wine.set_windows_version(version)
        self._undo.setdefault("version", lambda: self.wine.set_windows_version("win7"))

    def proxy(self, config: ProxyConfig | None) -> None:
        self.wine.set_proxy(config)
        self._undo.setdefault("proxy", lambda: self.wine.set_proxy(None))

    def restore(self) -> None:
        for undo in self._undo.values():
            undo()
        self._undo.clear()


@pytest.fixture
def settings(wine) -> PrefixSettings:
    changes = PrefixSettings(wine)
    yield changes
    changes.restore()


@pytest.fixture
def temp_folder(work_dir, settings, request) -> Path:
    """A fresh, empty folder that programs started in this test see as TEMP and TMP."""
    folder = work_dir / "temp" / _safe_name(request.node.name)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    settings.temp(folder)
    return folder


@pytest.fixture
def programs(wine):
    """Starts Windows programs for one test; any still running at its end is killed."""
    started: list[WineProcess] = []

    def start(exe, args=(), **options) -> WineProcess:
        process = wine.start(exe, list(args), **options)
        started.append(process)
        return process

    yield start
    for process in started:
        process.kill()


@pytest.fixture
def https_server(certs):
    """Factory: https_server(handler, port=0, certificate=certs.localhost, tls=True, lifetime=120)."""
    servers: list[ScriptedServer] = []

    def make(handler, *, port: int = 0, certificate=None, tls: bool = True, lifetime: float = 120) -> ScriptedServer:
        server = ScriptedServer((certificate or certs.localhost) if tls else None, handler, port=port,
                                lifetime=lifetime)
        servers.append(server)
        return server.start()

    yield make
    for server in servers:
        server.stop()
    errors = [error for server in servers for error in server.handler_errors]
    assert not errors, f"a server's handler failed: {errors}"


@pytest.fixture
def vendor_server(https_server, vendor_address):
    """Factory: a scripted server standing in for the vendor, on the built-in address's port."""

    def make(handler, **options) -> ScriptedServer:
        return https_server(handler, port=vendor_address[1], **options)

    return make


@pytest.fixture
def nginx_server(certs, work_dir, request):
    """Factory: nginx_server(files={url_path: bytes or Path}, port=0, limit_rate=None, delay=None)."""
    servers: list[NginxServer] = []

    def make(files: dict, *, port: int = 0, certificate=None, **options) -> NginxServer:
        base = work_dir / "nginx" / f"{_safe_name(request.node.name)}-{len(servers)}"
        root = base / "root"
        shutil.rmtree(root, ignore_errors=True)
        for url_path, content in files.items():
            place_file(root, url_path, content)
        server = NginxServer(root, certificate or certs.localhost, base / "run", port=port, **options)
        servers.append(server)
        return server.start()

    yield make
    for server in servers:
        server.stop()


@pytest.fixture
def vendor_nginx(nginx_server, vendor_address):
    """Factory: nginx on the built-in address's port serving `content` at its path."""

    def make(content, **options) -> NginxServer:
        return nginx_server({vendor_address[2]: content}, port=vendor_address[1], **options)

    return make


@pytest.fixture
def screenshot(wine, uia, request):
    """screenshot(state, window=None) saves the display as screenshots/<test>-<state>.png,
    cropped to `window` (as the UI helper reported it) or else to all visible windows,
    with a small margin; a failing test gets a <test>-failure.png as well."""
    taken: list[Path] = []

    def take(state: str, window: dict | None = None) -> Path:
        rect = window["rect"] if window is not None else visible_windows_rect(uia)
        path = take_screenshot(wine.display, request.node.name, state, rect=rect)
        taken.append(path)
        return path

    yield take
    report = getattr(request.node, "rep_call", None)
    if report is not None and report.failed:
        take("failure")


def visible_windows_rect(uia: Uia) -> dict | None:
    """What a screenshot shows: the union of the visible top-level windows, or
    the whole screen (None) when there is none or the helper cannot tell."""
    try:
        windows = uia.windows(visible=True)
    except (UiaError, ValueError):
        return None
    return union([w["rect"] for w in windows if w["rect"]["width"] > 0 and w["rect"]["height"] > 0])


@pytest.hookimpl(hookwrapper=True, tryfirst=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    setattr(item, f"rep_{report.when}", report)


def _safe_name(name: str) -> str:
    return "".join(c if c.isalnum() or c in "-_." else "_" for c in name)[:80]

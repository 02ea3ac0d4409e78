"""The demo behind scripts/demo.sh: the built program against nginx on the
built-in loopback address, serving the stand-in installer. When the build
names a publisher (KELVORA_INSTALLER_PUBLISHER), the stand-in is served signed
with a test code-signing certificate issued to that publisher by the test CA.
When it names a fallback address (KELVORA_FALLBACK_URLS) on loopback, nginx
serves the stand-in there instead, and the built-in address is a scripted
server that answers the first size request busy (503, Retry-After: 1) and
then has no file (404), so that the run asks again and then falls back.
When it holds installer keys (KELVORA_INSTALLER_KEYS), the stand-in is served
with its detached signature (.sig) made by the private key beside the first
public key (scripts/sign-installer.sh --new-key names them KEY.pem and
KEY.pub.pem).

    python3 -m bench.demo BUILD_DIR      (from tests/e2e)

With DISPLAY set the program appears there and the user answers it; without,
an Xvfb display of its own is used, the confirmation is answered with OK
through the UI automation helper and each stage is saved as a screenshot,
cropped to the window or dialog on show.

    python3 -m bench.demo BUILD_DIR --pictures DIR

makes the pictures of the README in DIR, always on a display of its own: the
confirmation question and the window during the download from the run above,
then the failure message from a second run in which no address answers."""

from __future__ import annotations

import argparse
import os
import re
import socket
import shutil
import subprocess
import sys
import time
from pathlib import Path
from urllib.parse import urlsplit

from . import paths
from .certs import code_signing_certificate, make_certificates
from .https_server import ScriptedServer
from .nginx import NginxServer, place_file
from .screenshots import take_screenshot, union
from .signing import sign
from .standin import read_launches
from .uia import IDOK, Uia
from .waiting import wait_until
from .wine import WineEnv, windows_path

IMAGE = "Kelvora_Installer.exe"
WINDOW_TITLE = "Kelvora Installation"
MESSAGE_TITLE = "Kelvora_installer"  # the title of the program's plain messages
SPEED_LABEL = re.compile(r"Download: \d+ KB/s")
# The pictures of the README, by stage.
PICTURES = {"confirmation": "confirmation.png", "progress": "download.png", "failure": "failure.png"}


def say(text: str) -> None:
    print(f"demo: {text}", flush=True)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir", type=Path)
    parser.add_argument("--rate", type=int, default=96 * 1024, help="nginx limit_rate in bytes/s (0: none)")
    parser.add_argument("--pictures", type=Path, metavar="DIR",
                        help="save the README's pictures in DIR (on a display of its own), with a second run "
                             "in which no address answers for the failure message")
    options = parser.parse_args()
    pictures = options.pictures.resolve() if options.pictures else None
    build = options.build_dir.resolve()
    os.environ["KELVORA_BUILD_DIR"] = str(build)

    url = urlsplit(paths.download_url(build))
    if url.scheme != "https" or url.hostname != "localhost" or not url.port:
        say(f"the build's download address {url.geturl()} is not on loopback; "
            "configure it with -DKELVORA_DOWNLOAD_URL=https://localhost:48443/fileadmin/files/kelvora/Kelvora_Install.exe")
        return 2
    installer = paths.installer_exe()
    standin = paths.standin_installer_exe()
    uia_exe = paths.uia_exe()

    work = build / "demo"
    shutil.rmtree(work / "temp", ignore_errors=True)
    (work / "temp").mkdir(parents=True)
    shots = build / "screenshots"
    for old in shots.glob("demo-*.png"):  # the paths printed below are this run's only
        old.unlink()
    launch_log = work / "standin-launch.txt"
    launch_log.unlink(missing_ok=True)

    ports_in_use = [port for port in demo_ports(build) if listening(port)]
    if ports_in_use:
        say(f"something already listens on port(s) {', '.join(map(str, ports_in_use))} of localhost, which the "
            "demo serves on; try again when it has ended")
        return 2

    interactive = bool(os.environ.get("DISPLAY")) and pictures is None
    if interactive:
        say(f"using the X display {os.environ['DISPLAY']}: answer the program's question yourself")
    else:
        say("no DISPLAY: running on an Xvfb display of its own, answering OK through the helper")
    say(f"preparing the Wine prefix {work / 'prefix'}")
    wine = WineEnv.open(work, prefix=work / "prefix", display=os.environ["DISPLAY"] if interactive else None)
    nginx = None
    primary = None
    primary_log: list[str] = []
    try:
        certs = make_certificates(work / "certs")
        wine.trust_ca(certs.ca_cert, paths.trust_ca_exe())
        say(f"test CA {certs.ca_cert} trusted inside the prefix only")
        wine.set_temp(work / "temp")

        root = work / "www"
        shutil.rmtree(root, ignore_errors=True)
        served = standin
        publisher = paths.installer_publisher(build)
        if publisher:
            signer = code_signing_certificate(work / "certs", publisher)
            served = sign(standin, signer, certs.ca_cert, work / "signed-standin.exe")
            say(f"this build launches only an installer signed by {publisher!r}: the stand-in is served signed "
                f"with the test certificate {signer.cert} (CN={publisher}, issued by the test CA)")
        else:
            say("this build checks no publisher (KELVORA_INSTALLER_PUBLISHER is empty): the stand-in is served unsigned")
        attempts = paths.cmake_cache_value("KELVORA_RESUME_ATTEMPTS", build) or "0"
        say(f"this build resumes a dropped download and asks a busy server again up to {attempts} times "
            "(KELVORA_RESUME_ATTEMPTS)"
            if attempts != "0" else "this build does not resume a dropped download (KELVORA_RESUME_ATTEMPTS is 0)")
        if attempts != "0" and publisher:
            say("with attempts and a publisher, it keeps a cut-off download in the temporary folder for the next run")
        fallbacks = [a for a in (paths.cmake_cache_value("KELVORA_FALLBACK_URLS", build) or "").split(";") if a]
        fallback = urlsplit(fallbacks[0]) if fallbacks else None
        if fallback and (fallback.scheme != "https" or fallback.hostname != "localhost" or not fallback.port):
            say(f"the build's fallback address {fallback.geturl()} is not on loopback: the demo serves only the "
                "download address")
            fallback = None
        served_at = fallback or url
        place_file(root, served_at.path, served)
        key_files = [k for k in (paths.cmake_cache_value("KELVORA_INSTALLER_KEYS", build) or "").split(";") if k]
        if key_files:
            public = Path(key_files[0])
            if not public.is_absolute():
                public = paths.source_dir() / public
            private = public.with_name(public.name.replace(".pub.pem", ".pem"))
            # A copy is signed: the .sig lands beside it, not beside the build's stand-in.
            copy = shutil.copyfile(served, work / "served-standin.exe")
            subprocess.run(["bash", str(paths.source_dir() / "scripts" / "sign-installer.sh"), str(private),
                            str(copy)], check=True, timeout=60, stdout=subprocess.DEVNULL)
            place_file(root, served_at.path + ".sig", Path(f"{copy}.sig"))
            say(f"this build launches only an installer whose .sig one of its keys made (KELVORA_INSTALLER_KEYS): "
                f"the stand-in's signature by {private} is served at {served_at.path}.sig")
        else:
            say("this build holds no installer key (KELVORA_INSTALLER_KEYS is empty): no .sig is served")
        nginx = NginxServer(root, certs.localhost, work / "nginx", port=served_at.port,
                            limit_rate=options.rate or None, lifetime=3600).start()
        say(f"nginx serves the stand-in installer ({served.stat().st_size} bytes) at {nginx.url(served_at.path)}")
        if fallback:
            say(f"this build falls back to {', '.join(fallbacks)} (KELVORA_FALLBACK_URLS): the download address "
                "answers the first size request busy (503, Retry-After: 1), then has no file (404)")
            primary = ScriptedServer(certs.localhost, busy_then_gone(primary_log), port=url.port,
                                     lifetime=3600).start()
        else:
            say("this build has no fallback address (KELVORA_FALLBACK_URLS is empty)")

        program = wine.start(installer, extra_env={"KELVORA_STANDIN_LOG": windows_path(launch_log)})
        say(f"started {installer}")
        if interactive:
            program.wait(timeout=3600)
        else:
            run_headless(wine, Uia(wine, uia_exe), program, shots, pictures)
        say(f"the program ended with exit code {program.popen.returncode}")

        for line in primary_log:
            say(f"download address saw: {line}")
        for request in nginx.requests():
            say(f"server saw: {request.method} {request.target} -> {request.status}, "
                f"Range {request.range or '-'}, {request.body_bytes_sent} bytes, User-Agent {request.user_agent!r}")
        report_launch(launch_log, work / "temp")
    finally:
        if nginx is not None:
            nginx.stop()
        if primary is not None:
            primary.stop()
        wine.close()
    if pictures is not None:
        run_every_address_down(work, installer, uia_exe, shots, pictures)
        say(f"the README's pictures are in {pictures}: {', '.join(PICTURES.values())}")
    return 0


def busy_then_gone(log: list[str]):
    """A handler that answers the first request 503 with Retry-After: 1, every later one 404; each noted in `log`."""

    def handler(exchange) -> None:
        request = exchange.request
        status = 503 if not log else 404
        headers = [("Content-Type", "text/plain")] + ([("Retry-After", "1")] if status == 503 else [])
        log.append(f"{request.method} {request.target} -> {status}, Range {request.header('Range') or '-'}")
        exchange.respond(status, headers, b"busy" if status == 503 else b"not here")

    return handler


def run_headless(wine: WineEnv, uia: Uia, program, shots: Path, pictures: Path | None = None) -> None:
    confirmation = uia.wait_dialog(image=IMAGE, timeout=60)
    say(f"confirmation: {confirmation['title']!r}: {confirmation['text']!r}")
    shot(wine, "1-confirmation", confirmation["rect"], shots, pictures and pictures / PICTURES["confirmation"])
    uia.press(IDOK, hwnd=confirmation["hwnd"])
    try:
        window = uia.wait_window(image=IMAGE, title=WINDOW_TITLE, timeout=30)
        shot(wine, "2-window", window["rect"], shots)
        at_work = wait_download_at_work(uia, program, window)
        if at_work is not None:
            bar = progress_of(at_work)
            say(f"progress: bar {bar['pos']} of {bar['min']}-{bar['max']}, label {label_of(at_work)!r}")
            shot(wine, "3-progress", at_work["rect"], shots, pictures and pictures / PICTURES["progress"])
        elif pictures is not None:
            raise RuntimeError("the download never stood between 10 % and 90 % with its speed on show: "
                               "no picture of the window at work (is --rate 0 or the file too small?)")
        else:
            say("the download never stood between 10 % and 90 % with its speed on show: no progress screenshot")
    except TimeoutError:
        if pictures is not None:
            raise
        say("the window did not come up (the program may already have ended)")
    try:
        program.wait(timeout=600)
    except subprocess.TimeoutExpired:
        dialog = uia.dialog(image=IMAGE)
        say(f"still running; dialog up: {dialog and dialog['title']!r} {dialog and dialog['text']!r}")
        raise


def shot(wine: WineEnv, state: str, rect: dict, shots: Path, picture: Path | None = None) -> None:
    """Saves the display cropped to `rect` as shots/demo-<state>.png, and a copy as `picture` if given."""
    path = take_screenshot(wine.display, "demo", state, shots, rect=rect)
    say(f"screenshot {path}")
    if picture is not None:
        picture.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(path, picture)
        say(f"picture {picture} ({picture.stat().st_size} bytes)")


def progress_of(window: dict) -> dict:
    return next(c for c in window["children"] if c["class"].lower() == "msctls_progress32")["progress"]


def label_of(window: dict) -> str:
    return next((c["text"] for c in window["children"] if c["class"].lower() == "static"), "")


def at_work(window: dict) -> bool:
    """The bar between 10 % and 90 % of its range and the label showing the speed."""
    bar = progress_of(window)
    span = bar["max"] - bar["min"]
    return (span > 0 and bar["min"] + span * 0.1 <= bar["pos"] <= bar["min"] + span * 0.9
            and SPEED_LABEL.fullmatch(label_of(window)) is not None)


def wait_download_at_work(uia: Uia, program, window: dict, timeout: float = 120) -> dict | None:
    """The window as the UI helper sees it once the download is at work (see at_work),
    or None when the program ends, the window goes or the time runs out first."""
    deadline = time.monotonic() + timeout
    while program.running() and time.monotonic() < deadline:
        found = uia.windows(hwnd=window["hwnd"])
        if not found:
            return None
        if at_work(found[0]):
            return found[0]
        time.sleep(0.05)
    return None


def run_every_address_down(work: Path, installer: Path, uia_exe: Path, shots: Path, pictures: Path) -> None:
    """A second run on a display of its own with nothing listening on any address and an
    empty temporary folder (a kept file would be launched instead): the failure message."""
    say("second run: no address answers, for the failure message")
    shutil.rmtree(work / "temp", ignore_errors=True)
    (work / "temp").mkdir(parents=True)
    wine = WineEnv.open(work, prefix=work / "prefix")
    try:
        wine.set_temp(work / "temp")
        uia = Uia(wine, uia_exe)
        program = wine.start(installer)
        confirmation = uia.wait_dialog(image=IMAGE, timeout=60)
        uia.press(IDOK, hwnd=confirmation["hwnd"])
        message = uia.wait_dialog(image=IMAGE, title=MESSAGE_TITLE, timeout=300)
        say(f"failure message: {message['title']!r}: {message['text']!r}")
        # The message over the window it belongs to.
        shown = [w["rect"] for w in uia.windows(image=IMAGE, visible=True)] or [message["rect"]]
        shot(wine, "4-failure", union(shown), shots, pictures / PICTURES["failure"])
        uia.press(IDOK, hwnd=message["hwnd"])
        program.wait(timeout=60)
        say(f"the program ended with exit code {program.popen.returncode}")
    finally:
        wine.close()


def demo_ports(build: Path) -> list[int]:
    """The loopback ports of the build's download and fallback addresses."""
    addresses = [paths.download_url(build), *(paths.cmake_cache_value("KELVORA_FALLBACK_URLS", build) or "").split(";")]
    parts = [urlsplit(a) for a in addresses if a]
    return sorted({p.port for p in parts if p.hostname == "localhost" and p.port})


def listening(port: int) -> bool:
    """Whether something accepts connections on the port of localhost (IPv4 or IPv6)."""
    for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
        with socket.socket(family, socket.SOCK_STREAM) as probe:
            probe.settimeout(1.0)
            try:
                if probe.connect_ex((address, port)) == 0:
                    return True
            except OSError:
                continue
    return False


def report_launch(launch_log: Path, temp: Path) -> None:
    files = sorted(p.name for p in temp.iterdir())
    say(f"temporary folder {temp}: {files or 'empty'}")
    # The shell starts the stand-in while the program is already ending: its record may come a moment later.
    launches = wait_until(lambda: read_launches(launch_log), timeout=15, interval=0.1)
    if not launches:
        say("the stand-in installer was not launched (no launch recorded); until the download code is in, "
            "the program's coordinator does nothing but end, and the demo ends after the window")
        return
    for launch in launches:
        say("the stand-in installer was launched:")
        for key in ("exe_path", "command_line", "working_directory", "show_window", "uses_show_window"):
            say(f"  {key}: {launch[key]}")


if __name__ == "__main__":
    sys.exit(main())

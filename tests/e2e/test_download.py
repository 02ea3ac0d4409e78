"""The whole download run of the real Kelvora_Installer.exe under Wine, against
servers standing in for the vendor on the built-in address: consent, the size
request, the transfer with bar and speed, the launch of the installer through
the shell, and every way a run can fail, each ending in order."""

from __future__ import annotations

import contextlib
import os
import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from bench import paths, registry, scenarios
from bench.proxy_settings import ProxyConfig
from bench.standin import read_launches
from bench.uia import label_text, progress_bar
from bench.waiting import wait_until
from bench.wine import TEMP_KEY, windows_path

TITLE = "Kelvora Installation"
MESSAGE_TITLE = "Kelvora_installer"
FAILED = "Download fehlgeschlagen"
TARGET = "Kelvora_Install.exe"


@pytest.fixture(scope="module")
def installer_bytes(standin_exe) -> bytes:
    """The stand-in installer, padded to several megabytes (a PE file runs with
    data appended), with a pattern that shows any misplaced byte."""
    padding = bytes((i * 7 + i // 251) & 0xFF for i in range(5 * 1024 * 1024 + 12345))
    return Path(standin_exe).read_bytes() + padding


@pytest.fixture
def launch_log(temp_folder) -> Path:
    log = temp_folder.parent / f"{temp_folder.name}-launches.jsonl"
    log.unlink(missing_ok=True)
    return log


@pytest.fixture
def run_installer(programs, uia, installer_exe, launch_log):
    """Starts the program, answers the question with OK, returns the process."""

    def run():
        process = programs(installer_exe, extra_env={"KELVORA_STANDIN_LOG": windows_path(launch_log)})
        uia.wait_dialog(timeout=30, title="Bestätigen")
        uia.press(1, dialog=True, title="Bestätigen")
        return process

    return run


def dismiss_failure_message(uia, process) -> dict:
    """Waits for the plain message, checks it, presses OK and waits for the program's end."""
    message = uia.wait_dialog(timeout=90, title=MESSAGE_TITLE)
    assert message["text"] == FAILED
    assert [button["text"] for button in message["buttons"]] == ["OK"]
    uia.press(1, dialog=True, title=MESSAGE_TITLE)
    process.wait(timeout=30)
    return message


def wait_launches(log: Path, timeout: float = 20) -> list[dict]:
    """The stand-in's records, once it has written one: the shell starts it
    while the program is already ending."""
    return wait_until(lambda: read_launches(log), timeout, interval=0.1)


def files_in(folder: Path) -> list[str]:
    return sorted(path.name for path in folder.iterdir())


# ----- a complete run ---------------------------------------------------------------------------

def test_complete_download_is_launched_and_the_program_ends(vendor_nginx, installer_bytes, run_installer,
                                                            temp_folder, launch_log, vendor_address):
    server = vendor_nginx(installer_bytes)
    process = run_installer()
    process.wait(timeout=120)

    target = temp_folder / TARGET
    assert files_in(temp_folder) == [TARGET]  # no working file left behind
    assert target.read_bytes() == installer_bytes

    # The shell started the downloaded file: quoted path, shown normally.
    launches = wait_launches(launch_log)
    assert len(launches) == 1
    assert launches[0]["command_line"].startswith(f'"{windows_path(target)}"')
    assert launches[0]["show_window"] == 1

    head, get = server.requests()
    assert (head.method, head.target, head.range) == ("HEAD", vendor_address[2], None)
    assert (get.method, get.status, get.range) == ("GET", 206, f"bytes=0-{len(installer_bytes) - 1}")
    assert get.body_bytes_sent == len(installer_bytes)
    for request in (head, get):
        assert request.user_agent and request.accept is None and request.accept_encoding is None


def test_progress_shows_zero_then_speed_and_a_growing_bar(vendor_server, installer_bytes, run_installer, uia,
                                                          temp_folder, screenshot):
    size = len(installer_bytes)
    slow = scenarios.serve_bytes(installer_bytes, rate=2_000_000)

    def delayed_get(exchange):
        exchange.hold(2.0)  # the first byte comes late: "0 KB/s" is on show meanwhile
        slow(exchange)

    server = vendor_server(scenarios.by_method({"HEAD": scenarios.serve_bytes(installer_bytes), "GET": delayed_get}))
    process = run_installer()

    seen = []
    deadline = time.monotonic() + 60
    while process.running() and time.monotonic() < deadline:
        windows = uia.windows(title=TITLE)
        if windows:
            bar = progress_bar(windows[0])["progress"]
            seen.append((label_text(windows[0]), bar["min"], bar["max"], bar["pos"]))
            if len(seen) in (2, 8):
                screenshot(f"progress-{len(seen)}")
        time.sleep(0.25)
    process.wait(timeout=60)

    set_up = [row for row in seen if row[0] == "0 KB/s"]
    assert set_up and set_up[0][1:] == (0, size, 0)
    running = [row for row in seen if row[0].startswith("Download: ")]
    assert running, seen
    for text, _, maximum, _ in running:
        assert re.fullmatch(r"Download: \d+ KB/s", text) and maximum == size
    speeds = [int(text.split()[1]) for text, *_ in running]
    assert any(500 <= speed <= 4000 for speed in speeds), speeds  # about 2 MB/s
    positions = [row[3] for row in running]
    assert positions == sorted(positions) and positions[-1] > positions[0]
    assert (temp_folder / TARGET).read_bytes() == installer_bytes
    assert [request.method for request in server.requests] == ["HEAD", "GET"]


def test_on_a_slow_line_the_bar_moves_with_the_first_bytes(vendor_server, installer_bytes, run_installer, uia,
                                                          temp_folder, launch_log):
    """At 150 KB/s reads stay small, so the bar shows the first bytes within a
    moment of their sending, not after a large read has filled up."""
    slow = scenarios.serve_bytes(installer_bytes, rate=150_000)
    body_started: list[float] = []

    def timed_get(exchange):
        body_started.append(time.monotonic())
        slow(exchange)

    vendor_server(scenarios.by_method({"HEAD": scenarios.serve_bytes(installer_bytes), "GET": timed_get}))
    process = run_installer()

    def bar_moved() -> bool:
        windows = uia.windows(title=TITLE)
        return bool(windows) and (progress_bar(windows[0])["progress"]["pos"] or 0) > 0

    assert wait_until(bar_moved, 60, interval=0.05)
    moved_at = time.monotonic()
    assert body_started and moved_at - body_started[0] < 1.5
    uia.close(title=TITLE)
    dismiss_failure_message(uia, process)
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


def test_installer_in_a_folder_outside_the_ansi_code_page_is_launched(vendor_nginx, installer_bytes, screenshot,
                                                                       run_installer, settings, work_dir,
                                                                       launch_log):
    folder = work_dir / "temp" / "Пользователь Ärger"
    folder.mkdir(parents=True, exist_ok=True)
    for leftover in folder.iterdir():
        leftover.unlink()
    settings.temp(folder)
    vendor_nginx(installer_bytes)
    run_installer().wait(timeout=120)
    assert (folder / TARGET).read_bytes() == installer_bytes
    launches = wait_launches(launch_log)
    assert len(launches) == 1 and "Пользователь Ärger" in launches[0]["exe_path"]


# ----- what the server says ---------------------------------------------------------------------

def _no_length(data: bytes):
    """HEAD without Content-Length; the GET body ends with the connection."""
    return scenarios.content_length(data, "missing")


def _redirected(data: bytes):
    return scenarios.routes({"/fileadmin/files/kelvora/Kelvora_Install.exe": scenarios.redirect("/moved/here.exe"),
                             "/moved/here.exe": scenarios.serve_bytes(data)})


@pytest.mark.parametrize("name, scenario", [
    ("no Content-Length", _no_length),
    ("redirected", _redirected),
    ("chunked", lambda data: scenarios.by_method({"HEAD": _no_length(data), "GET": scenarios.chunked(data)})),
    # Signed download links refuse HEAD and serve GET: the refusal's length is no file size.
    ("HEAD refused with 405", lambda data: scenarios.by_method({"GET": scenarios.serve_bytes(data, ranges=False)})),
])
def test_downloads_that_complete(name, scenario, vendor_server, installer_bytes, run_installer, temp_folder,
                                 launch_log):
    vendor_server(scenario(installer_bytes))
    run_installer().wait(timeout=120)
    assert files_in(temp_folder) == [TARGET]
    assert (temp_folder / TARGET).read_bytes() == installer_bytes
    assert len(wait_launches(launch_log)) == 1


def _short_body(data: bytes):
    return scenarios.serve_bytes(data, close_after=len(data) - 1000)


def _long_body(data: bytes):
    """The size request announces less than the transfer then delivers."""
    return scenarios.by_method({"HEAD": scenarios.serve_bytes(data[:-1000]),
                                "GET": scenarios.serve_bytes(data, ranges=False)})


def _first_part_only(data: bytes):
    """No size from HEAD; the open-ended transfer is answered with a 206 of
    the first 100 bytes that says so honestly (bytes 0-99/<size>)."""
    return scenarios.by_method({"HEAD": _no_length(data), "GET": scenarios.partial(data, 0, 99)})


def _reset(data: bytes):
    return scenarios.serve_bytes(data, reset_after=100_000)


@pytest.mark.parametrize("name, scenario", [
    ("404", lambda data: scenarios.status(404, b"<html>not found</html>")),
    ("500", lambda data: scenarios.status(500, b"<html>server error</html>")),
    ("404 to the transfer only", lambda data: scenarios.by_method(
        {"HEAD": scenarios.serve_bytes(data), "GET": scenarios.status(404, b"gone")})),
    ("short body", _short_body),
    ("long body", _long_body),
    ("206 of the first part only", _first_part_only),
    ("reset in mid-body", _reset),
    ("zero-length resource", lambda data: scenarios.serve_bytes(b"")),
    ("redirect without Location", lambda data: scenarios.redirect(None)),
])
def test_downloads_that_fail_launch_nothing(name, scenario, vendor_server, installer_bytes, run_installer, uia,
                                            temp_folder, launch_log, screenshot):
    vendor_server(scenario(installer_bytes))
    process = run_installer()
    uia.wait_dialog(timeout=90, title=MESSAGE_TITLE)
    screenshot("message")
    dismiss_failure_message(uia, process)
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


def test_an_endless_body_is_cut_off_and_fails(vendor_server, installer_bytes, run_installer, uia, temp_folder,
                                              launch_log):
    size = len(installer_bytes)
    endless = scenarios.EndlessBody(size, limit=40 * size)
    vendor_server(endless)
    dismiss_failure_message(uia, run_installer())
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []
    # The program hung up soon after the announced size; what it took beyond
    # that is what the sockets buffer, not what the server could send.
    assert endless.client_left
    assert endless.sent < 3 * size


# ----- what is already there --------------------------------------------------------------------

def test_server_down_and_no_earlier_file(run_installer, uia, temp_folder, launch_log):
    process = run_installer()
    dismiss_failure_message(uia, process)
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


def test_server_down_launches_the_file_an_earlier_run_completed(run_installer, installer_bytes, temp_folder,
                                                                launch_log):
    (temp_folder / TARGET).write_bytes(installer_bytes)
    run_installer().wait(timeout=60)
    assert len(wait_launches(launch_log)) == 1
    assert (temp_folder / TARGET).read_bytes() == installer_bytes


def test_earlier_file_is_replaced_only_by_a_complete_download(vendor_server, installer_bytes, run_installer, uia,
                                                              temp_folder, launch_log):
    (temp_folder / TARGET).write_bytes(b"MZ an earlier, different installer")
    vendor_server(_short_body(installer_bytes))
    dismiss_failure_message(uia, run_installer())
    # The size request succeeded, so the earlier file is gone; the broken transfer left nothing.
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


def test_a_file_that_turns_up_at_the_name_during_a_failed_run_is_not_launched(vendor_server, standin_exe,
                                                                             run_installer, uia, temp_folder,
                                                                             launch_log):
    head = scenarios.serve_bytes(Path(standin_exe).read_bytes())

    def planting_get(exchange):
        # Another program of the user puts a runnable file at the target name meanwhile.
        (temp_folder / TARGET).write_bytes(Path(standin_exe).read_bytes())
        exchange.respond(404, [("Content-Type", "text/plain")], b"not found")

    vendor_server(scenarios.by_method({"HEAD": head, "GET": planting_get}))
    dismiss_failure_message(uia, run_installer())
    assert read_launches(launch_log) == []


def test_a_size_above_the_limit_is_refused_before_anything_is_set_aside(vendor_server, run_installer, uia,
                                                                        temp_folder, launch_log):
    huge = (4 << 30) + 1

    def head(exchange):
        exchange.respond(200, [("Content-Type", "application/octet-stream"), ("Content-Length", str(huge))],
                         content_length=False)

    (temp_folder / TARGET).write_bytes(b"MZ an earlier installer")
    server = vendor_server(scenarios.by_method({"HEAD": head}))
    dismiss_failure_message(uia, run_installer())
    assert [request.method for request in server.requests] == ["HEAD"]
    # Nothing created, nothing launched; the earlier file is left as it was.
    assert files_in(temp_folder) == [TARGET]
    assert read_launches(launch_log) == []


def test_directory_in_the_way(vendor_nginx, installer_bytes, run_installer, uia, temp_folder, launch_log):
    (temp_folder / TARGET).mkdir()
    server = vendor_nginx(installer_bytes)
    dismiss_failure_message(uia, run_installer())
    assert (temp_folder / TARGET).is_dir()
    assert [request.method for request in server.requests()] == ["HEAD"]
    assert read_launches(launch_log) == []


@pytest.mark.parametrize("name, temp_value", [
    ("a folder that does not exist", lambda work_dir: windows_path(work_dir / "temp" / "no-such-folder")),
    ("no absolute path", lambda work_dir: "Temp"),
])
def test_no_usable_temporary_folder_fails_and_touches_nothing_else(name, temp_value, vendor_nginx, installer_bytes,
                                                                   programs, uia, wine, installer_exe, temp_folder,
                                                                   work_dir, launch_log):
    # Started from a folder that holds a file of the installer's name: it is neither replaced nor launched.
    start = work_dir / "started-from"
    shutil.rmtree(start, ignore_errors=True)
    start.mkdir(parents=True)
    earlier = b"MZ a file of the same name in the folder the program was started from"
    (start / TARGET).write_bytes(earlier)
    value = temp_value(work_dir)
    wine.apply_registry({TEMP_KEY: {"TEMP": registry.sz(value), "TMP": registry.sz(value)}})  # put back by temp_folder
    server = vendor_nginx(installer_bytes)

    process = programs(installer_exe, cwd=start, extra_env={"KELVORA_STANDIN_LOG": windows_path(launch_log)})
    uia.wait_dialog(timeout=30, title="Bestätigen")
    uia.press(1, dialog=True, title="Bestätigen")
    dismiss_failure_message(uia, process)
    assert files_in(start) == [TARGET] and (start / TARGET).read_bytes() == earlier
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []
    assert server.requests() == []


# ----- closing the window during a run ----------------------------------------------------------

def test_close_during_the_size_request_ends_it_and_the_window_stays_until_ok(vendor_server, installer_bytes,
                                                                              run_installer, uia, temp_folder,
                                                                              launch_log, screenshot):
    answer = scenarios.serve_bytes(installer_bytes)

    def slow_head(exchange):
        exchange.hold(4.0)
        answer(exchange)

    server = vendor_server(slow_head)
    process = run_installer()
    window = uia.wait_window(timeout=30, title=TITLE)
    server.wait_for_requests(1, timeout=30)
    uia.close(title=TITLE)
    uia.close_box(title=TITLE)  # a second request changes nothing
    uia.wait_dialog(timeout=3, title=MESSAGE_TITLE)
    still = uia.windows(title=TITLE)
    assert still and still[0]["hwnd"] == window["hwnd"] and still[0]["visible"]
    assert label_text(still[0]) == "Label1"  # it answers: the helper reads it
    screenshot("closing-during-size-request")
    assert process.running()

    dismiss_failure_message(uia, process)
    assert [request.method for request in server.requests] == ["HEAD"]  # no transfer was started
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


@pytest.mark.parametrize("stage", ["head", "headers", "body"])
def test_close_ends_every_network_wait_at_once(stage, vendor_server, installer_bytes, run_installer, uia,
                                               temp_folder, launch_log):
    """A server that goes silent (the size request never answered, the GET's
    headers never sent, the body stalled after 1 MB): a close two seconds into
    the silence brings the failure message at once, not when a time-out ends."""
    stall = scenarios.Stall(installer_bytes, stage)
    server = vendor_server(stall)
    if stage == "head":
        # An earlier run's complete file: a stopped run launches nothing, not even that.
        (temp_folder / TARGET).write_bytes(installer_bytes)
    process = run_installer()
    server.wait_for_requests(1 if stage == "head" else 2, timeout=30)
    if stage == "body":
        assert wait_until(lambda: (progress_bar(uia.windows(title=TITLE)[0])["progress"]["pos"] or 0) > 0, 30)
    time.sleep(2.0)

    closed_at = time.monotonic()
    uia.close(title=TITLE)
    uia.wait_dialog(timeout=30, title=MESSAGE_TITLE)
    assert time.monotonic() - closed_at < 3.0
    dismiss_failure_message(uia, process)  # and the process ends by itself, no thread of the run left behind
    ended_at = time.monotonic()

    # The silent connection was closed by the time the program had ended.
    assert wait_until(lambda: stall.client_left_at, 5)
    assert stall.client_left_at < ended_at + 0.5
    assert [request.method for request in server.requests] == (["HEAD"] if stage == "head" else ["HEAD", "GET"])
    assert files_in(temp_folder) == ([TARGET] if stage == "head" else [])
    assert read_launches(launch_log) == []


def test_close_during_the_proxy_script_look_up_sends_nothing(https_server, vendor_server, settings,
                                                             installer_bytes, run_installer, uia, temp_folder,
                                                             launch_log):
    """The user's system names a proxy script on a server that accepts the
    connection and then says nothing. A close two seconds into that silence
    ends the look-up at once, and nothing reaches the vendor's server: not the
    size request, not later."""
    script_server = https_server(scenarios.Stall(b"", "head"), tls=False)
    settings.proxy(ProxyConfig(pac_url=script_server.url("/proxy.pac")))
    vendor = vendor_server(scenarios.serve_bytes(installer_bytes))
    process = run_installer()
    assert script_server.wait_for_requests(1, timeout=30), "the proxy script was asked for"
    time.sleep(2.0)

    closed_at = time.monotonic()
    uia.close(title=TITLE)
    uia.wait_dialog(timeout=30, title=MESSAGE_TITLE)
    assert time.monotonic() - closed_at < 3.0
    dismiss_failure_message(uia, process)
    time.sleep(1.0)  # anything sent by the end would have arrived by now
    assert vendor.requests == []
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


def test_close_during_the_transfer_stops_it(vendor_server, installer_bytes, run_installer, uia, temp_folder,
                                           launch_log, screenshot):
    vendor_server(scenarios.serve_bytes(installer_bytes, rate=500_000))
    process = run_installer()
    def transfer_started() -> bool:
        windows = uia.windows(title=TITLE)
        return bool(windows) and progress_bar(windows[0])["progress"]["pos"] > 0

    if not wait_until(transfer_started, 60, interval=0.2):
        pytest.fail("the transfer did not start")
    screenshot("before-close")
    uia.close(title=TITLE)
    uia.close(title=TITLE)
    started = time.monotonic()
    dismiss_failure_message(uia, process)
    assert time.monotonic() - started < 30  # far less than the whole transfer would take
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


def test_close_request_while_the_failure_message_is_up_is_ignored(run_installer, uia, temp_folder, launch_log):
    # No server: the run ends with the failure message, shown by the completion step.
    process = run_installer()
    uia.wait_dialog(timeout=90, title=MESSAGE_TITLE)
    # End task, another program or the session's end asks the installer window to close meanwhile: the request
    # is handled at once, the message stays until it is answered, and after OK the program ends as usual.
    uia.close(method="send", title=TITLE)
    assert uia.dialog(title=MESSAGE_TITLE) is not None
    dismiss_failure_message(uia, process)
    assert files_in(temp_folder) == []
    assert read_launches(launch_log) == []


# ----- DLLs beside the program ------------------------------------------------------------------

# The system's known DLLs (and ntdll): always taken from System32, whatever lies beside a program.
KNOWN_DLLS = {"ntdll", "kernel32", "kernelbase", "advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi",
              "gdi32", "gdi32full", "gdiplus", "imagehlp", "imm32", "msctf", "msvcrt", "normaliz", "nsi", "ole32",
              "oleaut32", "psapi", "rpcrt4", "sechost", "setupapi", "shcore", "shell32", "shlwapi", "user32",
              "win32u", "wldap32", "ws2_32"}
# Names installers are most often tricked with, planted whether the program loads them or not.
USUAL_HIJACK_NAMES = {"version", "winhttp", "uxtheme", "dwmapi", "cryptbase", "profapi", "propsys", "userenv",
                      "wtsapi32", "winmm", "dbghelp", "secur32", "wininet", "iphlpapi", "dnsapi", "netapi32",
                      "msimg32", "cryptsp", "rsaenh", "schannel", "jsproxy", "kerberos", "msv1_0"}
# Wine 8's own built-in DLLs resolve some of their imports lazily, and those loads ignore the search the program
# restricted (measured: planted, they ran even though the program itself never named them): msimg32 for the
# UI; dnsapi, iphlpapi, dhcpcsvc, bcrypt, crypt32 and secur32 for WinHTTP. On Windows the restricted search
# covers them, as it does every load.
WINE_LAZY_IMPORTS = {"msimg32", "dnsapi", "iphlpapi", "dhcpcsvc", "bcrypt", "crypt32", "secur32"}


def recorded_loads(folder: Path) -> list[str]:
    return sorted(path.name.split(".")[0].lower() for path in folder.iterdir())


def run_from(folder: Path, programs, uia, installer_exe, env) -> None:
    """Runs the program from `folder` through a whole download."""
    process = programs(shutil.copy(installer_exe, folder), extra_env=env)
    uia.wait_dialog(timeout=30, title="Bestätigen")
    uia.press(1, dialog=True, title="Bestätigen")
    with contextlib.suppress(subprocess.TimeoutExpired):
        process.wait(timeout=120)
    assert not process.running()


def test_no_dll_planted_beside_the_program_runs(vendor_nginx, installer_bytes, programs, uia, wine, work_dir,
                                                installer_exe, temp_folder, launch_log):
    downloads = work_dir / "downloads-with-planted-dlls"
    records = work_dir / "dll-records"
    for folder in (downloads, records):
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
    vendor_nginx(installer_bytes)
    base_env = {"KELVORA_STANDIN_LOG": windows_path(launch_log)}

    # A clean run first, with every module the process loads from start to end listed.
    listing = work_dir / "modules.txt"
    with open(listing, "wb") as out:
        lister = wine.start(paths.module_list_exe(), ["Kelvora_Installer.exe", "150"], stdout=out)
        run_from(downloads, programs, uia, installer_exe, base_env)
        lister.wait(timeout=30)
    modules = [line.strip() for line in listing.read_text(encoding="utf-8", errors="replace").splitlines() if line.strip()]
    names = {Path(module.replace("\\", "/")).stem.lower() for module in modules if module.lower().endswith(".dll")}
    assert {"kernel32", "user32", "comctl32", "winhttp"} <= names, modules
    # comctl32 is the manifest's version 6, from the side-by-side store.
    comctl32 = [module.lower() for module in modules if module.lower().endswith("\\comctl32.dll")]
    assert comctl32 and all("6.0." in module for module in comctl32), comctl32
    planted = sorted((names - KNOWN_DLLS - WINE_LAZY_IMPORTS) | USUAL_HIJACK_NAMES - WINE_LAZY_IMPORTS)
    assert len(wait_launches(launch_log)) == 1  # the stand-in has started and written its record
    for file in downloads.iterdir():
        file.unlink()
    (temp_folder / TARGET).unlink()
    launch_log.unlink()

    # A recording DLL under each of those names beside the program; Wine is told to prefer a DLL beside the exe
    # to its own, as Windows' search order does for DLLs that are not known DLLs.
    for name in planted:
        shutil.copyfile(paths.dll_recorder(), downloads / f"{name}.dll")
    env = {**base_env, "WINEDLLOVERRIDES": f"mscoree,mshtml=;{','.join(planted)}=n,b",
           "KELVORA_DLL_RECORDS": windows_path(records)}
    # The control: a program that loads them by their bare names runs every one of them.
    probe = shutil.copy(paths.dll_probe_exe(), downloads)
    wine.run([str(probe), *planted], extra_env=env, check=False)
    assert recorded_loads(records) == planted
    for record in records.iterdir():
        record.unlink()
    Path(probe).unlink()

    run_from(downloads, programs, uia, installer_exe, env)
    assert recorded_loads(records) == []
    assert (temp_folder / TARGET).read_bytes() == installer_bytes
    assert len(wait_launches(launch_log)) == 1

#!/usr/bin/env python3
"""Download speed, CPU and memory of Kelvora_Installer.exe under Wine, against
six bare WinHTTP loops under the same Wine (tools/bench_winhttp):

  1 MiB reads          synchronous fixed 1 MiB reads
  async 1 MiB reads    the same on an asynchronous session, each read waited
                       for on an event that the status callback sets
  read pattern         synchronous: ask how many bytes are available, read
                       exactly that many, write them (no UI)
  async read pattern   the same pattern on an asynchronous session, each call
                       started and then waited for on an event that the status
                       callback sets
  async read pattern cv  the same, waited for on a condition variable that the
                       callback wakes (as the program waits)
  design floor         the synchronous read pattern plus one empty step handed
                       to a UI thread and waited for after every chunk

All fetch from the local nginx over HTTPS, in turn, several runs each; medians.
The program's ratio to each loop is printed for both cases, for the whole run
and for the GET's transfer as nginx logs it (request to last byte):

  (a) a 512 MiB file at full loopback speed
  (b) a 256 MiB file with nginx limiting the rate to 12.5 MB/s (a 100 Mbit/s line)

Also the program's peak memory for a 1 MiB and a 1 GiB file, the cost of one
hand-over of a step to the UI thread (empty, and as the display update on a
shown window with the installer's two controls), and the time from the OK click to the
ranged GET reaching the server (its first body byte goes out at once). The
program's time runs from the OK click to its end (the launch of the stand-in
installer included); a loop's from its start to its end. Prints figures;
asserts nothing.

  scripts/benchmark.py BUILD_DIR [--runs N] [--parts full,limited,memory,handover]

BUILD_DIR is a windows build whose download address is on localhost (as
scripts/test.sh and scripts/run-demo.sh configure it). Run it inside scripts/with-wine.sh, or let
it make its own prefix and display.
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from bench import paths  # noqa: E402
from bench.certs import make_certificates  # noqa: E402
from bench.nginx import NginxServer, place_file  # noqa: E402
from bench.uia import Uia  # noqa: E402
from bench.wine import WineEnv, windows_path  # noqa: E402
from urllib.parse import urlsplit  # noqa: E402

MiB = 1024 * 1024
LOOPS = (("1 MiB reads", []), ("async 1 MiB reads", ["--async-1mib"]), ("read pattern", ["--read-pattern"]),
         ("async read pattern", ["--async-read-pattern"]), ("async read pattern cv", ["--async-read-pattern-cv"]),
         ("design floor", ["--design-floor"]))


def make_payload(path: Path, size: int, standin: Path) -> None:
    """The stand-in installer padded to `size` bytes, so that the launch at the end
    starts a real program that records itself and exits."""
    head = standin.read_bytes()
    block = bytes((i * 131 + 17) & 0xFF for i in range(MiB))
    with path.open("wb") as out:
        out.write(head)
        left = size - len(head)
        while left > 0:
            out.write(block[:min(left, len(block))])
            left -= min(left, len(block))


def wait_child(popen: subprocess.Popen, timeout: float) -> tuple[float, float]:
    """Waits for a started Wine program: (CPU seconds, peak resident MiB). The
    host process is the Windows program itself."""
    deadline = time.monotonic() + timeout
    while True:
        pid, status, usage = os.wait4(popen.pid, os.WNOHANG)
        if pid:
            popen.returncode = os.waitstatus_to_exitcode(status)
            return usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024
        if time.monotonic() > deadline:
            popen.kill()
            raise TimeoutError("program did not end")
        time.sleep(0.01)


def get_transfer(server: NginxServer, after: float) -> float | None:
    """How long nginx took over the last GET that reached it since `after`
    (wall clock), from its request to its last byte."""
    found = None
    for line in server.access_log.read_text(encoding="utf-8", errors="replace").splitlines():
        entry = json.loads(line) if line.strip() else None
        if not entry or entry["method"] != "GET" or "msec" not in entry:
            continue
        if float(entry["msec"]) - float(entry["request_time"]) >= after:
            found = float(entry["request_time"])
    return found


def get_arrival(server: NginxServer, after: float) -> float | None:
    """Wall-clock time at which the last ranged GET logged since `after` reached nginx."""
    found = None
    for line in server.access_log.read_text(encoding="utf-8", errors="replace").splitlines():
        entry = json.loads(line) if line.strip() else None
        if not entry or entry["method"] != "GET" or "msec" not in entry:
            continue
        started = float(entry["msec"]) - float(entry["request_time"])
        if started >= after:
            found = started
    return found


def run_installer(wine: WineEnv, uia: Uia, exe: Path, temp: Path, log: Path,
                  server: NginxServer) -> tuple[float, float, float, float, float]:
    """One run of the program: (seconds from the OK click to its end, CPU seconds,
    peak MiB, seconds from the OK click to the GET's arrival, the GET's transfer)."""
    shutil.rmtree(temp, ignore_errors=True)
    temp.mkdir(parents=True)
    popen = subprocess.Popen(["wine", str(exe)], env=wine.env({"KELVORA_STANDIN_LOG": windows_path(log)}),
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    uia.wait_dialog(timeout=60, title="Bestätigen")
    # The helper posts the click and ends; the click counts from its end, so
    # that the helper's own start-up is not charged to the program.
    uia.press(1, dialog=True, title="Bestätigen")
    start, clicked = time.monotonic(), time.time()
    cpu, peak = wait_child(popen, timeout=1800)
    elapsed = time.monotonic() - start
    if not (temp / "Kelvora_Install.exe").exists():
        raise RuntimeError("the program did not download the file")
    arrival = get_arrival(server, clicked - 1.0)
    transfer = get_transfer(server, clicked - 1.0)
    return (elapsed, cpu, peak, (arrival - clicked) if arrival is not None else float("nan"),
            transfer if transfer is not None else float("nan"))


def run_bare_loop(wine: WineEnv, exe: Path, flags: list[str], url: str, temp: Path,
                  server: NginxServer) -> tuple[float, float, float, float]:
    """One run of a loop: (seconds, CPU seconds, peak MiB, the GET's transfer)."""
    shutil.rmtree(temp, ignore_errors=True)
    temp.mkdir(parents=True)
    start, started = time.monotonic(), time.time()
    popen = subprocess.Popen(["wine", str(exe), *flags, url, windows_path(temp / "bare.bin")], env=wine.env(),
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    cpu, peak = wait_child(popen, timeout=1800)
    if popen.returncode != 0:
        raise RuntimeError(f"bare loop failed with {popen.returncode}")
    elapsed = time.monotonic() - start
    transfer = get_transfer(server, started - 1.0)
    return elapsed, cpu, peak, transfer if transfer is not None else float("nan")


def load_average() -> str:
    try:
        return " ".join(Path("/proc/loadavg").read_text().split()[:3])
    except OSError:
        return "?"


def compare(label: str, wine, uia, work: Path, certs, payload: Path, runs: int, limit_rate: int | None,
            installer: Path, bare: Path, with_loops: bool = True) -> dict:
    address = urlsplit(paths.download_url())
    vendor_port, vendor_path = address.port or 443, address.path
    root = work / "www"
    shutil.rmtree(root, ignore_errors=True)
    place_file(root, vendor_path, payload)
    server = NginxServer(root, certs.localhost, work / "nginx", port=vendor_port, limit_rate=limit_rate,
                         lifetime=3600).start()
    url = f"https://localhost:{vendor_port}{vendor_path}"
    program: list[tuple] = []
    loops: dict[str, list[tuple]] = {name: [] for name, _ in LOOPS}
    try:
        for _ in range(runs):
            program.append(run_installer(wine, uia, installer, work / "temp", work / "launches.jsonl", server))
            line = f"  {label}: program {program[-1][0]:.2f} s (CPU {program[-1][1]:.2f} s)"
            if with_loops:
                for name, flags in LOOPS:
                    loops[name].append(run_bare_loop(wine, bare, flags, url, work / "temp", server))
                    line += f", {name} {loops[name][-1][0]:.2f} s (CPU {loops[name][-1][1]:.2f} s)"
            print(f"{line}; load {load_average()}", flush=True)
    finally:
        server.stop()
        shutil.rmtree(work / "temp", ignore_errors=True)
    median = lambda rows, i: statistics.median(row[i] for row in rows)  # noqa: E731
    result = {"time": median(program, 0), "cpu": median(program, 1), "peak": median(program, 2),
              "first_byte": median(program, 3), "transfer": median(program, 4), "loops": {}}
    if with_loops:
        result["loops"] = {name: {"time": median(rows, 0), "cpu": median(rows, 1), "transfer": median(rows, 3)}
                           for name, rows in loops.items()}
    return result


def report(label: str, figures: dict) -> None:
    print(f"{label}: program {figures['time']:.2f} s, CPU {figures['cpu']:.2f} s, "
          f"GET's transfer at the server {figures['transfer']:.2f} s")
    for name, loop in figures["loops"].items():
        print(f"    {name} loop: {loop['time']:.2f} s, CPU {loop['cpu']:.2f} s, transfer {loop['transfer']:.2f} s; "
              f"program/loop: time {figures['time'] / loop['time']:.2f}, CPU {figures['cpu'] / loop['cpu']:.2f}, "
              f"transfer {figures['transfer'] / loop['transfer']:.2f}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir", type=Path)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--parts", default="full,limited,memory,handover",
                        help="which to run, comma-separated: full, limited, memory, handover (default: all)")
    args = parser.parse_args()
    parts = set(args.parts.split(","))
    os.environ["KELVORA_BUILD_DIR"] = str(args.build_dir.resolve())
    work = args.build_dir.resolve() / "benchmark"
    work.mkdir(parents=True, exist_ok=True)

    installer = paths.installer_exe()
    bare = paths.find_build_output("kelvora_bench_winhttp.exe")
    handover = paths.find_build_output("kelvora_bench_handover.exe")
    standin = paths.standin_installer_exe()
    print(f"load average at start: {load_average()} ({os.cpu_count()} processors)", flush=True)

    with WineEnv.open(work) as wine:
        certs = make_certificates(work / "certs")
        wine.trust_ca(certs.ca_cert, paths.trust_ca_exe())
        uia = Uia(wine, paths.uia_exe())
        wine.set_temp(work / "temp")  # where the program downloads to

        payloads = {}
        for name, size in (("1MiB", MiB), ("256MiB", 256 * MiB), ("512MiB", 512 * MiB), ("1GiB", 1024 * MiB)):
            payloads[name] = work / f"payload-{name}.exe"
            if not payloads[name].exists() or payloads[name].stat().st_size != size:
                make_payload(payloads[name], size, standin)

        full = limited = small = large = None
        handovers, updates = [], []
        if "full" in parts:
            print("(a) 512 MiB at full loopback speed", flush=True)
            full = compare("512 MiB", wine, uia, work, certs, payloads["512MiB"], args.runs, None, installer, bare)
        if "limited" in parts:
            print("(b) 256 MiB at 12.5 MB/s", flush=True)
            limited = compare("256 MiB", wine, uia, work, certs, payloads["256MiB"], args.runs, 12_500_000,
                              installer, bare)
        if "memory" in parts:
            print("peak memory", flush=True)
            small = compare("1 MiB", wine, uia, work, certs, payloads["1MiB"], 1, None, installer, bare, False)
            large = compare("1 GiB", wine, uia, work, certs, payloads["1GiB"], 1, None, installer, bare, False)
        if "handover" in parts:
            for _ in range(args.runs):
                handovers.append(float(wine.run([str(handover), "20000"], timeout=300).stdout.strip()))
                updates.append(float(wine.run([str(handover), "display", "5000", "30"], timeout=300).stdout.strip()))

    print()
    print(f"medians of {args.runs} runs each, under Wine; load average at the end: {load_average()}")
    if full:
        report("(a) 512 MiB, full speed", full)
    if limited:
        report("(b) 256 MiB, 12.5 MB/s", limited)
    if small and large:
        print(f"program peak memory: 1 MiB file {small['peak']:.1f} MiB, 1 GiB file {large['peak']:.1f} MiB")
    if handovers:
        print(f"one UI hand-over: {statistics.median(handovers):.1f} us (20,000 empty steps)")
        print(f"one display update with its painting: {statistics.median(updates):.1f} us "
              f"(5,000 steps, 30 us of work between them)")
    if full and limited:
        print(f"OK click to the GET at the server: {full['first_byte'] * 1000:.0f} ms (a), "
              f"{limited['first_byte'] * 1000:.0f} ms (b)")
    return 0


if __name__ == "__main__":
    sys.exit(main())

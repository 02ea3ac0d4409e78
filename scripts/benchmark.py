#!/usr/bin/env python3
"""Download speed, CPU and memory of Kelvora_Installer.exe under Wine, against
the platform's limit: a bare WinHTTP read loop under the same Wine. Both fetch
from the local nginx over HTTPS, alternately, several runs each; medians.

  (a) a 1 GiB file at full loopback speed
  (b) a 256 MiB file with nginx limiting the rate to 12.5 MB/s (a 100 Mbit/s line)

Also the program's peak memory for a 1 MiB and the 1 GiB file, and the cost of
one hand-over of a step to the UI thread. Prints figures; asserts nothing.

  scripts/benchmark.py BUILD_DIR [--runs N]

BUILD_DIR is a windows build whose download address is on localhost (as
scripts/test.sh and scripts/run-demo.sh configure it). Run it inside scripts/with-wine.sh, or let
it make its own prefix and display.
"""

from __future__ import annotations

import argparse
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


def run_installer(wine: WineEnv, uia: Uia, exe: Path, temp: Path, log: Path) -> tuple[float, float, float]:
    """One run of the program: (seconds from consent to exit, CPU seconds, peak MiB)."""
    shutil.rmtree(temp, ignore_errors=True)
    temp.mkdir(parents=True)
    popen = subprocess.Popen(["wine", str(exe)], env=wine.env({"KELVORA_STANDIN_LOG": windows_path(log)}),
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    uia.wait_dialog(timeout=60, title="Bestätigen")
    start = time.monotonic()
    uia.press(1, dialog=True, title="Bestätigen")
    cpu, peak = wait_child(popen, timeout=1800)
    elapsed = time.monotonic() - start
    if not (temp / "Kelvora_Install.exe").exists():
        raise RuntimeError("the program did not download the file")
    return elapsed, cpu, peak


def run_bare_loop(wine: WineEnv, exe: Path, url: str, temp: Path) -> tuple[float, float, float]:
    shutil.rmtree(temp, ignore_errors=True)
    temp.mkdir(parents=True)
    start = time.monotonic()
    popen = subprocess.Popen(["wine", str(exe), url, windows_path(temp / "bare.bin")], env=wine.env(),
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    cpu, peak = wait_child(popen, timeout=1800)
    if popen.returncode != 0:
        raise RuntimeError(f"bare loop failed with {popen.returncode}")
    return time.monotonic() - start, cpu, peak


def compare(label: str, wine, uia, work: Path, certs, payload: Path, runs: int, limit_rate: int | None,
            installer: Path, bare: Path) -> dict:
    address = urlsplit(paths.download_url())
    vendor_port, vendor_path = address.port or 443, address.path
    root = work / "www"
    shutil.rmtree(root, ignore_errors=True)
    place_file(root, vendor_path, payload)
    server = NginxServer(root, certs.localhost, work / "nginx", port=vendor_port, limit_rate=limit_rate,
                         lifetime=3600).start()
    program, loop = [], []
    try:
        for _ in range(runs):
            program.append(run_installer(wine, uia, installer, work / "temp", work / "launches.jsonl"))
            loop.append(run_bare_loop(wine, bare, f"https://localhost:{vendor_port}{vendor_path}", work / "temp"))
            print(f"  {label}: program {program[-1][0]:.2f} s, bare loop {loop[-1][0]:.2f} s", flush=True)
    finally:
        server.stop()
        shutil.rmtree(work / "temp", ignore_errors=True)
    median = lambda rows, i: statistics.median(row[i] for row in rows)  # noqa: E731
    return {"time": (median(program, 0), median(loop, 0)), "cpu": (median(program, 1), median(loop, 1)),
            "peak": median(program, 2)}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir", type=Path)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    os.environ["KELVORA_BUILD_DIR"] = str(args.build_dir.resolve())
    work = args.build_dir.resolve() / "benchmark"
    work.mkdir(parents=True, exist_ok=True)

    installer = paths.installer_exe()
    bare = paths.find_build_output("kelvora_bench_winhttp.exe")
    handover = paths.find_build_output("kelvora_bench_handover.exe")
    standin = paths.standin_installer_exe()

    with WineEnv.open(work) as wine:
        certs = make_certificates(work / "certs")
        wine.trust_ca(certs.ca_cert, paths.trust_ca_exe())
        uia = Uia(wine, paths.uia_exe())
        wine.set_temp(work / "temp")  # where the program downloads to

        payloads = {}
        for name, size in (("1MiB", MiB), ("256MiB", 256 * MiB), ("1GiB", 1024 * MiB)):
            payloads[name] = work / f"payload-{name}.exe"
            if not payloads[name].exists() or payloads[name].stat().st_size != size:
                make_payload(payloads[name], size, standin)

        print("(a) 1 GiB at full loopback speed", flush=True)
        full = compare("1 GiB", wine, uia, work, certs, payloads["1GiB"], args.runs, None, installer, bare)
        print("(b) 256 MiB at 12.5 MB/s", flush=True)
        limited = compare("256 MiB", wine, uia, work, certs, payloads["256MiB"], args.runs, 12_500_000,
                          installer, bare)
        small = compare("1 MiB", wine, uia, work, certs, payloads["1MiB"], 1, None, installer, bare)

        result = wine.run([str(handover), "20000"], timeout=300)
        handover_us = float(result.stdout.strip())

    print()
    print(f"medians of {args.runs} runs each, program vs bare WinHTTP loop, both under Wine")
    for label, figures in (("(a) 1 GiB, full speed", full), ("(b) 256 MiB, 12.5 MB/s", limited)):
        (p_time, l_time), (p_cpu, l_cpu) = figures["time"], figures["cpu"]
        print(f"{label}: time {p_time:.2f} s vs {l_time:.2f} s (ratio {p_time / l_time:.2f}); "
              f"CPU {p_cpu:.2f} s vs {l_cpu:.2f} s (ratio {p_cpu / l_cpu:.2f})")
    print(f"program peak memory: 1 MiB file {small['peak']:.1f} MiB, 1 GiB file {full['peak']:.1f} MiB")
    print(f"one UI hand-over: {handover_us:.1f} us")
    return 0


if __name__ == "__main__":
    sys.exit(main())

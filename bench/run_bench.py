#!/usr/bin/env python3
"""The payload benchmark: makes a cabinet of the shipped payload's size (24,252,328 bytes) from
realistic, partly compressible files, times the host's native cabextract and md5sum on it, runs
payload_bench.exe of the x86_64 build under Wine on the same cabinet, and prints the figures side
by side with their ratios.

Then it runs bench/run_gui_probe.sh: the launcher's dialog-thread answer times through whole runs.

Usage: run_bench.py [BUILD_ROOT]   (default: build; the x86_64 build must exist)
"""
import os
import platform
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

TARGET_SIZE = 24_252_328
REPEATS = 5
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def mixed(rng, size, random_share):
    """Text-like runs and random runs: roughly the look of program code, resources and data."""
    words = [b"Qarv", b"Internet", b"Security", b"signature", b"scan", b"\x00\x00\x00\x00",
             b"\x8b\x45\xfc", b"\xe8\x00\x00\x00\x00", b"kernel32.dll", b"\r\n"]
    out = bytearray()
    while len(out) < size:
        if rng.random() < random_share:
            out += rng.randbytes(256)
        else:
            out += b"".join(rng.choice(words) for _ in range(24))
    return bytes(out[:size])


def make_cabinet(folder):
    """Writes the installer files and packs them with gcab -z, sizing the already-compressed data
    file until the cabinet has exactly TARGET_SIZE bytes."""
    rng = random.Random(2009)
    files = {
        "readme.txt": mixed(rng, 60_000, 0.0),
        "Qarv2009.exe": mixed(rng, 6_000_000, 0.35),
        "engine.dll": mixed(rng, 4_000_000, 0.5),
        "signatures.dat": None,  # already compressed: sized below
        "help.chm": mixed(rng, 2_500_000, 0.7),
        "Qarv2009Install.exe": mixed(rng, 1_500_000, 0.4),
    }
    src = os.path.join(folder, "src")
    os.makedirs(src)
    for name, data in files.items():
        if data is not None:
            with open(os.path.join(src, name), "wb") as f:
                f.write(data)
    cabinet = os.path.join(folder, "bench.cab")
    signature_size = 14_000_000
    for _ in range(12):
        with open(os.path.join(src, "signatures.dat"), "wb") as f:
            f.write(random.Random(1).randbytes(signature_size))
        subprocess.run(["gcab", "-c", "-z", cabinet] + list(files), cwd=src, check=True)
        size = os.path.getsize(cabinet)
        if size == TARGET_SIZE:
            return cabinet
        # Stored (incompressible) data grows the cabinet almost byte for byte.
        signature_size += TARGET_SIZE - size
    sys.exit("run_bench: could not size the cabinet to %d bytes (last %d)" % (TARGET_SIZE, size))


def best_of(command, prepare=None):
    best = None
    for _ in range(REPEATS):
        if prepare:
            prepare()
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def stop_prefix(env, prefix):
    """Stops the bench prefix's server, then any of its service processes that outlive it."""
    subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if b"WINEPREFIX=" + prefix.encode() + b"\0" in f.read() + b"\0":
                    os.kill(int(pid), 9)
        except (OSError, ProcessLookupError):
            pass


def main():
    build_root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    bench_exe = os.path.join(build_root, "x86_64", "bin", "payload_bench.exe")
    if not os.path.exists(bench_exe):
        sys.exit("run_bench: %s is missing; build the x86_64 tree first" % bench_exe)
    prefix = os.path.join(build_root, "x86_64", "bench-wineprefix")
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not os.path.isdir(prefix):
        subprocess.run(["/usr/lib/wine/wine64", "wineboot", "-i"], env=env, check=True, **quiet)
    # A persistent server and the prefix's services started first, so that none of them inherits
    # the output pipe of the bench run.
    subprocess.Popen(["/usr/lib/wine/wineserver", "-p", "600"], env=env, **quiet)
    subprocess.run(["/usr/lib/wine/wine64", "cmd", "/c", "exit"], env=env, **quiet)

    work = tempfile.mkdtemp(prefix="qarv_bench_")
    try:
        cabinet = make_cabinet(work)
        out = os.path.join(work, "cabextract")

        def fresh_out():
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)

        host = {
            "cabextract": best_of(["cabextract", "-q", "-d", out, cabinet], fresh_out),
            "md5sum": best_of(["md5sum", cabinet]),
        }
        md5 = subprocess.run(["md5sum", cabinet], check=True, capture_output=True, text=True).stdout.split()[0]

        scratch = "Z:" + os.path.join(work, "scratch").replace("/", "\\")
        wine_cabinet = "Z:" + cabinet.replace("/", "\\")
        run = subprocess.run(["/usr/lib/wine/wine64", bench_exe, wine_cabinet, scratch], env=env, check=True,
                             stdin=subprocess.DEVNULL, capture_output=True, text=True)
    finally:
        stop_prefix(env, prefix)
        shutil.rmtree(work, ignore_errors=True)

    figures = {m.group(1): float(m.group(2)) for m in re.finditer(r"^figure (\w+) ([\d.e+-]+)", run.stdout, re.M)}
    digest = re.search(r"^digest (\w+)", run.stdout, re.M).group(1)
    if digest != md5.upper():
        sys.exit("run_bench: the launcher's digest %s differs from md5sum's %s" % (digest, md5))
    size = figures["bytes"]
    gbs = lambda seconds: size / seconds / 1e9
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")),
               platform.processor())
    print("Machine: %s, %d cores, %s, Wine %s" % (cpu, os.cpu_count(), platform.platform(),
                                                   subprocess.run(["/usr/lib/wine/wine64", "--version"],
                                                                  capture_output=True, text=True).stdout.strip()))
    print("Payload: %d bytes (gcab MSZIP cabinet, 6 files), best of %d runs\n" % (size, REPEATS))
    rows = [
        ("Descrambling", figures["descramble"], "memcpy of the same bytes", figures["memcpy"]),
        ("Drop (DropPayloadBytes)", figures["drop"], "CopyFileW, same size", figures["copyfile"]),
        ("Drop (DropPayloadBytes)", figures["drop"], "4,096-byte WriteFile calls, no descrambling",
         figures["chunked_write"]),
        ("Drop's guarded copy (CopyGuarded, fresh heap block)", figures["guarded_copy"], "memcpy of the same bytes",
         figures["memcpy"]),
        ("Extraction (ExtractCabinet)", figures["extract"], "cabextract (native)", host["cabextract"]),
        ("Digest (ComputeFileMd5)", figures["md5"], "md5sum (native)", host["md5sum"]),
    ]
    print("| Launcher stage | Time | Throughput | Compared with | Time | Throughput | Ratio |")
    print("|---|---:|---:|---|---:|---:|---:|")
    for name, ours, other, theirs in rows:
        print("| %s | %.1f ms | %.2f GB/s | %s | %.1f ms | %.2f GB/s | %.2f× |" %
              (name, ours * 1e3, gbs(ours), other, theirs * 1e3, gbs(theirs), ours / theirs))

    # The dialog thread's answer time through whole launcher runs, on a display of its own.
    print()
    subprocess.run(["bash", os.path.join(ROOT, "bench", "run_gui_probe.sh"), build_root], check=True,
                   stdin=subprocess.DEVNULL)


if __name__ == "__main__":
    main()

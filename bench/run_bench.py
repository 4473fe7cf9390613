#!/usr/bin/env python3
"""The payload benchmark. Makes a cabinet of the shipped payload's size (24,252,328 bytes) from
realistic, partly compressible files with a quick installer last, builds both launchers around it,
and times whole launcher runs as a user waits for them (x86_64, and i686 under WoW64), beside
Wine's bare process start, the native cp + cabextract + md5sum of the same cabinet and the drop's
design floor; then the launcher's stages alone against memcpy, CopyFileW, cabextract and md5sum.
Prints every figure with its ratio. Its peers: NSIS installers of the same files (zlib, solid LZMA,
stored), timed in the same rounds as both launchers, with the launcher's run in its steps beside
them and one progress message beside a native thread round trip (thread_round_trip.cpp). Those
rounds need 32-bit code: where this machine cannot run it (or QARV_I686_ROUTE=vm), they run in the
emulated PC of scripts/vm.sh, all of them, and the rest here with the x86_64 launcher only.

Then a size sweep: stored cabinets of 16, 64, 256 and 1024 MiB (--sweep=MiB,MiB,... for others,
--no-sweep for none), a launcher of each architecture built around each, one whole run each: the
run and its stages against their floors, and the launcher's peak memory against twice the payload
plus 16 MiB.

Then it runs bench/run_gui_probe.sh: the launcher's dialog-thread answer times through whole runs.

Usage: run_bench.py [BUILD_ROOT] [--no-gui-probe] [--no-sweep | --sweep=MiB,...]   (default build root: build)
Installs the packages it needs and builds what is missing, so it runs from a fresh clone.
QARV_I686_ROUTE=auto (the default), native or vm picks where the 32-bit rounds run, as for scripts/test.
(run_bench.py --rounds SHARED LOCAL is the emulated PC's part, started by scripts/vm-guest.sh.)
"""
import hashlib
import json
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


CABINET_DATE = time.mktime((2009, 3, 16, 8, 30, 0, 0, 0, -1))
WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver"
ARCHES = ("x86_64", "i686")
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
# The programs each architecture's tree builds for the bench; whole_run, payload_bench and the GUI
# probe of the x86_64 tree serve both launchers.
TARGETS = {
    "x86_64": ["launcher", "tracecap", "payload_bench", "gui_responsiveness", "whole_run", "empty_program",
               "bench_installer", "drop_floor"],
    "i686": ["launcher", "tracecap", "empty_program", "bench_installer", "drop_floor"],
}
# The launcher's trace lines in a successful run, by their fixed beginnings.
TRACE_STEPS = [
    ("VURoruz: Dropping file to ", "Dropping file to ..."),
    ("VURoruz: Extracting file", "Extracting file ..."),
    ("VURoruz: File successfully extracted to ", "File successfully extracted to ..."),
    ("VURoruz: Target file MD5 is ", "Target file MD5 is ..."),
    ("VURoruz: Executing ", "Executing ..."),
    ("VURoruz: Creating process ", "Creating process ..."),
    ("VURoruz: Process created", "Process created"),
]


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


def make_cabinet(folder, installer):
    """Writes the installer files and packs them with gcab -z, the program `installer` last (the
    launcher starts the file the cabinet holds last), sizing the already-compressed data file until
    the cabinet has exactly TARGET_SIZE bytes. Fixed contents and dates: the same cabinet each time.
    Returns the cabinet and its files in their order, the program last."""
    rng = random.Random(2009)
    files = {
        "readme.txt": mixed(rng, 60_000, 0.0),
        "Qarv2009.exe": mixed(rng, 6_000_000, 0.35),
        "engine.dll": mixed(rng, 4_000_000, 0.5),
        "signatures.dat": None,  # already compressed: sized below
        "help.chm": mixed(rng, 2_500_000, 0.7),
        "setup.dat": mixed(rng, 1_500_000, 0.4),
        "Qarv2009Install.exe": open(installer, "rb").read(),
    }
    src = os.path.join(folder, "src")
    os.makedirs(src)
    for name, data in files.items():
        if data is not None:
            with open(os.path.join(src, name), "wb") as f:
                f.write(data)
            os.utime(os.path.join(src, name), (CABINET_DATE, CABINET_DATE))
    cabinet = os.path.join(folder, "bench.cab")
    def pack(signature_size):
        with open(os.path.join(src, "signatures.dat"), "wb") as f:
            f.write(random.Random(1).randbytes(signature_size))
        os.utime(os.path.join(src, "signatures.dat"), (CABINET_DATE, CABINET_DATE))
        subprocess.run(["gcab", "-c", "-z", cabinet] + list(files), cwd=src, check=True)
        return os.path.getsize(cabinet)

    signature_size = 14_000_000
    closest = None
    for _ in range(12):
        size = pack(signature_size)
        if closest is None or abs(size - TARGET_SIZE) < abs(closest[1] - TARGET_SIZE):
            closest = (signature_size, size)
        if size == TARGET_SIZE:
            return cabinet, [os.path.join(src, name) for name in files]
        # Stored (incompressible) data grows the cabinet almost byte for byte.
        signature_size += TARGET_SIZE - size
    # Each 32 KiB data block brings a header of its own, so a few sizes lie between the cabinets of
    # two neighbouring data sizes: within a block's overhead of the target, the closest will do.
    if abs(closest[1] - TARGET_SIZE) <= 64:
        pack(closest[0])
        return cabinet, [os.path.join(src, name) for name in files]
    sys.exit("run_bench: could not size the cabinet to %d bytes (last %d)" % (TARGET_SIZE, size))


def stats(values):
    ordered = sorted(values)
    return ordered[0], ordered[len(ordered) // 2]


def timed_runs(command, prepare=None):
    """(best, median) seconds of REPEATS runs of `command`; `prepare` runs untimed before each."""
    times = []
    for _ in range(REPEATS):
        if prepare:
            prepare()
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return stats(times)


def lib_sh(script, *arguments, env=None, **options):
    """Runs `script` in bash with scripts/lib.sh sourced: the project's one way to install
    packages, build trees and make or stop a Wine prefix. Its arguments are $1, $2, ..."""
    return subprocess.run(["bash", "-c", 'source "$QARV_ROOT_FOR_BENCH/scripts/lib.sh" && ' + script, "lib.sh"]
                          + list(arguments), env=dict(env or os.environ, QARV_ROOT_FOR_BENCH=ROOT), **options)


def install_what_is_needed(route):
    """The project's Debian packages, NSIS for the peer installers, and, unless `route` sends the
    32-bit runs to the emulated PC, the 32-bit Wine that runs the i686 launcher and them. Returns
    whether 32-bit Windows code runs here."""
    lib_sh('qarv_install_packages && qarv_install_packages nsis', check=True)
    if route != "vm":
        lib_sh('qarv_install_wine32 || qarv_log "wine32:i386 could not be installed here"', check=True)
    try:
        # The 32-bit loader is itself 32-bit Linux code: where the kernel refuses that, no 32-bit
        # Windows program can run either.
        return subprocess.run([WINE32, "--version"], **QUIET).returncode == 0
    except OSError:
        return False


def cmake_tree(source_toolchain_arch, tree, targets, extra=()):
    """Configures `tree` (tests off when it is new; an existing tree keeps its options, such as
    the tests of scripts/test's trees), then builds `targets` in it."""
    if os.path.exists(os.path.join(tree, "CMakeCache.txt")) and not extra:
        configure = []
    else:
        configure = ["-DCMAKE_TOOLCHAIN_FILE=%s/cmake/toolchain-%s.cmake" % (ROOT, source_toolchain_arch),
                     "-DCMAKE_BUILD_TYPE=Release", "-DQARV_BUILD_TESTS=OFF"] + list(extra)
    built = lib_sh('qarv_cmake_build "$@"', ROOT, tree, *configure, "--", *targets, stdout=subprocess.DEVNULL)
    if built.returncode != 0:
        sys.exit("run_bench: building %s in %s failed (logs: %s.configure.log, %s.build.log)"
                 % (" ".join(targets), tree, tree, tree))


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def stop_prefix(env, prefix):
    """Stops the bench prefix's server, then any of its service processes that outlive it."""
    lib_sh('export WINEPREFIX="$1"; qarv_cleanup', prefix, env=env, **QUIET)


class BenchPrefix:
    """A fresh Wine prefix (WoW64 when 32-bit Wine is installed) on a private Xvfb display, with a
    Wine virtual desktop (no 2 s wait for each hidden window to be withdrawn, as there is without a
    window manager) and the launcher's trace switched on in both registry views."""

    def __init__(self, folder):
        self.prefix = folder
        self.xvfb = None
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        # A display number far above those that -displayfd hands out: other users of this machine
        # start their own X servers, and a clash would take this one's socket.
        for _ in range(20):
            number = random.randrange(200, 1000)
            if os.path.exists("/tmp/.X11-unix/X%d" % number):
                continue
            self.xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                         **QUIET)
            # Up to 30 s: in the emulated PC the server takes seconds to start.
            deadline = time.monotonic() + 30
            while self.xvfb.poll() is None and time.monotonic() < deadline:
                if os.path.exists("/tmp/.X11-unix/X%d" % number):
                    break
                time.sleep(0.05)
            if self.xvfb.poll() is None and os.path.exists("/tmp/.X11-unix/X%d" % number):
                break
            self.xvfb.kill()
            self.xvfb.wait()
            self.xvfb = None
        if self.xvfb is None:
            sys.exit("run_bench: no X display could be started")
        display = str(number)
        self.env = dict(os.environ, WINEPREFIX=folder, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        DISPLAY=":" + display)
        try:
            self.prepare()
        except BaseException:
            self.close()
            raise

    def prepare(self):
        folder = self.prefix
        # Made as every prefix of the project is (scripts/lib.sh), with its persistent server and
        # services started first, so that none of them inherits an output pipe of the bench or is
        # paid for by a timed run; the virtual desktop and the trace set before its desktop starts.
        lib_sh(r"""setup() {
                       "$QARV_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
                       "$QARV_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f
                       "$QARV_WINE" reg add 'HKLM\SOFTWARE\QarvSetup' /v fAllowDebugPrint /t REG_DWORD /d 1 /f
                       "$QARV_WINE" reg add 'HKLM\SOFTWARE\QarvSetup' /v fAllowDebugPrint /t REG_DWORD /d 1 /f /reg:32
                   } >/dev/null 2>&1
                   qarv_wine_prefix "$1" setup""", folder, env=self.env, check=True, **QUIET)
        # The desktop process too: a program whose first window has to start it waits only a few
        # seconds, and on a busy machine gets no window at all. A second explorer for the same
        # desktop ends at once; one that dies while starting is replaced until the window is there.
        deadline = time.monotonic() + 60
        next_start = 0
        while "Wine desktop" not in subprocess.run(["xwininfo", "-root", "-children"], env=self.env,
                                                   capture_output=True, text=True).stdout:
            if time.monotonic() > deadline:
                sys.exit("run_bench: the Wine virtual desktop did not appear on %s" % self.env["DISPLAY"])
            if time.monotonic() > next_start:
                subprocess.Popen([WINE64, "explorer", "/desktop=Default,1024x768"], env=self.env, **QUIET)
                next_start = time.monotonic() + 5
            time.sleep(0.2)
        self.users = os.path.join(folder, "drive_c", "users")

    def run(self, *command, check=True):
        return subprocess.run(list(command), env=self.env, check=check, **QUIET)

    def reg(self, *arguments):
        return self.run(WINE64, "reg", *arguments, check=False)

    def output(self, *command):
        done = subprocess.run(list(command), env=self.env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if done.returncode != 0:
            sys.stderr.write(done.stdout + done.stderr)
            sys.exit("run_bench: %s failed (exit code %d)" % (" ".join(command), done.returncode))
        return done.stdout

    def clean_state(self):
        """No product installed, no restart value, no pending deletions, no earlier work folders,
        in both registry views: the next launcher run does its whole work."""
        reg_file = os.path.join(self.prefix, "clean.reg")
        run_key = r"HKEY_LOCAL_MACHINE\Software%s\Microsoft\Windows\CurrentVersion\Run"
        with open(reg_file, "w", encoding="utf-16") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n")
            for node in ("", r"\Wow6432Node"):
                f.write("[-HKEY_LOCAL_MACHINE\\Software%s\\Qarv]\r\n\r\n" % node)
                f.write("[%s]\r\n\"QarvPro2009Setup\"=-\r\n\r\n" % (run_key % node))
            f.write("[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager]\r\n"
                    "\"PendingFileRenameOperations\"=-\r\n\r\n")
        self.run(WINE64, "regedit", "/s", windows_path(reg_file))
        for temp in [os.path.join(self.users, user, "Temp") for user in os.listdir(self.users)]:
            if os.path.isdir(temp):
                for name in os.listdir(temp):
                    if name.startswith("_IS"):
                        path = os.path.join(temp, name)
                        shutil.rmtree(path, ignore_errors=True) if os.path.isdir(path) else os.remove(path)

    def close(self):
        stop_prefix(self.env, self.prefix)
        if self.xvfb:
            self.xvfb.kill()
            self.xvfb.wait()


def machine():
    """This machine in one line: processor, cores, system, Wine."""
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")),
               platform.processor())
    return "%s, %d cores, %s, %s" % (cpu, os.cpu_count(), platform.platform(),
                                     subprocess.run([WINE64, "--version"], capture_output=True, text=True).stdout.strip())


def stage_rounds(folder, build_root, arches, launchers, nsis, cabinet, nsis_files, round_trip_exe):
    """Copies into `folder` what the alternating rounds run, with rounds.json naming it, so that the
    rounds run the same wherever the folder is measured (measure_rounds): whole_run.exe, for each of
    `arches` an empty program, its launcher and its drop floor, the NSIS builds `nsis` with the
    files each must leave (`nsis_files`), the cabinet of the floors and the native tools, and
    thread_round_trip. Returns `folder`."""
    os.makedirs(folder)
    manifest = {"whole_run": "whole_run.exe", "cabinet": "bench.cab", "round_trip": "thread_round_trip",
                "floors": {}, "subjects": []}

    def put(source, name):
        target = os.path.join(folder, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)
        return name

    put(os.path.join(build_root, "x86_64", "bin", "whole_run.exe"), "whole_run.exe")
    put(cabinet, "bench.cab")
    put(round_trip_exe, "thread_round_trip")
    for arch in arches:
        binaries = os.path.join(build_root, arch, "bin")
        installer = open(os.path.join(binaries, "bench_installer.exe"), "rb").read()
        manifest["floors"][arch] = put(os.path.join(binaries, "drop_floor.exe"), arch + "/drop_floor.exe")
        manifest["subjects"].append({"name": "empty " + arch,
                                     "program": put(os.path.join(binaries, "empty_program.exe"),
                                                    arch + "/empty_program.exe")})
        manifest["subjects"].append({"name": arch, "program": put(launchers[arch], arch + "/QarvPro 2009 Setup.exe"),
                                     "md5": hashlib.md5(installer).hexdigest().upper()})
    for key in nsis:
        manifest["subjects"].append({"name": "nsis " + key, "program": put(nsis[key], os.path.basename(nsis[key])),
                                     "nsis": key, "files": [[os.path.basename(path), os.path.getsize(path)]
                                                            for path in nsis_files]})
    with open(os.path.join(folder, "rounds.json"), "w") as f:
        json.dump(manifest, f, indent=1)
    return folder


def measure_rounds(folder, prefix):
    """The alternating rounds of the programs `folder` holds (stage_rounds) in `prefix`, then each
    architecture's drop floor, thread_round_trip and the native tools on the same cabinet:
    {"timed": {subject: [run, ...]}, "floors": {arch: figures}, "round_trip": (best, median),
    "native": {tool: (best, median)}, "machine": machine()}."""
    with open(os.path.join(folder, "rounds.json")) as f:
        manifest = json.load(f)
    path = lambda name: os.path.join(folder, name)
    temp = prefix.output(WINE64, "winepath", "-u", prefix.output(WINE64, "cmd", "/c", "echo %TEMP%").strip()).strip()

    def launcher_check(md5):
        def check(run):
            if run.get("exit code") != 0 or run.get("md5") != md5:
                return "exit code %r, program digest %r" % (run.get("exit code"), run.get("md5"))
            return None if "Installer started" in run else "the bench installer did not start"
        return check

    def remover(extracted):
        return lambda: shutil.rmtree(extracted, ignore_errors=True)

    subjects, extracted = [], []
    for entry in manifest["subjects"]:
        program = path(entry["program"])
        if "nsis" in entry:
            extracted.append(os.path.join(temp, nsis_folder(entry["nsis"])))
            subjects.append(Subject(entry["name"], program, remover(extracted[-1]),
                                    os.path.join(extracted[-1], "started.txt"),
                                    extracted_check(extracted[-1], entry["files"])))
        elif "md5" in entry:
            subjects.append(Subject(entry["name"], program, prefix.clean_state, check=launcher_check(entry["md5"])))
        else:
            subjects.append(Subject(entry["name"], program))
    timed = alternating_runs(prefix, path(manifest["whole_run"]), subjects)
    for leftover in extracted:
        shutil.rmtree(leftover, ignore_errors=True)
    floors = {arch: figures_of(prefix.output(WINE64, path(floor), windows_path(path(manifest["cabinet"])),
                                             windows_path(path("floor"))))
              for arch, floor in manifest["floors"].items()}
    round_trip = figures_of(subprocess.run([path(manifest["round_trip"])], check=True, capture_output=True,
                                           text=True).stdout)["round_trip"]
    prefix.clean_state()
    native = native_runs(path(manifest["cabinet"]), path("native"))
    return {"timed": timed, "floors": floors, "round_trip": round_trip, "native": native, "machine": machine()}


def rounds_in_emulated_pc(build_root, folder):
    """measure_rounds of `folder` in the emulated PC of scripts/vm.sh (its image built once per
    machine), which sees the folder at the same path: its results, or None, said in one line, where
    the PC cannot be had. A PC that cannot measure the rounds ends the bench."""
    env = dict(os.environ, QARV_BUILD_ROOT=build_root)
    env.setdefault("QARV_VM_TIMEOUT", "5400")
    results = os.path.join(folder, "results.json")
    # Its progress goes to the standard error, the tables alone to the standard output.
    done = lib_sh('source "$QARV_ROOT/scripts/vm.sh" && { qarv_install_packages $QARV_VM_PACKAGES && qarv_vm_image || '
                  'exit 100; } && qarv_vm_run bench "$1"', folder, env=env, stdout=sys.stderr, stdin=subprocess.DEVNULL)
    if done.returncode == 100:
        print("run_bench: the emulated PC could not be had (the reason above), so the peer table is not measured")
        return None
    if done.returncode != 0 or not os.path.isfile(results):
        sys.exit("run_bench: the rounds in the emulated PC did not end well (its log: %s)"
                 % os.path.join(build_root, "vm", "guest.log"))
    with open(results) as f:
        return json.load(f)


def rounds_in_this_pc(shared, local):
    """The emulated PC's part (scripts/vm-guest.sh): copies the rounds' folder `shared` from the
    host's share to `local` on the PC's own disk, as a user's download lies on theirs, measures the
    rounds there in a prefix of its own and writes their results to `shared`/results.json."""
    shutil.rmtree(local, ignore_errors=True)
    shutil.copytree(shared, local)
    print("run_bench: making the emulated PC's prefix", file=sys.stderr, flush=True)
    prefix = BenchPrefix(os.path.join(local, "wineprefix"))
    try:
        results = measure_rounds(local, prefix)
    finally:
        prefix.close()
    with open(os.path.join(shared, "results.json.partial"), "w") as f:
        json.dump(results, f)
    os.replace(os.path.join(shared, "results.json.partial"), os.path.join(shared, "results.json"))


def whole_run(prefix, whole_run_exe, program, stamp=None):
    """One whole run of `program` under whole_run.exe: {step: ms}. `stamp` names the file where a
    program that leaves no trace has the bench installer write its start."""
    command = [WINE64, whole_run_exe] + (["--stamp=" + windows_path(stamp)] if stamp else []) + [windows_path(program)]
    return parse_whole_run(prefix.output(*command))


def parse_whole_run(text):
    """whole_run.exe's lines as {step: ms}: each trace step's first time, the digest ("md5"), the
    installer's start, the exit and its code."""
    run = {}
    for line in text.splitlines():
        kind, _, rest = line.rstrip("\r").partition(" ")
        if kind == "line":
            ms, _, trace = rest.partition(" ")
            for beginning, label in TRACE_STEPS:
                if trace.startswith(beginning) and label not in run:
                    run[label] = float(ms)
                    if label == "Target file MD5 is ...":
                        run["md5"] = trace[len(beginning):]
        elif kind == "installer":
            run["Installer started"] = float(rest)
        elif kind == "exit":
            ms, _, code = rest.partition(" ")
            run["Launcher exited"] = float(ms)
            run["exit code"] = int(code)
    return run


class Subject:
    """A program timed in the alternating rounds: `prepare` brings its clean state (untimed),
    `check` says what is wrong with a run, or nothing when it ended well."""

    def __init__(self, name, program, prepare=None, stamp=None, check=None):
        self.name, self.program, self.prepare, self.stamp, self.check = name, program, prepare, stamp, check


def alternating_runs(prefix, whole_run_exe, subjects):
    """Rounds of one run of each subject, the first round untimed (it brings each program's file into
    the page cache, as a user's download is after the browser wrote it), then REPEATS timed ones.
    Each round starts one subject further on, so that no program always follows the same other
    one; a busy moment of the machine then weighs on all alike. {name: [run, ...]}."""
    runs = {subject.name: [] for subject in subjects}
    for round_number in range(REPEATS + 1):
        print("run_bench: round %d of %d (%s)" % (round_number + 1, REPEATS + 1, "untimed" if round_number == 0 else "timed"),
              file=sys.stderr, flush=True)
        shift = round_number % len(subjects)
        for subject in subjects[shift:] + subjects[:shift]:
            if subject.prepare:
                subject.prepare()
            run = whole_run(prefix, whole_run_exe, subject.program, subject.stamp)
            fault = subject.check(run) if subject.check else None
            if fault:
                sys.exit("run_bench: a run of %s did not end well (%s): %r" % (subject.name, fault, run))
            if round_number > 0:
                runs[subject.name].append(run)
    return runs


def step_stats(runs, step):
    values = [run[step] for run in runs if step in run]
    return stats(values) if len(values) == len(runs) else None


def native_runs(cabinet, folder):
    """The native counterpart of a launcher run: cp of the cabinet, cabextract, md5sum of the
    program it starts. (best, median) seconds per stage and for the three together."""
    times = {"cp": [], "cabextract": [], "md5sum": [], "total": []}
    for _ in range(REPEATS):
        for name, ms in zip(("cp", "cabextract", "md5sum", "total"), native_runs_once(cabinet, folder)):
            times[name].append(ms / 1e3)
    return {name: stats(values) for name, values in times.items()}


def figures_of(text):
    return {m.group(1): [float(v) for v in m.group(2).split()]
            for m in re.finditer(r"^figure (\w+) ([\d.e+\- ]+)$", text.replace("\r", ""), re.M)}


SWEEP_MIB = (16, 64, 256, 1024)
MIB = 1 << 20


def sweep_cabinet(folder, installer, size):
    """A stored (uncompressed) cabinet of about `size` bytes: random data, the installer last.
    Stored, so that the payload has the size asked for and gcab takes seconds, not minutes."""
    src = os.path.join(folder, "src")
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(src)
    with open(os.path.join(src, "data.bin"), "wb") as f:
        rng = random.Random(size)
        left = size - os.path.getsize(installer)
        while left > 0:
            f.write(rng.randbytes(min(left, 16 * MIB)))
            left -= 16 * MIB
    shutil.copyfile(installer, os.path.join(src, "Qarv2009Install.exe"))
    for name in os.listdir(src):
        os.utime(os.path.join(src, name), (CABINET_DATE, CABINET_DATE))
    cabinet = os.path.join(folder, "sweep.cab")
    if os.path.exists(cabinet):
        os.remove(cabinet)
    subprocess.run(["gcab", "-c", cabinet, "data.bin", "Qarv2009Install.exe"], cwd=src, check=True)
    shutil.rmtree(src)
    return cabinet


class PeakMemory:
    """Polls the peak resident size (VmHWM) of the Wine process whose command line holds `marker`
    while a run goes on: the launcher's peak memory as the machine saw it."""

    def __init__(self, marker):
        import threading
        self.marker = marker.encode()
        self.peak = 0
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.poll, daemon=True)
        self.thread.start()

    def poll(self):
        while not self.done.is_set():
            for pid in os.listdir("/proc"):
                if not pid.isdigit():
                    continue
                try:
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        if self.marker not in f.read():
                            continue
                    with open("/proc/%s/status" % pid) as f:
                        for line in f:
                            if line.startswith("VmHWM:"):
                                self.peak = max(self.peak, int(line.split()[1]) * 1024)
                except OSError:
                    pass
            self.done.wait(0.05)

    def stop(self):
        self.done.set()
        self.thread.join()
        return self.peak


def size_sweep(build_root, arches, prefix, work, sizes):
    """One whole run per size and architecture, with its stages' floors measured on the same
    cabinet: {(arch, size): row}. The cabinets and launchers are deleted once measured."""
    whole_run_exe = os.path.join(build_root, "x86_64", "bin", "whole_run.exe")
    rows = {}
    for mib in sizes:
        for arch in arches:
            folder = os.path.join(work, "sweep-%s" % arch)
            os.makedirs(folder, exist_ok=True)
            installer = os.path.join(build_root, arch, "bin", "bench_installer.exe")
            cabinet = sweep_cabinet(folder, installer, mib * MIB)
            tree = os.path.join(build_root, "bench-sweep-" + arch)
            cmake_tree(arch, tree, ["launcher"], ["-DQARV_PAYLOAD_SOURCE=" + cabinet])
            launcher = os.path.join(tree, "bin", "QarvPro 2009 Setup.exe")
            size = os.path.getsize(cabinet)
            prefix.clean_state()
            memory = PeakMemory("bench-sweep-" + arch)
            started = time.perf_counter()
            text = prefix.output(WINE64, whole_run_exe, windows_path(launcher))
            wall = time.perf_counter() - started
            peak = memory.stop()
            run = parse_whole_run(text)
            if run.get("exit code") != 0 or not all(label in run for _, label in TRACE_STEPS):
                sys.exit("run_bench: the %s launcher with %d MiB did not end well: %r" % (arch, mib, run))
            prefix.clean_state()
            # A 32-bit floor program cannot always hold the payload twice: its small image leaves
            # Wine's address space in two ranges of about 1 and 2 GB, where the launcher's large
            # image has the lower one to itself. Then the 64-bit floor stands in, and says so.
            floor_arch = arch
            for candidate in (arch, "x86_64"):
                done = subprocess.run([WINE64, os.path.join(build_root, candidate, "bin", "drop_floor.exe"),
                                       windows_path(cabinet), windows_path(os.path.join(work, "floor")),
                                       "--floor-only"], env=prefix.env, stdin=subprocess.DEVNULL,
                                      capture_output=True, text=True)
                floor_arch = candidate
                if done.returncode == 0:
                    break
            else:
                sys.exit("run_bench: no drop floor for %d MiB: %s" % (mib, done.stderr.strip()))
            floor = figures_of(done.stdout)
            native = native_runs_once(cabinet, os.path.join(work, "native"))
            rows[(arch, mib)] = dict(size=size, run=run, wall=wall, peak=peak, floor=floor["floor"][0] * 1e3,
                                     floor_arch=floor_arch, native=native)
            # The tree keeps the payload four times more (packed, its cabinet, the compiled
            # resources and their archive): gigabytes at the largest sizes.
            for leftover in (cabinet, launcher, os.path.join(tree, "payload", "qarv_payload.bin"),
                             os.path.join(tree, "payload", "qarv_payload.cab"),
                             os.path.join(tree, "CMakeFiles", "launcher.dir", "res", "launcher.rc.res"),
                             os.path.join(tree, "CMakeFiles", "launcher.dir", "objects.a")):
                if os.path.exists(leftover):
                    os.remove(leftover)
    return rows


def native_runs_once(cabinet, folder):
    """cp + cabextract + md5sum of the program once, in ms: (cp, cabextract, md5sum, total)."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    container = os.path.join(folder, "qarv2009Setup.dat")
    marks = [time.perf_counter()]
    subprocess.run(["cp", cabinet, container], check=True)
    marks.append(time.perf_counter())
    subprocess.run(["cabextract", "-q", "-d", folder, container], check=True, stdout=subprocess.DEVNULL)
    marks.append(time.perf_counter())
    subprocess.run(["md5sum", os.path.join(folder, "Qarv2009Install.exe")], check=True, stdout=subprocess.DEVNULL)
    marks.append(time.perf_counter())
    shutil.rmtree(folder, ignore_errors=True)
    return tuple((marks[b] - marks[a]) * 1e3 for a, b in ((0, 1), (1, 2), (2, 3), (0, 3)))


def print_sweep(rows, arches, sizes):
    print("\nSize sweep: one whole run per size (stored cabinets), ms; floors measured on the same cabinet")
    print("| Launcher | Payload | Whole run | cp + cabextract + md5sum | Ratio | Drop | Drop floor | Ratio "
          "| Extraction | cabextract | Ratio | Peak memory | 2 × payload + 16 MiB | Ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for arch in arches:
        for mib in sizes:
            row = rows[(arch, mib)]
            run, native = row["run"], row["native"]
            drop = run[TRACE_STEPS[1][1]] - run[TRACE_STEPS[0][1]]
            extraction = run[TRACE_STEPS[2][1]] - run[TRACE_STEPS[1][1]]
            budget = 2 * row["size"] + 16 * MIB
            floor_note = "" if row["floor_arch"] == arch else " (%s floor)" % row["floor_arch"]
            print("| %s | %s bytes | %.0f | %.0f | %.2f× | %.0f | %.0f%s | %.2f× | %.0f | %.0f | %.2f× | %.0f MiB | "
                  "%.0f MiB | %.2f× |"
                  % (arch, format(row["size"], ","), run["Launcher exited"], native[3], run["Launcher exited"] / native[3], drop, row["floor"],
                     floor_note, drop / row["floor"], extraction, native[1], extraction / native[1],
                     row["peak"] / MIB, budget / MIB, row["peak"] / budget))


# The peer installers: the same files in NSIS self-extractors, with its three compressions.
NSIS_BUILDS = (
    ("zlib", "NSIS, zlib", "SetCompressor zlib"),
    ("lzma", "NSIS, solid LZMA", "SetCompressor /SOLID lzma"),
    ("stored", "NSIS, stored", "SetCompress off"),
)


def nsis_folder(key):
    """The NSIS build's extraction folder under %TEMP%: one of its own, so that a run's clean state
    is that folder gone."""
    return "QarvBenchNsis-" + key


def build_nsis(folder, files, key, compression):
    """A single-file NSIS installer of `files` (the program last) that shows its progress page,
    writes the files to %TEMP%\\<its folder>, starts the program and closes: what a release
    engineer builds with makensis in a few lines. Requires administrator rights as the launcher
    does, so that both ask the same of Windows. Returns the installer's path."""
    script = os.path.join(folder, "bench-%s.nsi" % key)
    installer = os.path.join(folder, "bench-nsis-%s.exe" % key)
    lines = ["Unicode true",
             'Name "QarvPro 2009 bench (%s)"' % key,
             'OutFile "%s"' % installer,
             compression,
             "RequestExecutionLevel admin",
             "AutoCloseWindow true",
             "Page instfiles",
             "Section",
             '  SetOutPath "$TEMP\\%s"' % nsis_folder(key)]
    lines += ['  File "%s"' % path for path in files]
    lines += ["  Exec '\"$OUTDIR\\%s\"'" % os.path.basename(files[-1]), "SectionEnd"]
    with open(script, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    done = subprocess.run(["makensis", "-V2", script], capture_output=True, text=True)
    if done.returncode != 0:
        sys.stderr.write(done.stdout[-4000:] + done.stderr[-4000:])
        sys.exit("run_bench: makensis failed on %s" % script)
    return installer


def extracted_check(folder, files):
    """The check of an NSIS run: the bench installer started, and every file of `files` ([name,
    size] pairs) lies in `folder` with its size."""
    def check(run):
        if run.get("exit code") != 0:
            return "exit code %r" % run.get("exit code")
        if "Installer started" not in run:
            return "the bench installer did not start"
        for name, size in files:
            target = os.path.join(folder, name)
            if not os.path.isfile(target) or os.path.getsize(target) != size:
                return "%s missing or of the wrong size" % target
        return None
    return check


def print_peers(peers, place, sizes, payload_size):
    """The launchers beside the NSIS installers of the same files, then the launcher's run in its
    steps beside the whole NSIS runs: measure_rounds's results `peers`, measured `place` (here, or
    in the emulated PC, where the order of the rows and steps holds but not the size of a ratio)."""
    timed, floors, native, round_trip = peers["timed"], peers["floors"], peers["native"], peers["round_trip"]
    arches = ARCHES
    rows = [(arch, "%s launcher" % arch) for arch in arches] + [("nsis " + key, name) for key, name, _ in NSIS_BUILDS]
    start = {name: step_stats(timed[name], "Installer started") for name, _ in rows}
    end = {name: step_stats(timed[name], "Launcher exited") for name, _ in rows}
    print("\nBeside the peers: the same files in NSIS 3 installers (Unicode, progress page, closes itself, "
          "starts the program), in the same prefix and rounds; ms since just before CreateProcessW, best (median)")
    if place != "here":
        print("Measured %s (%s): its times are an emulated processor's, not a PC's; the order of its rows and "
              "steps holds, the size of its ratios does not (docs/benchmarks.md)" % (place, peers["machine"]))
    print("| Installer | File size | To the installer's start | To exit | i686 launcher ÷ it, to start "
          "| i686 launcher ÷ it, to exit |")
    print("|---|---:|---:|---:|---:|---:|")
    ours_start, ours_end = start["i686"], end["i686"]
    for name, label in rows:
        print("| %s | %s bytes | %.1f (%.1f) | %.1f (%.1f) | %.2f× (%.2f×) | %.2f× (%.2f×) |"
              % (label, format(sizes[name], ","), start[name][0], start[name][1], end[name][0], end[name][1],
                 ours_start[0] / start[name][0], ours_start[1] / start[name][1],
                 ours_end[0] / end[name][0], ours_end[1] / end[name][1]))

    def step(runs, first, last):
        return stats([run[last] - (run[first] if first else 0.0) for run in runs])

    def ms(pair):
        return "%.1f (%.1f)" % pair

    messages = -(-payload_size // 4096)
    print("\nThe launcher's run in its steps beside the whole NSIS runs, ms, best (median); each step's floor "
          "measured in the same run")
    print("| Step |" + "".join(" %s launcher | its floor |" % arch for arch in arches) + " Floor measured as |")
    print("|---|" + "---:|---:|" * len(arches) + "---|")
    D, E, X, M = (label for _, label in TRACE_STEPS[0:4])
    lines = [
        ("Start-up (CreateProcessW to `Dropping file to`)", lambda a: step(timed[a], None, D),
         lambda a: step_stats(timed["empty " + a], "Launcher exited"), "an empty program, start to exit"),
        ("Drop (`Dropping` to `Extracting`)", lambda a: step(timed[a], D, E),
         lambda a: scaled(floors[a]["floor"]), "drop_floor: copy, writes and messages in one"),
        ("  of it, the %s progress messages (as drop_floor times them alone)" % format(messages, ","),
         lambda a: scaled(floors[a]["floor_messages"]), None, ""),
        ("  of it, the copy and the writes (as drop_floor times them, each alone)",
         lambda a: tuple(c + w for c, w in zip(scaled(floors[a]["floor_copy"]), scaled(floors[a]["floor_writes"]))),
         None, ""),
        ("  the launcher's DropPayloadBytes on drop_floor's bar, in turns with the floor",
         lambda a: scaled(floors[a]["launcher_drop"]), lambda a: scaled(floors[a]["floor"]), "drop_floor's floor"),
        ("Extraction (`Extracting` to `extracted`)", lambda a: step(timed[a], E, X),
         lambda a: scaled(native["cabextract"]), "cabextract (native)"),
        ("Digest of the program (`extracted` to `MD5`)", lambda a: step(timed[a], X, M),
         lambda a: scaled(native["md5sum"]), "md5sum (native)"),
        ("Start of the installer (`MD5` to its first instruction)", lambda a: step(timed[a], M, "Installer started"),
         lambda a: step_stats(timed["empty " + a], "Launcher exited"), "an empty program, start to exit"),
        ("The installer's start to the launcher's exit", lambda a: step(timed[a], "Installer started",
                                                                       "Launcher exited"), None, ""),
        ("Whole run, to the installer's start", lambda a: step_stats(timed[a], "Installer started"), None, ""),
        ("Whole run, to exit", lambda a: step_stats(timed[a], "Launcher exited"), None, ""),
    ]

    for label, ours, floor, floor_label in lines:
        cells = ""
        for arch in arches:
            cells += " %s | %s |" % (ms(ours(arch)), ms(floor(arch)) if floor else "")
        print("| %s |%s %s |" % (label, cells, floor_label))
    for key, name, _ in NSIS_BUILDS:
        runs = timed["nsis " + key]
        print("| %s: whole run to the installer's start; to exit | %s; %s |%s |"
              % (name, ms(step_stats(runs, "Installer started")), ms(step_stats(runs, "Launcher exited")),
                 " |" * (2 * len(arches) - 1)))
    print("\nOne progress message (PBM_SETPOS to another thread's bar, drop_floor's messages alone / %d), best "
          "(median): %s; a synchronous round trip between two threads in native Linux on this machine "
          "(thread_round_trip): %.1f µs (%.1f)"
          % (messages, ", ".join("%s %.0f µs (%.0f)" % (arch, floors[arch]["floor_messages"][0] * 1e6 / messages,
                                                        floors[arch]["floor_messages"][1] * 1e6 / messages)
                                 for arch in arches), round_trip[0] * 1e6, round_trip[1] * 1e6))


def scaled(pair):
    """(best, median) seconds as milliseconds."""
    return pair[0] * 1e3, pair[1] * 1e3


def main():
    if sys.argv[1:2] == ["--rounds"]:
        rounds_in_this_pc(*sys.argv[2:4])
        return
    arguments = [a for a in sys.argv[1:] if not a.startswith("--")]
    sweep_sizes = SWEEP_MIB
    for option in sys.argv[1:]:
        if option == "--no-sweep":
            sweep_sizes = ()
        elif option.startswith("--sweep="):
            sweep_sizes = tuple(int(mib) for mib in option[len("--sweep="):].split(","))
    build_root = os.path.abspath(arguments[0] if arguments else os.path.join(ROOT, "build"))
    os.makedirs(build_root, exist_ok=True)
    route = os.environ.get("QARV_I686_ROUTE", "auto")
    if route not in ("auto", "native", "vm"):
        sys.exit("run_bench: QARV_I686_ROUTE is auto, native or vm, not %r" % route)
    runs_32bit = install_what_is_needed(route)
    if route == "native" and not runs_32bit:
        sys.exit("run_bench: QARV_I686_ROUTE=native, but this machine cannot run 32-bit code (%s does not start)"
                 % WINE32)
    # The i686 launcher and its (32-bit) NSIS peers run here where they can, else in the emulated PC,
    # which then runs every row of the peer table, so that they are all measured in one place.
    pc_route = route == "vm" or not runs_32bit
    arches = ("x86_64",) if pc_route else ARCHES
    if pc_route:
        print("run_bench: %s, so the peer table (both launchers and the NSIS installers) is measured in the "
              "emulated PC of scripts/vm.sh, the rest here with the x86_64 launcher only"
              % ("QARV_I686_ROUTE=vm" if route == "vm" else "this machine cannot run 32-bit code (%s does not start)"
                 % WINE32))
    for arch in ARCHES:
        cmake_tree(arch, os.path.join(build_root, arch), TARGETS[arch])
    bin64 = os.path.join(build_root, "x86_64", "bin")
    round_trip_exe = os.path.join(build_root, "thread_round_trip")
    # Static: the emulated PC runs it too, and has no C++ runtime of its own.
    subprocess.run(["g++", "-O2", "-static", "-pthread", os.path.join(ROOT, "bench", "thread_round_trip.cpp"), "-o",
                    round_trip_exe], check=True)

    work = tempfile.mkdtemp(prefix="bench-work-", dir=build_root)
    prefix = None
    try:
        # One cabinet per launcher, its own architecture's installer last, and the launcher built
        # around it the way a release engineer builds one (QARV_PAYLOAD_SOURCE).
        cabinets, launchers, cabinet_files = {}, {}, {}
        for arch in ARCHES:
            folder = os.path.join(work, "cabinet-" + arch)
            os.makedirs(folder)
            made, cabinet_files[arch] = make_cabinet(folder, os.path.join(build_root, arch, "bin", "bench_installer.exe"))
            cabinets[arch] = os.path.join(build_root, "bench-payload-%s.cab" % arch)
            if not os.path.exists(cabinets[arch]) or open(made, "rb").read() != open(cabinets[arch], "rb").read():
                shutil.copyfile(made, cabinets[arch])
            tree = os.path.join(build_root, "bench-" + arch)
            cmake_tree(arch, tree, ["launcher"], ["-DQARV_PAYLOAD_SOURCE=" + cabinets[arch]])
            launchers[arch] = os.path.join(tree, "bin", "QarvPro 2009 Setup.exe")
        cabinet = cabinets["x86_64"]
        # The peers: NSIS installers of the shipped (i686) launcher's files, 32-bit as it is.
        nsis = {key: build_nsis(work, cabinet_files["i686"], key, compression) for key, _, compression in NSIS_BUILDS}
        sizes = dict({arch: os.path.getsize(launchers[arch]) for arch in ARCHES},
                     **{"nsis " + key: os.path.getsize(nsis[key]) for key in nsis})

        def stage(name, arches_there):
            return stage_rounds(os.path.join(work, name), build_root, arches_there, launchers,
                                nsis if "i686" in arches_there else {}, cabinet, cabinet_files["i686"], round_trip_exe)

        # The emulated PC first, alone: it takes both of the machine's cores.
        peers, peers_place = None, None
        if pc_route:
            peers, peers_place = rounds_in_emulated_pc(build_root, stage("rounds-pc", ARCHES)), "in the emulated PC"
        prefix = BenchPrefix(os.path.join(build_root, "bench-wineprefix"))
        here = measure_rounds(stage("rounds-here", arches), prefix)
        if "i686" in arches:
            peers, peers_place = here, "here"
        timed, floors, native = here["timed"], here["floors"], here["native"]
        bare = {arch: timed["empty " + arch] for arch in arches}
        whole = {arch: timed[arch] for arch in arches}
        prefix.clean_state()

        # The stages alone (no dialog), as before.
        host = {
            "cabextract": timed_runs(["cabextract", "-q", "-d", os.path.join(work, "cabextract"), cabinet],
                                     lambda: shutil.rmtree(os.path.join(work, "cabextract"), ignore_errors=True)),
            "md5sum": timed_runs(["md5sum", cabinet]),
        }
        md5 = subprocess.run(["md5sum", cabinet], check=True, capture_output=True, text=True).stdout.split()[0]
        stage_text = prefix.output(WINE64, os.path.join(bin64, "payload_bench.exe"), windows_path(cabinet),
                                   windows_path(os.path.join(work, "scratch")))
        sweep = size_sweep(build_root, arches, prefix, work, sweep_sizes) if sweep_sizes else {}
    finally:
        if prefix:
            prefix.close()
        shutil.rmtree(work, ignore_errors=True)

    print("Machine: " + machine())
    print("Payload: %d bytes (gcab MSZIP cabinet, 7 files, the bench installer last); %d runs each\n"
          % (os.path.getsize(cabinet), REPEATS))

    print("Whole runs under the trace capture, on a Wine virtual desktop, trace on; ms since process start")
    header = "| Step |" + "".join(" %s best | %s median |" % (a, a) for a in arches)
    print(header)
    print("|---|" + "---:|---:|" * len(arches))
    steps = [label for _, label in TRACE_STEPS] + ["Installer started", "Launcher exited"]
    for step in steps:
        cells = ""
        for arch in arches:
            s = step_stats(whole[arch], step)
            cells += " %.1f | %.1f |" % s if s else " - | - |"
        print("| %s |%s" % (step, cells))
    cells = ""
    for arch in arches:
        cells += " %.1f | %.1f |" % step_stats(bare[arch], "Launcher exited")
    print("| Empty program, start to exit (Wine's bare process start) |%s" % cells)

    print("\nNative on the same cabinet: cp %.1f ms, cabextract %.1f ms, md5sum of the program %.1f ms; "
          "together %.1f ms best, %.1f ms median" % (native["cp"][0] * 1e3, native["cabextract"][0] * 1e3,
                                                     native["md5sum"][0] * 1e3, native["total"][0] * 1e3,
                                                     native["total"][1] * 1e3))
    print("Drop floor alone (fresh heap block, one copy, 4,096-byte writes, one PBM_SETPOS per chunk to another "
          "thread's bar), best / median:")
    for arch in arches:
        f = floors[arch]
        print("  %-6s floor %.1f / %.1f ms = copy %.1f + writes %.1f + messages %.1f (best, each alone); "
              "the launcher's DropPayloadBytes on the same bar %.1f / %.1f ms"
              % (arch, f["floor"][0] * 1e3, f["floor"][1] * 1e3, f["floor_copy"][0] * 1e3, f["floor_writes"][0] * 1e3,
                 f["floor_messages"][0] * 1e3, f["launcher_drop"][0] * 1e3, f["launcher_drop"][1] * 1e3))

    print("\nRatios (best figures; medians in brackets)")
    print("| Launcher | What | Launcher | Against | Ratio |")
    print("|---|---|---:|---|---:|")

    def stage(runs, start, end):
        values = [run[end] - run[start] for run in runs]
        return stats(values)

    for arch in arches:
        exit_best, exit_median = step_stats(whole[arch], "Launcher exited")
        bare_best, bare_median = step_stats(bare[arch], "Launcher exited")
        rows = [
            ("Whole run less bare start", (exit_best - bare_best, exit_median - bare_median),
             "cp + cabextract + md5sum", (native["total"][0] * 1e3, native["total"][1] * 1e3)),
            ("Drop (Dropping to Extracting)", stage(whole[arch], TRACE_STEPS[0][1], TRACE_STEPS[1][1]),
             "its design floor", (floors[arch]["floor"][0] * 1e3, floors[arch]["floor"][1] * 1e3)),
            ("Extraction (Extracting to extracted)", stage(whole[arch], TRACE_STEPS[1][1], TRACE_STEPS[2][1]),
             "cabextract", (native["cabextract"][0] * 1e3, native["cabextract"][1] * 1e3)),
            ("Digest of the program (extracted to MD5)", stage(whole[arch], TRACE_STEPS[2][1], TRACE_STEPS[3][1]),
             "md5sum", (native["md5sum"][0] * 1e3, native["md5sum"][1] * 1e3)),
        ]
        for what, ours, other, theirs in rows:
            print("| %s | %s | %.1f ms (%.1f) | %s %.1f ms (%.1f) | %.2f× (%.2f×) |"
                  % (arch, what, ours[0], ours[1], other, theirs[0], theirs[1], ours[0] / theirs[0],
                     ours[1] / theirs[1]))

    if peers:
        print_peers(peers, peers_place, sizes, os.path.getsize(cabinets["i686"]))

    figures = {name: values[0] for name, values in figures_of(stage_text).items()}
    digest = re.search(r"^digest (\w+)", stage_text, re.M).group(1)
    if digest != md5.upper():
        sys.exit("run_bench: the launcher's digest %s differs from md5sum's %s" % (digest, md5))
    size = figures["bytes"]
    gbs = lambda seconds: size / seconds / 1e9
    print("\nThe stages alone (x86_64 payload_bench, no dialog), best of %d" % REPEATS)
    rows = [
        ("Descrambling", figures["descramble"], "memcpy of the same bytes", figures["memcpy"]),
        ("Drop (DropPayloadBytes)", figures["drop"], "CopyFileW, same size", figures["copyfile"]),
        ("Drop (DropPayloadBytes)", figures["drop"], "4,096-byte WriteFile calls, no descrambling",
         figures["chunked_write"]),
        ("Drop's guarded copy (CopyGuarded, fresh heap block)", figures["guarded_copy"], "memcpy of the same bytes",
         figures["memcpy"]),
        ("Extraction (ExtractCabinet)", figures["extract"], "cabextract (native)", host["cabextract"][0]),
        ("Digest of the cabinet (ComputeFileMd5)", figures["md5"], "md5sum (native)", host["md5sum"][0]),
    ]
    print("| Launcher stage | Time | Throughput | Compared with | Time | Throughput | Ratio |")
    print("|---|---:|---:|---|---:|---:|---:|")
    for name, ours, other, theirs in rows:
        print("| %s | %.1f ms | %.2f GB/s | %s | %.1f ms | %.2f GB/s | %.2f× |" %
              (name, ours * 1e3, gbs(ours), other, theirs * 1e3, gbs(theirs), ours / theirs))
    if sweep:
        print_sweep(sweep, arches, sweep_sizes)
    sys.stdout.flush()

    # The dialog thread's answer time through whole launcher runs, on a display of its own.
    if "--no-gui-probe" not in sys.argv:
        print()
        subprocess.run(["bash", os.path.join(ROOT, "bench", "run_gui_probe.sh"), build_root], check=True,
                       stdin=subprocess.DEVNULL)


if __name__ == "__main__":
    main()

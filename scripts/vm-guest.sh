#!/bin/bash
# The emulated PC's whole job, run as its process 1 (scripts/vm.sh boots it). For the tests: an X
# display, a WoW64 Wine prefix on the PC's own disk at the path the build trees expect, then the
# tests that need 32-bit Windows code: the i686 tree's runs under WoW64 (label wow64) and the x86_64
# tree's Wow64* tests, each narrowed further by the caller's QARV_CTEST_ARGS (qarv_ctest_run). For
# the benchmark (QARV_VM_JOB=bench): its rounds, staged by the host in QARV_VM_BENCH, measured on the
# PC's own disk (bench/run_bench.py --rounds). The output goes to qarv_out/guest.log, which the host
# shows as it comes; the status goes to qarv_out/status; then the PC powers itself off.
# qarv_root and qarv_out come from the kernel's command line.
set -u
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
exec >"$qarv_out/guest.log" 2>&1
source "$qarv_root/scripts/lib.sh"
source "$qarv_out/request"  # QARV_BUILD_ROOT, QARV_CTEST_ARGS, QARV_VM_JOB, QARV_VM_BENCH
qarv_ctest_args || QARV_CTEST_ARGV=()  # the host has refused what it does not take

finish() {
    echo "$1" >"$qarv_out/status"
    qarv_cleanup
    sync
    echo o >/proc/sysrq-trigger
    sleep 60
}

# /tmp stays on the PC's disk: the host's clone or build folder may be mounted under it.
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm

qarv_log "in the emulated PC: $(nproc) processors, $(($(getconf _PHYS_PAGES) * $(getconf PAGE_SIZE) >> 20)) MiB"
if [ "$QARV_VM_JOB" = bench ]; then
    # The bench makes its own display and prefix, under the folder it copies the rounds to.
    python3 "$qarv_root/bench/run_bench.py" --rounds "$QARV_VM_BENCH" /var/lib/qarv-bench && finish 0
    finish 1
fi
# The host's own prefix stays as it is: the PC's is on its own disk, mounted over that path.
prefix="$QARV_BUILD_ROOT/x86_64/wineprefix"
mkdir -p /var/lib/qarv-prefix "$prefix" && mount --bind /var/lib/qarv-prefix "$prefix" || finish 1
started=$SECONDS
qarv_start_display
qarv_wine_prefix "$prefix"
qarv_log "in the emulated PC: Wine prefix made in $((SECONDS - started)) s"
if ! qarv_runs_32bit_code; then
    qarv_log "in the emulated PC: 32-bit Windows code does not run there either"
    finish 1
fi

status=0
qarv_log "i686 in the emulated PC: the shipped launcher's runs under WoW64"
# Their test lists are made here: the host, which cannot run the 32-bit test program, left lists
# that ctest would otherwise keep, being newer than the program.
rm -f "$QARV_BUILD_ROOT"/i686/tests/*_tests.cmake
qarv_ctest_run "$QARV_BUILD_ROOT/i686" "-L wow64" "" || status=1
# The signed launchers were made and checked on the host (packer_sign_launcher); only their runs here.
qarv_log "x86_64 in the emulated PC: the tests that watch the i686 launcher from the 64-bit side"
qarv_ctest_run "$QARV_BUILD_ROOT/x86_64" "-R Wow64" "" -FS signed_launchers || status=1
finish $status

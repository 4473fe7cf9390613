# The emulated PC that runs the 32-bit launcher's tests where this machine's kernel refuses 32-bit
# code (or where the 32-bit Wine cannot be installed): a whole x86-64 PC under QEMU, Debian with
# Wine inside, booted from a disk image that scripts/vm-image.sh makes once per machine. The tests
# are built on the host as always; the PC sees the clone and the build trees at the same paths
# (9p) and runs ctest on them.
# Sourced by scripts/test after lib.sh, not run.

# Images live outside the clone, one folder per recipe: QARV_VM_CACHE/<hash of vm-image.sh>.
QARV_VM_CACHE="${QARV_VM_CACHE:-/var/cache/qarv-vm}"
# QEMU and the image maker, for qarv_install_packages.
QARV_VM_PACKAGES="qemu-system-x86 mmdebstrap e2fsprogs"

# The image for the recipe in this clone, built when there is none; sets QARV_VM_IMAGE. A build
# happens under a temporary name and is renamed when complete, so a half-built image is never
# used; a lock keeps two runs from building at once. Images of other recipes are removed.
qarv_vm_image() {
    local hash dir partial log started
    hash=$(sha256sum "$QARV_ROOT/scripts/vm-image.sh" | cut -c1-16)
    dir="$QARV_VM_CACHE/$hash"
    QARV_VM_IMAGE="$dir"
    mkdir -p "$QARV_VM_CACHE" || return 1
    (
        flock 9
        if [ -f "$dir/root.img" ]; then
            qarv_log "the emulated PC: reusing its image $dir"
            exit 0
        fi
        find "$QARV_VM_CACHE" -mindepth 1 -maxdepth 1 ! -name lock ! -name "$hash" -exec rm -rf {} +
        partial="$dir.partial"
        log="$QARV_VM_CACHE/$hash.log"
        qarv_log "the emulated PC: building its image in $dir (once per machine; log $log)"
        started=$SECONDS
        if ! timeout "${QARV_VM_IMAGE_TIMEOUT:-1800}" bash "$QARV_ROOT/scripts/vm-image.sh" "$partial" >"$log" 2>&1; then
            tail -n 30 "$log" >&2
            rm -rf "$partial"
            exit 1
        fi
        mv "$partial" "$dir"
        qarv_log "the emulated PC: image built in $((SECONDS - started)) s, $(du -sh "$dir" | cut -f1) on disk"
    ) 9>"$QARV_VM_CACHE/lock"
}

# Boots the PC on QARV_VM_IMAGE and runs scripts/vm-guest.sh in it with the host's build trees;
# its output is shown here as it comes. Returns the guest's own status; a PC that runs past
# QARV_VM_TIMEOUT seconds is stopped and the run fails. The guest's console is kept in
# $QARV_BUILD_ROOT/vm/console.log and printed when the guest gives no status.
qarv_vm_run() {
    local out="$QARV_BUILD_ROOT/vm" limit="${QARV_VM_TIMEOUT:-2400}" accel
    local path
    for path in "$QARV_ROOT" "$QARV_BUILD_ROOT"; do
        if [[ "$path" =~ [[:space:],] ]]; then
            qarv_log "the emulated PC cannot mount $path: a space or comma in the path"
            return 1
        fi
    done
    rm -rf "$out" && mkdir -p "$out" || return 1
    {
        printf 'QARV_BUILD_ROOT=%q\n' "$QARV_BUILD_ROOT"
        printf 'QARV_CTEST_ARGS=%q\n' "${QARV_CTEST_ARGS:-}"
    } >"$out/request"

    local append="root=/dev/vda rw console=ttyS0 panic=-1 init=/sbin/qarv-init qarv_root=$QARV_ROOT qarv_out=$out"
    local shares=(-virtfs "local,path=$QARV_ROOT,mount_tag=qarvroot,security_model=none")
    case "$QARV_BUILD_ROOT/" in
        "$QARV_ROOT"/*) ;;
        *)
            shares+=(-virtfs "local,path=$QARV_BUILD_ROOT,mount_tag=qarvbuild,security_model=none")
            append+=" qarv_build=$QARV_BUILD_ROOT"
            ;;
    esac
    # TCG by default: a nested KVM here has been seen to hang the guest's kernel at boot.
    case "${QARV_VM_ACCEL:-tcg}" in
        kvm) accel=(-accel kvm) ;;
        *) accel=(-accel tcg,thread=multi) ;;
    esac

    qarv_log "the emulated PC: booting (${QARV_VM_ACCEL:-tcg}; stopped after $limit s)"
    local started=$SECONDS
    timeout --kill-after=10 "$limit" qemu-system-x86_64 "${accel[@]}" -m 6144 -smp 2 -nodefaults -no-reboot \
        -display none -monitor none -serial "file:$out/console.log" \
        -kernel "$QARV_VM_IMAGE/vmlinuz" -initrd "$QARV_VM_IMAGE/initrd.img" -append "$append" \
        -drive "file=$QARV_VM_IMAGE/root.img,format=raw,if=virtio,snapshot=on" \
        "${shares[@]}" </dev/null >"$out/qemu.log" 2>&1 &
    local qemu=$!
    tail -n +1 -F --pid=$qemu "$out/guest.log" 2>/dev/null
    local ended=0
    wait $qemu || ended=$?
    qarv_log "the emulated PC: ended after $((SECONDS - started)) s"
    if [ -s "$out/status" ]; then
        return "$(cat "$out/status")"
    fi
    if [ "$ended" -eq 124 ] || [ "$ended" -eq 137 ]; then
        qarv_log "the emulated PC was stopped after $limit s without a result; its console ($out/console.log) ends:"
    else
        qarv_log "the emulated PC ended without a result (QEMU exit $ended); QEMU said: $(tail -n 5 "$out/qemu.log")"
        qarv_log "its console ($out/console.log) ends:"
    fi
    tail -n 60 "$out/console.log" >&2
    return 1
}

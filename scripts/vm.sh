# The emulated PC that runs the 32-bit launcher's tests (and the benchmark's 32-bit rounds) where
# this machine's kernel refuses 32-bit code (or where the 32-bit Wine cannot be installed): a whole
# x86-64 PC under QEMU, Debian with Wine inside, booted from a disk image that scripts/vm-image.sh
# makes once per machine. The tests are built on the host as always; the PC sees the clone and the
# build trees at the same paths (9p) and runs ctest on them.
# Sourced by scripts/test and bench/run_bench.py after lib.sh, not run.

# Images live outside the clone, one folder per recipe: QARV_VM_CACHE/<hash of vm-image.sh>.
QARV_VM_CACHE="${QARV_VM_CACHE:-/var/cache/qarv-vm}"
# QEMU and the image maker, for qarv_install_packages.
QARV_VM_PACKAGES="qemu-system-x86 mmdebstrap e2fsprogs"

# Refuses (a message, status 1) a path the emulated PC cannot take: qarv_vm_paths_usable NAME=PATH...
# The paths reach QEMU's options (a comma separates them), the kernel's command line (a space
# or a quote does) and a root hook of the image maker, so only letters, digits, bytes above
# ASCII and / . _ - + @ ~ : pass; each path must also be absolute.
qarv_vm_paths_usable() {
    local pair name path odd
    for pair in "$@"; do
        name="${pair%%=*}" path="${pair#*=}"
        if [ "${path#/}" = "$path" ]; then
            qarv_log "$name must be an absolute path, not $(printf %q "$path")"
            return 1
        fi
        # The x keeps a trailing newline from being lost to the command substitution.
        odd=$(printf '%s' "$path" | LC_ALL=C tr -d 'A-Za-z0-9/._+@~:\200-\377-'; echo x)
        odd="${odd%x}"
        if [ -n "$odd" ]; then
            qarv_log "$name ($(printf %q "$path")) holds $(qarv_vm_name_characters "$odd"): the emulated PC cannot" \
                "take it (the path goes into QEMU's options and the PC's kernel command line; letters, digits and / . _ - + @ ~ : only)"
            return 1
        fi
    done
}

# The characters of an ASCII string in words, each once: "a comma, a space".
qarv_vm_name_characters() {
    local i c seen="" said=""
    for ((i = 0; i < ${#1}; i++)); do
        c="${1:i:1}"
        case "$seen" in *"$c"*) continue ;; esac
        seen+="$c"
        case "$c" in
            ' ') c="a space" ;;
            $'\n') c="a newline" ;;
            $'\t') c="a tab" ;;
            ,) c="a comma" ;;
            "'") c="a single quote" ;;
            '"') c="a double quote" ;;
            [[:graph:]]) c="'$c'" ;;
            *) c=$(printf 'the byte 0x%02x' "'$c") ;;
        esac
        said+="${said:+, }$c"
    done
    printf '%s' "$said"
}

# Refuses what others could change: qarv_vm_private PATH [sticky-ok]. It must be owned by root or
# this user and writable by its owner only; with sticky-ok a folder writable by all that has the
# sticky bit passes (/tmp: no one else can rename or remove what is ours in it).
qarv_vm_private() {
    local owner mode
    read -r owner mode < <(stat -c '%u %a' -- "$1") || return 1
    if [ "$owner" -ne 0 ] && [ "$owner" -ne "$(id -u)" ]; then
        qarv_log "$1 belongs to user $owner, neither root nor this user"
        return 1
    fi
    if [ $((8#$mode & 8#022)) -ne 0 ] && ! { [ "${2:-}" = sticky-ok ] && [ $((8#$mode & 8#1000)) -ne 0 ]; }; then
        qarv_log "$1 is writable by others (mode $mode)"
        return 1
    fi
}

# The same for a folder that must not be a symbolic link: qarv_vm_folder_private DIR [sticky-ok]
qarv_vm_folder_private() {
    if [ -L "$1" ] || [ ! -d "$1" ]; then
        qarv_log "$1 is missing, a symbolic link or not a folder"
        return 1
    fi
    qarv_vm_private "$@"
}

# True when the image cache may be trusted: qarv_vm_cache_private DIR. DIR itself must not be a
# symbolic link, and it and every folder above it (links resolved) must be private as above;
# the caller then uses DIR's resolved path.
qarv_vm_cache_private() {
    local dir="$1" up
    if [ -L "$dir" ]; then
        qarv_log "the emulated PC's cache $dir is a symbolic link"
        return 1
    fi
    up=$(realpath -e -- "$dir") || return 1
    qarv_vm_folder_private "$up" || { qarv_log "the emulated PC's cache $dir cannot be trusted"; return 1; }
    while [ "$up" != / ]; do
        up=$(dirname -- "$up")
        qarv_vm_folder_private "$up" sticky-ok || { qarv_log "the emulated PC's cache $dir cannot be trusted"; return 1; }
    done
}

# Refuses to open PATH where it is a symbolic link or not a plain file: qarv_vm_plain_file PATH.
# In a private folder (qarv_vm_cache_private) no one else can put a link there between this check
# and the open.
qarv_vm_plain_file() {
    if [ -L "$1" ] || { [ -e "$1" ] && [ ! -f "$1" ]; }; then
        qarv_log "$1 is a symbolic link or not a plain file; it is not opened"
        return 1
    fi
}

# Removes what an older recipe left in the cache: qarv_vm_cache_clean CACHE HASH. Only names this
# file gives are touched: other hashes' folders, their .partial and .log, and HASH's own .partial.
qarv_vm_cache_clean() {
    local entry name
    for entry in "$1"/*; do
        name="${entry##*/}"
        [[ "$name" =~ ^[0-9a-f]{16}(\.partial|\.log)?$ ]] || continue
        [ "$name" = "$2" ] || [ "$name" = "$2.log" ] || rm -rf -- "$entry"
    done
}

# The image's files, in the order their SHA-256 sums are recorded in its SHA256SUMS.
QARV_VM_IMAGE_FILES="root.img vmlinuz initrd.img"

# Records the SHA-256 of a finished image beside it: qarv_vm_image_seal DIR.
qarv_vm_image_seal() {
    (cd "$1" && sha256sum $QARV_VM_IMAGE_FILES >SHA256SUMS.new && mv SHA256SUMS.new SHA256SUMS)
}

# True when DIR holds an image of this cache's own making: a private folder of private plain
# files with the SHA-256 recorded when it was built.
qarv_vm_image_sound() {
    local dir="$1" file
    qarv_vm_folder_private "$dir" 2>/dev/null || return 1
    for file in $QARV_VM_IMAGE_FILES SHA256SUMS; do
        [ -f "$dir/$file" ] && [ ! -L "$dir/$file" ] && qarv_vm_private "$dir/$file" 2>/dev/null || return 1
    done
    [ "$(cd "$dir" && sha256sum $QARV_VM_IMAGE_FILES)" = "$(cat "$dir/SHA256SUMS")" ]
}

# The image for the recipe in this clone, built when there is none; sets QARV_VM_IMAGE. A build
# happens under a temporary name and is renamed when complete, its SHA-256 recorded; an image is
# used only when it matches them, and one that does not is built anew. A lock keeps two runs from
# building at once. Images of other recipes are removed.
qarv_vm_image() {
    local cache hash dir partial log started
    qarv_vm_paths_usable "the clone's path=$QARV_ROOT" QARV_VM_CACHE="$QARV_VM_CACHE" || return 1
    (umask 022 && mkdir -p -- "$QARV_VM_CACHE") || return 1
    qarv_vm_cache_private "$QARV_VM_CACHE" || return 1
    cache=$(realpath -e -- "$QARV_VM_CACHE") || return 1
    hash=$(sha256sum "$QARV_ROOT/scripts/vm-image.sh" | cut -c1-16)
    dir="$cache/$hash"
    QARV_VM_IMAGE="$dir"
    qarv_vm_plain_file "$cache/lock" || return 1
    (
        umask 022  # the image's folder must pass qarv_vm_image_sound's owner-only check
        flock 9
        if [ -e "$dir" ] || [ -L "$dir" ]; then
            if qarv_vm_image_sound "$dir"; then
                qarv_log "the emulated PC: reusing its image $dir (its SHA-256 checked)"
                exit 0
            fi
            qarv_log "the emulated PC: $dir does not hold the image recorded when it was built (a file missing, changed or not its own); building it anew"
            rm -rf -- "$dir"
        fi
        qarv_vm_cache_clean "$cache" "$hash"
        partial="$dir.partial"
        log="$cache/$hash.log"
        qarv_vm_plain_file "$log" || exit 1
        qarv_log "the emulated PC: building its image in $dir (once per machine; log $log)"
        started=$SECONDS
        if ! timeout "${QARV_VM_IMAGE_TIMEOUT:-1800}" bash "$QARV_ROOT/scripts/vm-image.sh" "$partial" >"$log" 2>&1 ||
            ! qarv_vm_image_seal "$partial"; then
            tail -n 30 "$log" >&2
            rm -rf -- "$partial"
            exit 1
        fi
        mv -T -- "$partial" "$dir"
        qarv_log "the emulated PC: image built in $((SECONDS - started)) s, $(du -sh "$dir" | cut -f1) on disk"
    ) 9>>"$cache/lock"
}

# Boots the PC on QARV_VM_IMAGE and runs scripts/vm-guest.sh in it with the host's build trees:
# qarv_vm_run [tests | bench FOLDER]. tests (the default) runs the 32-bit tests; bench runs the
# benchmark's rounds staged in FOLDER, a folder under the clone or QARV_BUILD_ROOT, where the PC
# leaves their results (bench/run_bench.py). The guest's output is shown here as it comes.
# Returns the guest's own status; a PC that runs past QARV_VM_TIMEOUT seconds is stopped and the
# run fails. The guest's console is kept in $QARV_BUILD_ROOT/vm/console.log and printed when the
# guest gives no status.
qarv_vm_run() {
    local job="${1:-tests}" folder="${2:-}" out="$QARV_BUILD_ROOT/vm" limit="${QARV_VM_TIMEOUT:-2400}" accel
    qarv_vm_paths_usable "the clone's path=$QARV_ROOT" QARV_BUILD_ROOT="$QARV_BUILD_ROOT" || return 1
    case "$job" in
        tests) ;;
        bench)
            case "$folder" in
                "$QARV_ROOT"/?* | "$QARV_BUILD_ROOT"/?*) ;;
                *) qarv_log "the emulated PC sees only the clone and $QARV_BUILD_ROOT, not $folder"; return 1 ;;
            esac ;;
        *) qarv_log "qarv_vm_run: the job is tests or bench, not '$job'"; return 1 ;;
    esac
    rm -rf "$out" && mkdir "$out" || return 1
    {
        printf 'QARV_BUILD_ROOT=%q\n' "$QARV_BUILD_ROOT"
        printf 'QARV_CTEST_ARGS=%q\n' "${QARV_CTEST_ARGS:-}"
        printf 'QARV_VM_JOB=%q\n' "$job"
        printf 'QARV_VM_BENCH=%q\n' "$folder"
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

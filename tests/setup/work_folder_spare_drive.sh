#!/bin/sh
# Real spare fixed drives for the work-folder scan: two size-limited tmpfs mounts shown to the test
# prefix as D: (exactly 300 MiB free, not enough) and E: (301 MiB, enough).
#   work_folder_spare_drive.sh mount|unmount PREFIX DIR
# Mounting needs root; where it is not permitted nothing is made and the scan test skips itself.
set -u
action="$1"; prefix="$2"; dir="$3"

unmount_all() {
    for letter in d e; do
        link="$prefix/dosdevices/$letter:"
        # Only links this script made: they point into DIR.
        if [ -L "$link" ] && [ "$(readlink "$link")" = "$dir/$letter" ]; then rm -f "$link"; fi
        if mountpoint -q "$dir/$letter" 2>/dev/null; then
            umount "$dir/$letter" 2>/dev/null || umount -l "$dir/$letter"
        fi
        rmdir "$dir/$letter" 2>/dev/null || true
    done
    rmdir "$dir" 2>/dev/null || true
}

case "$action" in
  mount)
    unmount_all
    for letter in d e; do
        if [ -e "$prefix/dosdevices/$letter:" ]; then
            echo "skipped: the prefix already has a drive $letter:"; unmount_all; exit 0
        fi
    done
    mkdir -p "$dir/d" "$dir/e"
    if ! mount -t tmpfs -o size=300m,mode=0777 tmpfs "$dir/d" 2>/dev/null ||
       ! mount -t tmpfs -o size=301m,mode=0777 tmpfs "$dir/e" 2>/dev/null; then
        echo "skipped: mounting a tmpfs is not permitted here"; unmount_all; exit 0
    fi
    # Empty marker files take no blocks, so the free space stays exact.
    touch "$dir/d/qarv_spare_300m" "$dir/e/qarv_spare_301m"
    ln -s "$dir/d" "$prefix/dosdevices/d:"
    ln -s "$dir/e" "$prefix/dosdevices/e:"
    echo "D: 300 MiB and E: 301 MiB mounted from $dir" ;;
  unmount)
    unmount_all ;;
  *)
    echo "usage: $0 mount|unmount PREFIX DIR" >&2; exit 2 ;;
esac

#!/bin/sh
# A size-limited tmpfs for the drop's disk-full test: small_disk.sh mount|unmount DIR [SIZE]
# Wine reaches it through Z:, and a write that does not fit fails for real.
set -eu
action="$1"; dir="$2"; size="${3:-64k}"
case "$action" in
  mount)
    mkdir -p "$dir"
    if mountpoint -q "$dir"; then umount "$dir"; fi
    mount -t tmpfs -o "size=$size,mode=0777" tmpfs "$dir"
    echo "small disk of $size at $dir" ;;
  unmount)
    if mountpoint -q "$dir"; then umount "$dir"; fi
    rmdir "$dir" 2>/dev/null || true ;;
  *) echo "usage: $0 mount|unmount DIR [SIZE]" >&2; exit 2 ;;
esac

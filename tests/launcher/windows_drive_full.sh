#!/bin/sh
# The real launcher on a Windows drive too full for the setup. For this one test, C: of the test
# prefix points at a 64 MiB tmpfs whose entries are links back into the prefix's drive_c, so that
# Windows and the user folders stay where they were while the drive reports 64 MiB free; the
# drive is pointed back whatever happens.
#   windows_drive_full.sh PREFIX DIR RUNNER TEST_PROGRAM
# Mounting needs root; where it is not permitted nothing changes and the test skips itself.
set -u
prefix="$1"; dir="$2"; runner="$3"; program="$4"
link="$prefix/dosdevices/c:"
original="$(readlink "$link")" || { echo "the prefix has no C: link"; exit 1; }
drive_c="$(cd "$prefix/dosdevices" && cd "$original" && pwd)"

restore() {
    if [ "$(readlink "$link")" != "$original" ]; then rm -f "$link"; ln -s "$original" "$link"; fi
    if mountpoint -q "$dir" 2>/dev/null; then umount "$dir" 2>/dev/null || umount -l "$dir"; fi
    rmdir "$dir" 2>/dev/null || true
}
trap restore EXIT

mkdir -p "$dir"
if ! mount -t tmpfs -o size=64m,mode=0777 tmpfs "$dir" 2>/dev/null; then
    echo "skipped: mounting a tmpfs is not permitted here"; exit 0
fi
for entry in "$drive_c"/* "$drive_c"/.[!.]*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    ln -s "$entry" "$dir/$(basename "$entry")"
done
rm -f "$link"
ln -s "$dir" "$link" || { echo "C: could not be pointed at the small drive"; exit 1; }
# Told so, the test fails rather than skips when C: still has room.
QARV_SMALL_WINDOWS_DRIVE=1 "$runner" "$program" --gtest_filter='WindowsDriveFull.*'

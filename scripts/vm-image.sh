#!/usr/bin/env bash
# Makes the disk of the emulated PC that runs the 32-bit launcher where this machine's kernel
# cannot: vm-image.sh DIR. DIR ends up holding root.img (an ext4 disk), vmlinuz and initrd.img.
#
# The PC is Debian of the host's own release, with its Wine (64-bit, the 32-bit half from i386 and
# both preloaders), Xvfb and ctest: all the test runs need, nothing is compiled there; and what
# the benchmark's rounds there need besides (python3, xwininfo, cabextract). Its packages
# come from the release itself (the host's mirror for its code name, no updates or security
# suites), so that the amd64 and i386 halves always have the same versions. Process 1 of the PC is
# /sbin/qarv-init (below): it mounts the host folders the kernel command line names and hands over
# to scripts/vm-guest.sh in them, so that the test steps live in the clone, not in the image.
#
# scripts/vm.sh keys its cache of images by this file's hash: any change here makes a new image.
set -euo pipefail

# The root file system's own parts (mmdebstrap calls this script back with --customize ROOT):
# process 1, and the modules the initial RAM disk needs to mount the disk.
customize() {
    local root="$1"
    cat >"$root/sbin/qarv-init" <<'INIT'
#!/bin/sh
# Process 1 of the emulated PC: mounts the host's folders (9p, at the paths they have on the host,
# so that the build trees' absolute paths hold) and runs the clone's guest script. The kernel
# passes qarv_root and qarv_build from its command line in the environment. cache=loose: with
# cache=none or cache=mmap, Windows programs that Wine starts from the share crash at their start
# (a page fault, a stack overflow), while the same files copied to the PC's disk run.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
modprobe 9pnet_virtio && modprobe 9p
share() {
    mkdir -p "$2" && mount -t 9p -o trans=virtio,version=9p2000.L,msize=1048576,cache=loose "$1" "$2"
}
if share qarvroot "$qarv_root" && { [ -z "$qarv_build" ] || share qarvbuild "$qarv_build"; }; then
    exec /bin/bash "$qarv_root/scripts/vm-guest.sh"
fi
echo "qarv-init: the host's folders could not be mounted" >/dev/console
echo o >/proc/sysrq-trigger
INIT
    chmod 755 "$root/sbin/qarv-init"
    printf '%s\n' virtio_pci virtio_blk ext4 >"$root/etc/initramfs-tools/modules"
    chroot "$root" update-initramfs -u -k all >/dev/null
}
if [ "${1:-}" = --customize ]; then
    customize "$2"
    exit
fi

dir="$1"
root="$dir/root"
mkdir -p "$dir"

codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' |
    awk -v release="$codename" '$2 == release { print $1; exit }')
if [ -z "$mirror" ]; then
    echo "no mirror for $codename in this machine's apt sources (run apt-get update)" >&2
    exit 1
fi
echo "== the emulated PC: Debian $codename from $mirror"

packages=kmod,udev,procps,linux-image-amd64,initramfs-tools,cmake
packages+=,wine,wine64,wine64-preloader,wine32:i386,wine32-preloader:i386,xvfb,xauth
packages+=,python3,x11-utils,cabextract

rm -rf "$root"
mmdebstrap --mode=root --variant=minbase --architectures=amd64,i386 --include="$packages" \
    --aptopt='APT::Install-Recommends "false"' --dpkgopt='path-exclude=/usr/share/doc/*' \
    --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/locale/*' \
    --customize-hook="bash '$(realpath "$0")' --customize \"\$1\"" \
    "$codename" "$root" "deb [arch=amd64,i386] $mirror $codename main"

kernel=$(ls "$root"/boot/vmlinuz-* | tail -n1)
cp "$kernel" "$dir/vmlinuz"
cp "$root/boot/initrd.img-${kernel##*/vmlinuz-}" "$dir/initrd.img"
# No loop mount: the disk is made from the folder. Sparse; the runs write to a throwaway overlay.
mke2fs -q -t ext4 -L qarvroot -d "$root" "$dir/root.img" 6G
rm -rf "$root"

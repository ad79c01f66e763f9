#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the emulated i386 guest of tools/windows/guest.sh once, from Debian
# 12's i386 packages (debootstrap, then Wine with its 32-bit half, Xvfb and
# xdotool), into ~/.cache/orvex, keyed by this script and the guest's first
# process (guest-init.sh), and prints that folder on the last line. It holds
# the guest's kernel, its initrd and a raw ext4 disk. 1 to 2.5 minutes where
# the kernel runs 32-bit programs, about 15 where they run through qemu-user;
# 2.5 GB while it is made, 1.5 GB kept.
#
# Usage: tools/windows/guest-image.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/orvex

# What the checks run in the guest need; kmod and iproute2 for the guest's
# own start (tools/windows/guest-init.sh).
packages=(linux-image-686 initramfs-tools kmod iproute2 procps
    wine wine32 xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core python3)

key=$(cat "$0" "$here/guest-init.sh" | sha256sum | cut -c1-16)
image=$cache/guest-i386-bookworm-$key

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

# Runs i386 programs for the chroot: natively where the kernel can, else
# through qemu-user, which needs a binfmt_misc entry of its own (Debian's
# qemu-user-static does not register i386 on an amd64 host). The entry is
# removed again when the script ends.
binfmt_entry=
allow_i386() {
    if "$here/runs-32bit.sh" >/dev/null; then
        return 0
    fi
    local binfmt=/proc/sys/fs/binfmt_misc
    mountpoint -q "$binfmt" || "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
    binfmt_entry=$binfmt/orvex-i386
    # One left by a run that was killed.
    [ ! -e "$binfmt_entry" ] || echo -1 | "${sudo[@]}" tee "$binfmt_entry" >/dev/null
    # The F flag opens the emulator now, so the chroot needs no copy of it.
    printf '%s' ':orvex-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
        "${sudo[@]}" tee "$binfmt/register" >/dev/null
    echo "guest-image.sh: running the guest's i386 programs through qemu-user while its disk is made" >&2
}

make_image() {
    local start=$SECONDS
    mkdir -p "$cache"
    exec 9>"$image.lock"
    flock 9
    [ -f "$image/.orvex-complete" ] && return 0

    work=$(mktemp -d "$cache/work-guest.XXXXXX")
    trap '[ -z "$binfmt_entry" ] || echo -1 | "${sudo[@]}" tee "$binfmt_entry" >/dev/null; "${sudo[@]}" rm -rf "$work"' EXIT
    local root=$work/root

    # shellcheck source=tools/windows/archives.sh
    . "$here/archives.sh"
    local archives mirror
    archives=$(bookworm_archives)
    mirror=$(awk '$2 == "bookworm" { print $1; exit }' <<<"$archives")
    if [ -z "$mirror" ]; then
        echo "guest-image.sh: the machine's apt sources name no archive for bookworm main; using Debian's own" >&2
        mirror=http://deb.debian.org/debian
        archives="$mirror bookworm"$'\n'"http://deb.debian.org/debian-security bookworm-security"
    fi

    echo "guest-image.sh: making the i386 guest from $mirror" >&2
    "${sudo[@]}" debootstrap --arch=i386 --foreign --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
        { tail -n 20 "$work/debootstrap.log" >&2; return 1; }
    allow_i386

    awk '{ print "deb " $1 " " $2 " main" }' <<<"$archives" | "${sudo[@]}" tee "$root/etc/apt/sources.list" >/dev/null
    "${sudo[@]}" cp /etc/resolv.conf "$root/etc/resolv.conf"
    # A proxy the machine's apt is told to use, the guest's apt uses too.
    apt-config dump | grep -i '^Acquire::[a-z]*::Proxy' | sed 's/$/;/' |
        "${sudo[@]}" tee "$root/etc/apt/apt.conf.d/90proxy" >/dev/null || true
    "${sudo[@]}" install -m 755 "$here/guest-init.sh" "$root/sbin/orvex-init"

    # The initrd needs only what mounts the root disk: with every module in
    # it, making it under qemu-user takes a quarter of an hour.
    "${sudo[@]}" unshare --mount --propagation private bash -euo pipefail -c '
        root=$1
        shift
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        chroot "$root" /debootstrap/debootstrap --second-stage
        mkdir -p "$root/etc/initramfs-tools/conf.d"
        printf "MODULES=list\nCOMPRESS=gzip\n" >"$root/etc/initramfs-tools/conf.d/orvex"
        printf "virtio_pci\nvirtio_blk\next4\n" >>"$root/etc/initramfs-tools/modules"
        # No service starts inside the chroot.
        printf "#!/bin/sh\nexit 101\n" >"$root/usr/sbin/policy-rc.d"
        chmod 755 "$root/usr/sbin/policy-rc.d"
        apt() { chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get -q -o Acquire::Retries=5 "$@"; }
        # The i386 indexes are consistent among themselves even when one of
        # them (a mirror in mid-sync) is missing.
        apt update || echo "guest-image.sh: some package indexes could not be downloaded; installing from those at hand"
        apt -y --no-install-recommends install "$@"
        apt clean
        rm -rf "$root"/var/lib/apt/lists/* "$root/etc/resolv.conf" "$root/etc/apt/apt.conf.d/90proxy"
        echo orvex-guest >"$root/etc/hostname"
        : >"$root/etc/fstab"
    ' guest "$root" "${packages[@]}" >"$work/packages.log" 2>&1 ||
        { tail -n 30 "$work/packages.log" >&2; return 1; }

    mkdir -p "$work/image"
    "${sudo[@]}" cp "$root"/boot/vmlinuz-* "$work/image/vmlinuz"
    "${sudo[@]}" cp "$root"/boot/initrd.img-* "$work/image/initrd.img"
    "${sudo[@]}" chmod a+r "$work/image/vmlinuz" "$work/image/initrd.img"
    # Room for the Wine prefixes and what the tests write into them (their
    # temporary files), on a disk that stays sparse.
    local size
    size=$(("$("${sudo[@]}" du -sm "$root" | cut -f1)" + 6144))
    "${sudo[@]}" mke2fs -q -t ext4 -L orvex-guest -d "$root" "$work/image/disk.ext4" "${size}M" >/dev/null
    "${sudo[@]}" rm -rf "$root"
    date -u +%FT%TZ >"$work/image/.orvex-complete"
    rm -rf "$image"
    mv "$work/image" "$image"
    echo "guest-image.sh: guest made in $((SECONDS - start)) s" >&2
}

make_image
echo "$image"

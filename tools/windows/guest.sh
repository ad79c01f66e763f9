#!/usr/bin/env bash
# An emulated 32-bit PC running Debian 12 (i386) with Wine, Xvfb and
# xdotool: where this machine's kernel refuses 32-bit code, the 32-bit
# Windows programs are tested in it (tools/windows/test.sh). QEMU emulates
# the whole PC in software (TCG), so no KVM and no 32-bit support of the
# kernel is needed. The guest has no network card: its loopback is enough
# for the simulator and the viewer.
#
# Usage:
#   tools/windows/guest.sh image
#       Makes the guest's disk, kernel and initrd once, from Debian's i386
#       packages, into ~/.cache/orvex (about 15 minutes, 2.5 GB while it is
#       being made, 1.5 GB kept), and prints that folder on the last line.
#   tools/windows/guest.sh run DIR COMMAND
#       Boots the guest, with DIR shared at the same path, runs the shell
#       COMMAND in DIR as root with its output here, powers off and exits
#       with COMMAND's status. The guest's disk is left as it was.
# Environment: ORVEX_GUEST_TIMEOUT, seconds before a run is stopped
# (default 3600).
#
# The guest's clock runs on while the host keeps the emulator from the CPU:
# on a host busy compiling, time-outs inside the guest fire. Run it when the
# host is otherwise idle.
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
    # The F flag opens the emulator now, so the chroot needs no copy of it.
    printf '%s' ':orvex-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
        "${sudo[@]}" tee "$binfmt/register" >/dev/null
    echo "guest.sh: running the guest's i386 programs through qemu-user while its disk is made" >&2
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
        echo "guest.sh: the machine's apt sources name no archive for bookworm main; using Debian's own" >&2
        mirror=http://deb.debian.org/debian
        archives="$mirror bookworm"$'\n'"http://deb.debian.org/debian-security bookworm-security"
    fi

    echo "guest.sh: making the i386 guest from $mirror (about 15 minutes)" >&2
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
        apt update || echo "guest.sh: some package indexes could not be downloaded; installing from those at hand"
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
    # Room for the checks' Wine prefixes, on a disk that stays sparse.
    local size
    size=$(("$("${sudo[@]}" du -sm "$root" | cut -f1)" + 1024))
    "${sudo[@]}" mke2fs -q -t ext4 -L orvex-guest -d "$root" "$work/image/disk.ext4" "${size}M"
    "${sudo[@]}" rm -rf "$root"
    date -u +%FT%TZ >"$work/image/.orvex-complete"
    rm -rf "$image"
    mv "$work/image" "$image"
    echo "guest.sh: guest made in $((SECONDS - start)) s" >&2
}

run_guest() {
    local dir command
    dir=$(realpath "${1:?usage: guest.sh run DIR COMMAND}")
    command=${2:?usage: guest.sh run DIR COMMAND}
    [ -f "$image/.orvex-complete" ] || make_image
    run=$(mktemp -d "${TMPDIR:-/tmp}/orvex-guest.XXXXXX")
    trap 'rm -rf "$run"' EXIT
    printf '%q\n' "$dir" >"$run/share"
    printf 'cd %q\n%s\n' "$dir" "$command" >"$run/command"

    # SMAP on, TCG faults 32-bit Wine's iret from user mode and every Wine
    # process dies. With AVX2 advertised, Qt's drawing code takes masked
    # loads that TCG faults at a page end where real CPUs do not.
    local cpu=max,-smap,-avx,-avx2,-fma,-f16c
    local status=0
    timeout "${ORVEX_GUEST_TIMEOUT:-3600}" qemu-system-i386 \
        -machine pc -accel tcg,thread=multi -cpu "$cpu" -smp 2 -m 2048 \
        -nodefaults -no-reboot -display none -serial stdio \
        -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
        -append "root=/dev/vda ro console=ttyS0 quiet loglevel=3 init=/sbin/orvex-init" \
        -drive "file=$image/disk.ext4,format=raw,if=virtio,snapshot=on" \
        -fsdev "local,id=run,path=$run,security_model=none" -device virtio-9p-pci,fsdev=run,mount_tag=orvex-run \
        -fsdev "local,id=share,path=$dir,security_model=none" -device virtio-9p-pci,fsdev=share,mount_tag=orvex-share \
        </dev/null | tr -d '\r' || status=$?
    if [ ! -f "$run/status" ]; then
        echo "guest.sh: the guest stopped before the command ended (emulator exit $status)" >&2
        return 1
    fi
    return "$(cat "$run/status")"
}

case "${1:-}" in
image)
    make_image
    echo "$image"
    ;;
run)
    shift
    run_guest "$@"
    ;;
*)
    echo "usage: guest.sh image | guest.sh run DIR COMMAND" >&2
    exit 2
    ;;
esac

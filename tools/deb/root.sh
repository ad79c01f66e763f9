#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes a clean Debian root once (debootstrap --variant=minbase, from the
# archives the machine's own apt sources name) with what the package checks
# drive the programs with: Xvfb, xdotool, ImageMagick, Python, and an
# unprivileged user. It is kept in ~/.cache/orvex, keyed by this script,
# and never written to afterwards: tools/deb/check.sh runs each check in a
# throwaway copy of it. Prints the root's folder on the last line.
#
# arm64 programs run through qemu-user (Debian's qemu-user-static with
# binfmt-support): where /proc/sys/fs/binfmt_misc is not mounted, it is
# mounted and qemu-aarch64 enabled; debootstrap then makes the root directly.
#
# Usage: tools/deb/root.sh ARCH SUITE     e.g. root.sh amd64 bookworm
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arch=${1:?usage: root.sh ARCH SUITE}
suite=${2:?usage: root.sh ARCH SUITE}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/orvex

# The check's own tools; the Orvex packages come fresh each run.
harness=(xvfb xdotool imagemagick python3)
user=viewer

key=$(sha256sum "$0" | cut -c1-16)
root=$cache/debroot-$suite-$arch-$key
if [ -f "$root.complete" ]; then
    echo "$root"
    exit 0
fi

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
tools=(debootstrap debian-archive-keyring util-linux)
native=$(dpkg --print-architecture)
[ "$arch" = "$native" ] || tools+=(qemu-user-static binfmt-support)
"$here/../install-packages.sh" --for deb/root.sh "${tools[@]}"

if [ "$arch" != "$native" ]; then
    binfmt=/proc/sys/fs/binfmt_misc
    mountpoint -q "$binfmt" || "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
    emulator=qemu-$(dpkg-architecture -a "$arch" -q DEB_HOST_GNU_CPU 2>/dev/null)
    "${sudo[@]}" update-binfmts --enable "$emulator" 2>/dev/null || true
    grep -qx enabled "$binfmt/$emulator" 2>/dev/null || {
        echo "deb/root.sh: $arch programs cannot run here: no $binfmt/$emulator entry" >&2
        exit 1
    }
fi

start=$SECONDS
mkdir -p "$cache"
exec 9>"$root.lock"
flock 9
if [ -f "$root.complete" ]; then
    echo "$root"
    exit 0
fi
work=$(mktemp -d "$cache/work-debroot.XXXXXX")
trap '"${sudo[@]}" rm -rf "$work"' EXIT
new=$work/root

# shellcheck source=tools/windows/archives.sh
. "$here/../windows/archives.sh"
archives=$(debian_archives "$suite")
mirror=$(awk -v suite="$suite" '$2 == suite { print $1; exit }' <<<"$archives")
echo "deb/root.sh: making a clean Debian $suite ($arch) root from $mirror" >&2
"${sudo[@]}" debootstrap --arch="$arch" --variant=minbase "$suite" "$new" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    {
        tail -n 20 "$work/debootstrap.log" >&2
        exit 1
    }
awk '{ print "deb " $1 " " $2 " main" }' <<<"$archives" | "${sudo[@]}" tee "$new/etc/apt/sources.list" >/dev/null
# A proxy the machine's apt is told to use, the root's apt uses too.
apt-config dump | grep -i '^Acquire::[a-z]*::Proxy' | sed 's/$/;/' |
    "${sudo[@]}" tee "$new/etc/apt/apt.conf.d/90proxy" >/dev/null || true

# The code runs as given, in a mount namespace of its own.
# shellcheck disable=SC2016
"${sudo[@]}" unshare --mount --propagation private bash -euo pipefail -c '
    root=$1 user=$2
    shift 2
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    # No service starts inside the root.
    printf "#!/bin/sh\nexit 101\n" >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
    apt() { chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get -q -o Acquire::Retries=5 "$@"; }
    apt update || echo "deb/root.sh: some package indexes could not be downloaded; installing from those at hand"
    apt -y --no-install-recommends install "$@"
    apt clean
    chroot "$root" useradd --create-home --shell /bin/bash "$user"
    rm -f "$root/etc/resolv.conf"
' root "$new" "$user" "${harness[@]}" >"$work/packages.log" 2>&1 ||
    {
        tail -n 30 "$work/packages.log" >&2
        exit 1
    }

"${sudo[@]}" rm -rf "$root"
"${sudo[@]}" mv "$new" "$root"
date -u +%FT%TZ >"$root.complete"
# Roots an earlier version of this script made for the same system, half a
# gigabyte each, are of no further use.
for old in "$cache/debroot-$suite-$arch"-*.complete; do
    [ "$old" = "$root.complete" ] && continue
    rm -f "$old"
    "${sudo[@]}" rm -rf "${old%.complete}" "${old%.complete}.lock"
done
echo "deb/root.sh: Debian $suite ($arch) root made in $((SECONDS - start)) s" >&2
echo "$root"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the packages tools/deb.sh left in build-deb/ARCH/ into a throwaway
# copy of a clean Debian SUITE root (tools/deb/root.sh), with
# "apt-get install ./orvex_*.deb", dependencies from the archive, and checks
# them there as a user would meet them (tools/deb/in-root.sh): each program's
# window on a virtual display, orvex showing the packaged simulator's
# picture, Capture saving into the user's pictures folder, nothing written
# under /usr, and apt-get purge leaving the user's pictures.
#
# Everything runs in private mount, PID, IPC and UTS namespaces; once the
# packages are installed, in a network namespace of its own too, where only
# loopback exists. The copy is an overlay on the cached root, gone when the
# check ends; its screenshots and logs are kept in build-deb/ARCH/check-SUITE/.
#
# Usage: tools/deb/check.sh [ARCH [SUITE]]   (default: amd64 bookworm)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here/../.."
arch=${1:-amd64}
suite=${2:-bookworm}
debs=$PWD/build-deb/$arch
out=$debs/check-$suite
cache=${XDG_CACHE_HOME:-$HOME/.cache}/orvex

for package in orvex orvex-camsim; do
    compgen -G "$debs/${package}_*_$arch.deb" >/dev/null || {
        echo "deb/check.sh: no $package package in $debs: run tools/deb.sh $arch first" >&2
        exit 1
    }
done
start=$SECONDS
root=$(tools/deb/root.sh "$arch" "$suite" | tail -n1)
tools/install-packages.sh --for deb/check.sh util-linux iproute2

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
work=$(mktemp -d "$cache/work-debcheck.XXXXXX")
trap '"${sudo[@]}" rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$work/check/debs" "$out"
cp "$debs"/*.deb "$work/check/debs/"
cp tools/deb/in-root.sh tools/deb/as-user.sh tools/hidpi/keyboard.sh tools/hidpi/shotcheck.py "$work/check/"
# Emulated programs start and draw several times slower.
poll=0.2
[ "$arch" = "$(dpkg --print-architecture)" ] || poll=1

echo "deb/check.sh: installing the $arch packages into a clean Debian $suite and checking them"
status=0
# The code runs as given, in the namespaces.
# shellcheck disable=SC2016
"${sudo[@]}" unshare --mount --propagation private --pid --fork --ipc --uts bash -euo pipefail -c '
    root=$1 work=$2 poll=$3
    copy=$work/copy
    mkdir -p "$work/upper" "$work/overlay-work" "$copy"
    mount -t overlay overlay -o "lowerdir=$root,upperdir=$work/upper,workdir=$work/overlay-work" "$copy"
    mount -t proc proc "$copy/proc"
    # A /dev of its own: the devices a program may open, and a private /dev/shm.
    mount -t tmpfs -o mode=755 tmpfs "$copy/dev"
    for node in null zero full random urandom tty; do
        touch "$copy/dev/$node"
        mount --bind "/dev/$node" "$copy/dev/$node"
    done
    mkdir "$copy/dev/shm" "$copy/dev/pts"
    mount -t tmpfs -o mode=1777 tmpfs "$copy/dev/shm"
    ln -s /proc/self/fd "$copy/dev/fd"
    cp -r "$work/check" "$copy/tmp/orvex-check"
    chmod -R a+rX "$copy/tmp/orvex-check"

    # The one step that needs the network: the dependencies from the archive.
    cp /etc/resolv.conf "$copy/etc/resolv.conf"
    apt() { chroot "$copy" env DEBIAN_FRONTEND=noninteractive apt-get -q -o Acquire::Retries=5 "$@"; }
    apt update >"$copy/tmp/orvex-check/install.log" 2>&1 ||
        echo "deb/check.sh: some package indexes could not be downloaded; installing from those at hand"
    chroot "$copy" bash -c "cd /tmp/orvex-check/debs &&
        DEBIAN_FRONTEND=noninteractive apt-get -q -o Acquire::Retries=5 -y --no-install-recommends \
            install ./orvex_*.deb ./orvex-camsim_*.deb" >>"$copy/tmp/orvex-check/install.log" 2>&1 || {
        tail -n 20 "$copy/tmp/orvex-check/install.log"
        echo "deb/check.sh: FAIL: apt-get install of the packages failed"
        exit 1
    }
    echo "deb/check.sh: installed: $(chroot "$copy" dpkg-query -W -f="\${Package} \${Version}; " orvex orvex-camsim)"
    rm "$copy/etc/resolv.conf"

    status=0
    unshare --net bash -c "ip link set lo up && exec chroot \"\$1\" /bin/bash /tmp/orvex-check/in-root.sh \"\$2\"" \
        in-root "$copy" "$poll" || status=$?
    # What the check saw, for a look afterwards.
    cp -r "$copy/tmp/orvex-check/out" "$work/seen" 2>/dev/null || true
    cp "$copy/tmp/orvex-check/install.log" "$work/seen/" 2>/dev/null || true
    exit $status
' check "$root" "$work" "$poll" || status=$?
cp -r "$work/seen/." "$out/" 2>/dev/null || true
if [ $status -eq 0 ]; then
    echo "deb/check.sh: $arch packages in Debian $suite: passed in $((SECONDS - start)) s (screenshots and logs in $out)"
else
    echo "deb/check.sh: $arch packages in Debian $suite: FAILED (screenshots and logs in $out)"
fi
exit $status

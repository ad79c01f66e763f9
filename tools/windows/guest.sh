#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# An emulated 32-bit PC running Debian 12 (i386) with Wine, Xvfb and
# xdotool: where this machine's kernel refuses 32-bit code, the 32-bit
# Windows programs are tested in it (tools/windows/test.sh). QEMU emulates
# the whole PC in software (TCG), so no KVM and no 32-bit support of the
# kernel is needed. The guest has no network card: its loopback is enough
# for the simulator and the viewer.
#
# Usage: tools/windows/guest.sh run DIR COMMAND
#   Boots the guest (made the first time by guest-image.sh), with DIR shared
#   at the same path, runs the shell COMMAND in DIR as root with its output
#   here, powers off and exits with COMMAND's status. The guest's disk is
#   left as it was.
# Environment: ORVEX_GUEST_TIMEOUT, seconds before a run is stopped
# (default 3600).
#
# The guest's clock runs on while the host keeps the emulator from the CPU:
# on a host busy compiling, time-outs inside the guest fire. Run it when the
# host is otherwise idle.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

run_guest() {
    local dir command
    dir=$(realpath "${1:?usage: guest.sh run DIR COMMAND}")
    command=${2:?usage: guest.sh run DIR COMMAND}
    local image
    image=$("$here/guest-image.sh" | tail -n1)
    run=$(mktemp -d "${TMPDIR:-/tmp}/orvex-guest.XXXXXX")
    trap 'rm -rf "$run"' EXIT
    printf '%s\n' "$dir" >"$run/share"
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
        </dev/null | sed -u 's/\r$//' || status=$?
    if [ ! -f "$run/status" ]; then
        echo "guest.sh: the guest stopped before the command ended (emulator exit $status)" >&2
        return 1
    fi
    return "$(cat "$run/status")"
}

[ "${1:-}" = run ] || {
    echo "usage: guest.sh run DIR COMMAND" >&2
    exit 2
}
shift
run_guest "$@"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Exits 0 when this machine's kernel runs 32-bit x86 programs itself, and 1
# with the reason on stdout when it does not. It runs a 96-byte i386 program
# that exits with 42: a kernel without 32-bit support refuses it with "Exec
# format error". Wine's 32-bit half is worth installing only where this
# passes.
#
# Usage: tools/windows/runs-32bit.sh
set -uo pipefail

# A program run through an emulator registered for i386 programs (qemu-user,
# as the guest's build does for a while) does not count: Wine's 32-bit half
# does not work that way.
for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] || continue
    if grep -qx enabled "$entry" 2>/dev/null && grep -q '^magic 7f454c46010101' "$entry" 2>/dev/null &&
        grep -q '0300$' <(grep '^magic' "$entry"); then
        echo "32-bit programs here run only through an emulator ($entry)"
        exit 1
    fi
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/orvex-i386.XXXXXX")
trap 'rm -rf "$dir"' EXIT
# ELF header, one loadable segment at 0x08048000, then
# mov ebx, 42; mov eax, 1 (exit); int 0x80.
printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80' >"$dir/probe"
chmod +x "$dir/probe"
output=$("$dir/probe" 2>&1)
status=$?
[ $status -eq 42 ] && exit 0
if [ $status -eq 126 ] || grep -qi 'exec format' <<<"$output"; then
    echo "the kernel refuses 32-bit programs (Exec format error)"
else
    echo "a 32-bit test program did not run (exit $status${output:+: $output})"
fi
exit 1

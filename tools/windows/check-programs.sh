#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks the Windows programs of a build, and its setup program where there
# is one: each is a PE file of the expected kind (GUI or console, 32 or 64
# bits) and imports no DLL beyond those every Windows installation has.
# Usage: tools/windows/check-programs.sh BUILD_DIR i686|x86_64
set -euo pipefail
build=${1:?usage: check-programs.sh BUILD_DIR i686|x86_64}
case "${2:-}" in
i686) bits_pattern="PE32 executable" ;;
x86_64) bits_pattern="PE32+ executable" ;;
*)
    echo "check-programs.sh: unknown architecture '${2:-}'" >&2
    exit 2
    ;;
esac
triple=$2-w64-mingw32

# Every DLL a program may import: Windows' own, present on every installation.
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|ws2_32|winmm|imm32|version|netapi32|userenv|uxtheme|dwmapi|wtsapi32|iphlpapi|mpr|msvcrt|shlwapi|winspool\.drv|crypt32|secur32|dnsapi|setupapi|rpcrt4|bcrypt|ntdll|comctl32)\.dll$'

failed=0
programs=("$build"/orvex.exe "$build"/orvex-crosshair.exe "$build"/orvex-plain.exe "$build"/tools/camsim/orvex-camsim.exe)
for setup in "$build"/orvex-*-setup.exe; do
    [ -e "$setup" ] && programs+=("$setup")
done
for exe in "${programs[@]}"; do
    kind="(GUI)"
    [ "$(basename "$exe")" = orvex-camsim.exe ] && kind="(console)"
    description=$(file -b "$exe")
    if [[ "$description" != "$bits_pattern $kind"* ]]; then
        echo "$exe: expected '$bits_pattern $kind', file says: $description" >&2
        failed=1
    fi
    # A failing objdump lists no DLLs; that must not pass for a clean result.
    if ! imports=$("$triple-objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p'); then
        echo "$exe: $triple-objdump cannot list the DLLs it needs" >&2
        failed=1
        continue
    fi
    for dll in $imports; do
        if ! grep -Eq "$system_dlls" <<<"${dll,,}"; then
            echo "$exe: needs $dll, which Windows does not have" >&2
            failed=1
        fi
    done
done
exit $failed

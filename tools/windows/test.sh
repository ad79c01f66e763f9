#!/usr/bin/env bash
# Runs the Windows build of the tests under Wine on a virtual display, then
# the end-to-end check (tools/windows/e2e.sh) and the window at display
# scales of 150 % and 200 % (tools/windows/hidpi.sh), and fails if anything
# fails.
#
# The programs we ship are 32-bit. Where this machine can run 32-bit Windows
# programs, the 32-bit build is tested; where it cannot (a kernel without
# 32-bit support), the same sources built for 64-bit Windows are, and a line
# says so.
#
# Usage: tools/windows/test.sh [i686|x86_64]   (default: chosen as above)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

# True when a 32-bit Windows program runs here under Wine.
can_run_32bit() {
    mkdir -p build-win32/probe
    local probe=build-win32/probe/probe.exe
    printf 'int main(void) { return 0; }\n' >build-win32/probe/probe.c
    i686-w64-mingw32-gcc -static -o "$probe" build-win32/probe/probe.c || return 1
    WINEPREFIX="$root/build-win32/probe/wineprefix" WINEDEBUG=-all \
        timeout 120 wine "$probe" >/dev/null 2>&1
}

# The probe needs the cross compiler and Wine: without them a fresh machine
# would pass for one that cannot run 32-bit programs.
[ "${ORVEX_WINDOWS_NO_DEPS:-0}" = 1 ] || tools/windows/deps.sh

arch=${1:-}
if [ -z "$arch" ]; then
    if can_run_32bit; then
        arch=i686
    else
        arch=x86_64
        reason="Wine could not start a 32-bit test program"
        # Wine's 32-bit loader is itself an i386 program.
        if (/usr/lib/wine/wine --version 2>&1 || true) | grep -q "Exec format error"; then
            reason="the kernel refuses 32-bit executables (Exec format error), so Wine's 32-bit loader cannot start"
        fi
        echo "NOTE: the 32-bit Windows programs cannot run on this machine: $reason."
        echo "NOTE: testing the same sources built for 64-bit Windows instead (build-win64)."
    fi
fi
case "$arch" in
i686) build=build-win32 wine=wine ;;
x86_64) build=build-win64 wine=/usr/lib/wine/wine64 ;;
*)
    echo "test.sh: unknown architecture '$arch'" >&2
    exit 2
    ;;
esac

if [ "${ORVEX_WINE_ON_DISPLAY:-}" != 1 ]; then
    ORVEX_WINDOWS_NO_DEPS=1 tools/windows/build.sh "$arch"
    # What the programs decode with: Debian's libraries, not Qt's bundled copies.
    tools/windows/check-libraries.sh "$build"
fi

export WINEPREFIX=$root/$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine does not hand QT_* variables from Linux to the program: they go into
# the prefix's registry instead.
"$wine" reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f >/dev/null
"$wine" reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /d 'Z:\usr\share\fonts\truetype\dejavu' /f >/dev/null

run_tests() {
    local failed=() total=0
    for exe in "$build"/tests/tst_*/tst_*.exe; do
        local name dir
        name=$(basename "$exe" .exe)
        dir=$(dirname "$exe")
        total=$((total + 1))
        rm -f "$dir/$name.txt"
        local rc=0
        # Standard output may come back empty under Wine: the results go to a file.
        (cd "$dir" && timeout 300 "$wine" "$name.exe" -o "$name.txt,txt" >/dev/null 2>&1) || rc=$?
        local totals
        totals=$(grep -a '^Totals:' "$dir/$name.txt" 2>/dev/null || true)
        if [ $rc -ne 0 ] || [ -z "$totals" ]; then
            echo "FAIL $name (exit $rc) ${totals:-no results}"
            grep -aE '^(FAIL|XPASS)|Loc:' "$dir/$name.txt" 2>/dev/null | head -20 || true
            failed+=("$name")
        else
            echo "ok   $name: ${totals#Totals: }"
            grep -a '^SKIP' "$dir/$name.txt" | sed 's/^/     /' || true
        fi
    done
    if [ $total -eq 0 ]; then
        echo "No Windows test programs in $build/tests" >&2
        return 1
    fi
    if [ ${#failed[@]} -ne 0 ]; then
        echo "${#failed[@]} of $total Windows test programs failed: ${failed[*]}"
        return 1
    fi
    echo "All $total Windows test programs passed under Wine ($arch)"
}

# On the virtual display: this script again, which then runs the tests.
if [ "${ORVEX_WINE_ON_DISPLAY:-}" = 1 ]; then
    status=0
    run_tests || status=1
    tools/windows/e2e.sh "$build" "$wine" || status=1
    tools/windows/hidpi.sh "$build" "$wine" || status=1
    exit $status
fi
start=$SECONDS
ORVEX_WINE_ON_DISPLAY=1 ORVEX_WINDOWS_NO_DEPS=1 xvfb-run -a -s "-screen 0 1600x1200x24" "$0" "$arch"
wineserver -k 2>/dev/null || true
echo "== Windows tests took $((SECONDS - start)) s"

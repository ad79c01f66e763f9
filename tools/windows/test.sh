#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the Windows build of the tests under Wine on a virtual display, then
# the end-to-end check (tools/windows/e2e.sh), the window at display scales
# of 150 % and 200 % (tools/windows/hidpi.sh) and the setup program installed,
# used and removed again (tools/windows/setup-check.sh), and fails if
# anything fails. Ends with one line for each build tested.
#
# The programs we ship are 32-bit. Where this machine cannot run them (a
# kernel without 32-bit support, or no Wine 32-bit half to be had), they are
# tested in an emulated 32-bit Debian (tools/windows/guest.sh), which is made
# once, the first time. The 64-bit build runs here when asked for.
#
# Usage: tools/windows/test.sh [i686|x86_64]...   (default: i686)
# Environment: ORVEX_WINE_PREFIXES, the folder for the Wine prefixes
# (default: the build's folder); ORVEX_WINDOWS_GUEST=1 tests the 32-bit
# programs in the guest even where they run here, as on a machine that
# cannot run them.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

# True when a 32-bit Windows program runs here under Wine. The probe's exit
# status must come back: Wine without its 32-bit half starts nothing and
# exits with 0.
can_run_32bit() {
    mkdir -p build-win32/probe
    local probe=build-win32/probe/probe.exe status=0
    printf 'int main(void) { return 42; }\n' >build-win32/probe/probe.c
    i686-w64-mingw32-gcc -static -o "$probe" build-win32/probe/probe.c || return 1
    WINEPREFIX="$root/build-win32/probe/wineprefix" WINEDEBUG=-all \
        timeout 120 wine "$probe" >/dev/null 2>&1 || status=$?
    [ $status -eq 42 ]
}

build_dir() {
    case "$1" in
    i686) echo build-win32 ;;
    x86_64) echo build-win64 ;;
    *)
        echo "test.sh: unknown architecture '$1'" >&2
        return 2
        ;;
    esac
}

# Each test program under Wine; adds to passed and failed.
run_tests() {
    local failing=() total=0 exe
    for exe in "$build"/tests/tst_*/tst_*.exe; do
        [ -e "$exe" ] || continue
        local name dir
        name=$(basename "$exe" .exe)
        dir=$(dirname "$exe")
        total=$((total + 1))
        rm -f "$dir/$name.txt"
        local rc=0
        # Standard output may come back empty under Wine: the results go to a file.
        (cd "$dir" && timeout 600 "$wine" "$name.exe" -o "$name.txt,txt" >/dev/null 2>&1) || rc=$?
        local totals
        totals=$(grep -a '^Totals:' "$dir/$name.txt" 2>/dev/null || true)
        if [ $rc -ne 0 ] || [ -z "$totals" ]; then
            echo "FAIL $name (exit $rc) ${totals:-no results}"
            grep -aE '^(FAIL|XPASS)|Loc:' "$dir/$name.txt" 2>/dev/null | head -20 || true
            failing+=("$name")
        else
            echo "ok   $name: ${totals#Totals: }"
            grep -a '^SKIP' "$dir/$name.txt" | sed 's/^/     /' || true
        fi
    done
    passed=$((passed + total - ${#failing[@]}))
    failed=$((failed + ${#failing[@]}))
    if [ $total -eq 0 ]; then
        echo "No Windows test programs in $build/tests" >&2
        failed=$((failed + 1))
    elif [ ${#failing[@]} -ne 0 ]; then
        echo "${#failing[@]} of $total Windows test programs failed: ${failing[*]}"
    else
        echo "All $total Windows test programs passed under Wine ($arch)"
    fi
}

# On the virtual display (here or in the guest): this script again, which
# then runs the tests of one build and leaves its counts in the build.
if [ "${ORVEX_WINE_ON_DISPLAY:-}" = 1 ]; then
    arch=$1
    build=$(build_dir "$arch")
    wine=wine
    [ "$arch" = x86_64 ] && wine=/usr/lib/wine/wine64
    prefixes=${ORVEX_WINE_PREFIXES:-$root/$build}
    mkdir -p "$prefixes"
    export WINEPREFIX=$prefixes/wineprefix
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # Wine does not hand QT_* variables from Linux to the program: they go
    # into the prefix's registry instead.
    "$wine" reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f >/dev/null
    "$wine" reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /d 'Z:\usr\share\fonts\truetype\dejavu' /f >/dev/null
    passed=0 failed=0
    run_tests
    for check in e2e hidpi setup-check; do
        if tools/windows/$check.sh "$build" "$wine"; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
        fi
    done
    echo "$passed $failed" >"$build/test-counts"
    [ $failed -eq 0 ]
    exit
fi

# The probe needs the cross compiler and Wine: without them a fresh machine
# would pass for one that cannot run 32-bit programs.
[ "${ORVEX_WINDOWS_NO_DEPS:-0}" = 1 ] || tools/windows/deps.sh

summary=() status=0
for arch in "${@:-i686}"; do
    build=$(build_dir "$arch")
    where="on this machine"
    if [ "$arch" = i686 ] && [ "${ORVEX_WINDOWS_GUEST:-0}" = 1 ]; then
        where="in an emulated i386 guest"
        echo "NOTE: ORVEX_WINDOWS_GUEST=1: testing the 32-bit programs in an emulated i386 guest."
    elif [ "$arch" = i686 ] && ! can_run_32bit; then
        where="in an emulated i386 guest"
        echo "NOTE: Wine cannot run 32-bit programs on this machine: testing them in an emulated i386 guest."
    fi
    ORVEX_WINDOWS_NO_DEPS=1 tools/windows/build.sh "$arch"
    # What the programs decode with: Debian's libraries, not Qt's bundled copies.
    tools/windows/check-libraries.sh "$build"
    tools/windows/check-libraries.sh "$build/setup"
    # Each program in the zip carries the manifest that keeps Windows from
    # redirecting its writes; the test programs carry none, and the check
    # must see that. The setup program carries one too, DPI aware (its
    # uninstaller's is checked once installed, by setup-check.sh).
    tools/windows/check-manifest.py "$build"/orvex-*.zip "$build/setup-files/Orvex"/*.exe
    tools/windows/check-manifest.py --setup "$build"/orvex-*-setup.exe
    if tools/windows/check-manifest.py "$build/tests/tst_view/tst_view.exe" 2>/dev/null; then
        echo "test.sh: check-manifest.py passes a program without a manifest" >&2
        exit 1
    fi

    start=$SECONDS
    rm -f "$build/test-counts"
    display=(xvfb-run -a -s "-screen 0 1600x1200x24")
    inner=(env ORVEX_WINE_ON_DISPLAY=1 "${display[@]}" tools/windows/test.sh "$arch")
    if [ "$where" = "on this machine" ]; then
        "${inner[@]}" || true
        wineserver -k 2>/dev/null || true
    else
        # The prefixes on the guest's own disk, not on the shared folder.
        tools/windows/guest.sh run "$root" "ORVEX_WINE_PREFIXES=/root/wine $(printf '%q ' "${inner[@]}")" || true
    fi
    bits=32
    [ "$arch" = x86_64 ] && bits=64
    if read -r passed failed <"$build/test-counts" 2>/dev/null; then
        summary+=("Windows tests, $bits-bit programs, $where: $passed passed, $failed failed")
        [ "$failed" -eq 0 ] || status=1
    else
        summary+=("Windows tests, $bits-bit programs, $where: did not finish")
        status=1
    fi
    echo "== Windows tests of the $bits-bit programs took $((SECONDS - start)) s"
done
printf '%s\n' "${summary[@]}"
exit $status

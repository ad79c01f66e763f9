#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows viewer under Wine at the display scales Windows sets through
# LogPixels (96, 144 and 192 dpi: 100 %, 150 % and 200 %), written into the
# prefix's registry where winecfg writes it; judged as on Linux
# (tools/hidpi/shotcheck.py): the window's size, every text of the form
# whole, and the picture from the simulator (under Wine too) where the scale
# puts it. The address and port are typed in and Enter pressed. Run on an X
# display (tools/windows/test.sh runs it inside xvfb-run).
#
# Usage: tools/windows/hidpi.sh BUILD_DIR WINE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tools/hidpi/keyboard.sh
. "$here/../hidpi/keyboard.sh"
build=$(realpath "$1")
wine=$2
: "${DISPLAY:?hidpi.sh needs an X display}"

work=$build/hidpi
rm -rf "$work"
mkdir -p "$work/program" "$work/replay"
export WINEPREFIX=${ORVEX_WINE_PREFIXES:-$build}/wineprefix-hidpi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The program purges the .jpg files beside it: it runs from a folder of its own.
cp "$build/orvex.exe" "$work/program/"

# shellcheck source=tools/windows/wineprocs.sh
. "$here/wineprocs.sh"
fail() {
    echo "hidpi (Wine) FAIL: $*"
    exit 1
}

convert -size 640x480 xc:'#c02080' -quality 95 "$work/replay/frame.jpg"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$wine" "$build/tools/camsim/orvex-camsim.exe" --listen 127.0.0.1 --port "$port" \
    --replay "Z:$work/replay" --fps 10 --status-every 0 >"$work/camsim.log" 2>&1 &
pids+=($!)
wait_port "$port" 120 || fail "the simulator does not listen"

for dpi in 96 144 192; do
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
    "$wine" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
    (cd "$work/program" && exec "$wine" orvex.exe >"$work/orvex-$dpi.log" 2>&1) &
    orvex=$!
    pids+=("$orvex")
    window=$(wait_window 180) || fail "$dpi dpi: no Orvex window"
    size=$(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')

    # Into the address field.
    xdotool mousemove --window "$window" $((155 * dpi / 96)) $((513 * dpi / 96)) click 1
    shot=$work/orvex-$dpi.png
    connect_and_shoot "$window" "$port" "$shot" 20 0.3 ||
        fail "$dpi dpi: Enter did not bring up the camera's picture"
    kill "$orvex" 2>/dev/null || true
    wait "$orvex" 2>/dev/null || true
    deadline=$((SECONDS + 60))
    while [ $SECONDS -lt $deadline ] && xdotool search --onlyvisible --name '^Orvex$' >/dev/null; do
        sleep 0.2
    done

    # Wine's fonts are hinted further from a straight scaling than Linux's:
    # text widths are held to 12 % rather than 6 %.
    python3 "$here/../hidpi/shotcheck.py" window "$shot" "$dpi" "$size" "$work/reference.txt" 0.12 ||
        fail "$dpi dpi: see above and $shot"
done
echo "hidpi (Wine): ok at 96, 144 and 192 dpi (screenshots in $work)"

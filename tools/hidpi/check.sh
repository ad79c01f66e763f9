#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Starts the real orvex on a virtual X display at the display scales desktops
# set through Xft.dpi (96, 120, 144, 192 and 240 dpi: 100 % to 250 %), on the
# camera simulator, and checks each window from outside: its size, that every
# text of the form is whole, and that the picture sits where the scale puts it.
# The address and port are typed in and Enter pressed: the keyboard path.
# Needs no X display of its own; screenshots stay in OUT_DIR.
#
# Usage: tools/hidpi/check.sh [BUILD_DIR [OUT_DIR]]   (default: build, BUILD_DIR/hidpi)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tools/hidpi/keyboard.sh
. "$here/keyboard.sh"
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-$build/hidpi}")
dpis=(96 120 144 192 240)

# 77: skipped, for CTest, where a tool is missing (tools/deps.sh test installs them all).
for tool in Xvfb xrdb xdotool xwininfo import convert python3; do
    command -v "$tool" >/dev/null || {
        echo "check.sh: skipped, $tool is missing (tools/deps.sh test installs it)" >&2
        exit 77
    }
done

rm -rf "$out"
mkdir -p "$out/program" "$out/replay"
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT
fail() {
    echo "hidpi FAIL: $*"
    exit 1
}

# Room for the window at 250 %: 1625x1350. No window manager, so the window
# is exactly its client area. -noreset keeps the resources between programs.
Xvfb -displayfd 5 -screen 0 2400x1600x24 -nolisten tcp -noreset \
    5>"$out/display" >"$out/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$out/display" ] && break
    sleep 0.1
done
[ -s "$out/display" ] || fail "Xvfb did not start: $(cat "$out/xvfb.log")"
DISPLAY=:$(head -n1 "$out/display")
export DISPLAY

# One colour fills the camera's picture, so its extent on screen shows
# exactly; the overlay is green and red and cannot be taken for it.
convert -size 640x480 xc:'#c02080' -quality 95 "$out/replay/frame.jpg"
# Made here: the background job may not have opened it yet when it is first read.
: >"$out/camsim.log"
"$build/tools/camsim/orvex-camsim" --listen 127.0.0.1 --port 0 --replay "$out/replay" \
    --fps 10 --status-every 0 >"$out/camsim.log" 2>&1 &
pids+=($!)
port=
for _ in $(seq 100); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out/camsim.log")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || fail "the camera simulator did not start: $(cat "$out/camsim.log")"

# The program purges the .jpg files beside it: it runs from a folder of its own.
cp "$build/orvex" "$out/program/"

for dpi in "${dpis[@]}"; do
    echo "Xft.dpi: $dpi" | xrdb -nocpp -load -
    # Whatever scaling the caller's environment asks for would hide the desktop's.
    env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_AUTO_SCREEN_SCALE_FACTOR \
        -u QT_ENABLE_HIGHDPI_SCALING -u QT_FONT_DPI -u QT_DEVICE_PIXEL_RATIO \
        QT_QPA_PLATFORM=xcb "$out/program/orvex" >"$out/orvex-$dpi.log" 2>&1 &
    orvex=$!
    pids+=("$orvex")
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Orvex$' | head -n1) ||
        fail "$dpi dpi: no Orvex window"
    size=$(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')

    # Focus starts in the address field.
    xdotool windowfocus --sync "$window"
    shot=$out/orvex-$dpi.png
    connect_and_shoot "$window" "$port" "$shot" 10 0.2 ||
        fail "$dpi dpi: Enter did not bring up the camera's picture"
    kill "$orvex"
    wait "$orvex" 2>/dev/null || true

    python3 "$here/shotcheck.py" window "$shot" "$dpi" "$size" "$out/reference.txt" ||
        fail "$dpi dpi: see above and $shot"
done
echo "hidpi: ok at ${dpis[*]} dpi (screenshots in $out)"

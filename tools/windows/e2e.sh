#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# End-to-end check of the Windows viewer under Wine, run on an X display
# (tools/windows/test.sh runs it inside xvfb-run):
# orvex.exe in a folder with a non-ASCII name, holding an old snapshot and a
# photo of the user's; the simulator (also under Wine) replays one fixed JPEG
# on 127.0.0.1. Checks: the old snapshot is purged at start and the photo
# kept, the live picture shows, and Capture saves the very bytes sent.
#
# Usage: tools/windows/e2e.sh BUILD_DIR WINE
set -euo pipefail
build=$(realpath "$1")
wine=$2
: "${DISPLAY:?e2e.sh needs an X display}"

work=$build/e2e
rm -rf "$work"
folder=$work/Kamera-ß-日本
mkdir -p "$folder" "$work/replay"
export WINEPREFIX=${ORVEX_WINE_PREFIXES:-$build}/wineprefix-e2e
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# shellcheck source=tools/windows/wineprocs.sh
. "$(dirname "$0")/wineprocs.sh"

fail() {
    echo "e2e FAIL: $*"
    exit 1
}

# Four quadrants of their own colour, away from the crosshair, the circle and
# the frame-rate text, so each tells whether the picture is there.
frame=$work/replay/frame.jpg
convert -size 320x240 xc:'#d02020' xc:'#20c020' +append \
    \( -size 320x240 xc:'#2040d0' xc:'#e0d020' +append \) -append -quality 90 "$frame"
declare -A expected=([100,60]="208 32 32" [540,60]="32 192 32" [100,420]="32 64 208" [540,420]="224 208 32")

cp "$build/orvex.exe" "$folder/"
printf 'old snapshot' >"$folder/3.jpg"
printf 'holiday photo' >"$folder/holiday.jpg"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$wine" "$build/tools/camsim/orvex-camsim.exe" --listen 127.0.0.1 --port "$port" \
    --replay "Z:$work/replay" --fps 20 \
    --status-every 0 >"$work/camsim.log" 2>&1 &
pids+=($!)
wait_port "$port" 120 || fail "the simulator does not listen"

(cd "$folder" && exec "$wine" orvex.exe >"$work/orvex.log" 2>&1) &
pids+=($!)
window=$(wait_window 180) || fail "no Orvex window"
echo "e2e: window $window"

[ ! -e "$folder/3.jpg" ] || fail "3.jpg was not removed at start"
[ "$(cat "$folder/holiday.jpg")" = "holiday photo" ] || fail "holiday.jpg was touched"

# Fields and buttons at their places in the form.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
fill() {
    click "$1" "$2"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 20 "$3"
}
xdotool windowfocus --sync "$window" 2>/dev/null || true
fill 155 513 127.0.0.1
fill 355 513 "$port"
click 470 513

pixel() {
    convert "$work/shot.png" -format "%[fx:int(255*p{$1}.r)] %[fx:int(255*p{$1}.g)] %[fx:int(255*p{$1}.b)]" info:
}
close_to() {
    local a b
    read -ra a <<<"$1"
    read -ra b <<<"$2"
    for i in 0 1 2; do
        local d=$((a[i] - b[i]))
        [ ${d#-} -le 40 ] || return 1
    done
}
shown=0 deadline=$((SECONDS + 120))
while [ $SECONDS -lt $deadline ]; do
    sleep 0.5
    import -window "$window" "$work/shot.png" 2>/dev/null || continue
    shown=1
    for point in "${!expected[@]}"; do
        close_to "$(pixel "$point")" "${expected[$point]}" || shown=0
    done
    [ $shown -eq 1 ] && break
done
if [ $shown -ne 1 ]; then
    for point in "${!expected[@]}"; do echo "  at $point: $(pixel "$point"), expected ${expected[$point]}"; done
    fail "the live picture does not show"
fi
echo "e2e: the live picture shows"

click 580 513
deadline=$((SECONDS + 60))
while [ $SECONDS -lt $deadline ]; do
    [ -s "$folder/0.jpg" ] && break
    sleep 0.2
done
sleep 0.5
[ -e "$folder/0.jpg" ] || fail "Capture saved no 0.jpg"
cmp "$frame" "$folder/0.jpg" || fail "0.jpg differs from the frame the simulator sent"
[ "$(cat "$folder/holiday.jpg")" = "holiday photo" ] || fail "holiday.jpg was touched"
echo "e2e: ok (old snapshot purged, photo kept, picture shown, 0.jpg identical to the frame sent)"

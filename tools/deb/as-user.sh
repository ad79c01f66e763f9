#!/bin/bash
# SPDX-License-Identifier: MIT
# Run by tools/deb/in-root.sh as an unprivileged user in the clean root: the
# installed programs on a virtual X display, against the installed simulator
# on 127.0.0.1 replaying one picture. Each program's window opens and shows
# the picture, reached by keyboard as a user would; in orvex, Capture saves
# the very bytes sent into the user's pictures folder, Orvex inside it.
#
# Usage: as-user.sh POLL_SECONDS OUT_DIR
set -euo pipefail
poll=$1
out=$2
here=$(dirname "$0")
# shellcheck source=tools/hidpi/keyboard.sh
. "$here/keyboard.sh"

pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT
fail() {
    echo "as-user.sh: FAIL: $*"
    exit 1
}
# until SECONDS COMMAND...: until the command succeeds, at most that long.
until_true() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt "$deadline" ] || return 1
        sleep "$poll"
    done
}

# At 96 dpi the window has its 100 % size. -noreset: without it the server
# resets when one program's last connection closes, and refuses the next
# program's for that while.
Xvfb -displayfd 5 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -noreset 5>"$out/display" >"$out/xvfb.log" 2>&1 &
pids+=($!)
until_true 60 test -s "$out/display" || fail "Xvfb did not start: $(cat "$out/xvfb.log")"
DISPLAY=:$(head -n1 "$out/display")
export DISPLAY

# One colour fills the picture (shotcheck.py's), so that it is told apart
# from the overlay and the empty view.
mkdir -p "$out/replay"
convert -size 640x480 xc:'#c02080' -quality 95 "$out/replay/frame.jpg"
cp "$out/replay/frame.jpg" "$out/frame.jpg"
orvex-camsim --listen 127.0.0.1 --port 0 --replay "$out/replay" --fps 10 --status-every 0 \
    >"$out/camsim.log" 2>&1 &
pids+=($!)
camsim_port() { port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out/camsim.log") && [ -n "$port" ]; }
until_true 60 camsim_port || fail "orvex-camsim did not start: $(cat "$out/camsim.log")"

pictures=$HOME/Pictures/Orvex
for program in orvex orvex-crosshair orvex-plain; do
    "$program" >"$out/$program.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    window=$(timeout 120 xdotool search --sync --onlyvisible --name '^Orvex$' | head -n1) ||
        fail "$program opened no window: $(cat "$out/$program.log")"
    xdotool windowfocus --sync "$window"
    connect_and_shoot "$window" "$port" "$out/$program.png" 20 "$poll" ||
        fail "$program does not show the simulator's picture (see $program.png)"
    echo "as-user.sh: $program: window open, the simulator's picture shown"

    if [ "$program" = orvex ]; then
        # Focus is on Start now: Capture is next.
        xdotool key Tab space
        until_true 60 test -s "$pictures/0.jpg" || fail "Capture saved no $pictures/0.jpg: $(cat "$out/$program.log")"
        sleep 1
        cmp "$pictures/0.jpg" "$out/frame.jpg" || fail "0.jpg differs from the picture sent"
        ! grep -q 'Capture failed!' "$out/$program.log" || fail "orvex logged: Capture failed!"
        echo "as-user.sh: orvex: Capture saved $pictures/0.jpg, the very picture sent"
    fi
    kill "$pid"
    wait "$pid" 2>/dev/null || true
done

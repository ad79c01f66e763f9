#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Orvex, starts the bundled camera simulator on 127.0.0.1 and opens the
# viewer with that address already filled in: press Start to see live video.
# Closing the viewer stops the simulator.
#
# Usage: tools/demo.sh [PORT]    (default 5000; another port must then be
#                                 typed into the viewer's Port field)
# Environment: ORVEX_DEMO_BUILD  build folder (default build-demo)
set -euo pipefail
cd "$(dirname "$0")/.."

port="${1:-5000}"
build="${ORVEX_DEMO_BUILD:-build-demo}"
if ! [[ "$port" =~ ^[0-9]+$ ]] || [ "$port" -lt 1 ] || [ "$port" -gt 65535 ]; then
    echo "demo.sh: the port must be a number from 1 to 65535, not '$port'" >&2
    exit 2
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo.sh: no display found (DISPLAY is not set): run this from a desktop session" >&2
    exit 1
fi

tools/deps.sh build

# The preset demo, in CMakePresets.json: Release, 127.0.0.1, no tests.
cmake --preset demo -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target orvex orvex-camsim

camsim="$build/tools/camsim/orvex-camsim"
log="$(mktemp)"
"$camsim" --listen 127.0.0.1 --port "$port" --status-every 0 >"$log" 2>&1 &
camsim_pid=$!
stop_camsim() {
    kill "$camsim_pid" 2>/dev/null || true
    wait "$camsim_pid" 2>/dev/null || true
    rm -f "$log"
}
trap stop_camsim EXIT

# The simulator prints "listening on ..." once it is ready, or exits at once
# when it cannot listen.
for _ in $(seq 100); do
    grep -q '^listening on' "$log" && break
    if ! kill -0 "$camsim_pid" 2>/dev/null; then
        if grep -qi 'in use' "$log"; then
            echo "demo.sh: port $port on 127.0.0.1 is already in use by another program." >&2
            echo "  See which one with:  ss -ltnp 'sport = :$port'" >&2
            echo "  Or run the demo on another port, e.g.  tools/demo.sh 5001," >&2
            echo "  and type that port into the viewer's Port field before pressing Start." >&2
        else
            echo "demo.sh: the camera simulator did not start:" >&2
            cat "$log" >&2
        fi
        exit 1
    fi
    sleep 0.1
done
grep -q '^listening on' "$log" || {
    echo "demo.sh: the camera simulator did not get ready" >&2
    exit 1
}

echo "Camera simulator: $(grep '^listening on' "$log")"
if [ "$port" != 5000 ]; then
    echo "Type $port into the viewer's Port field, then press Start."
else
    echo "Press Start in the viewer to see the simulator's live picture."
fi
"$build/orvex"

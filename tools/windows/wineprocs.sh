# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by the checks that run programs under Wine (e2e.sh, hidpi.sh). They
# add each process they start to pids; however the script ends, those are
# ended, and the prefix's wineserver with whatever Wine still runs in it.
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

# wait_window SECONDS: prints the id of the visible Orvex window once there
# is one; fails after SECONDS. In the emulated guest a first start in a new
# prefix takes a minute, so callers are generous.
wait_window() {
    local deadline=$((SECONDS + $1)) id
    while [ $SECONDS -lt $deadline ]; do
        id=$(xdotool search --onlyvisible --name '^Orvex$' 2>/dev/null | head -n1) || true
        [ -n "$id" ] && echo "$id" && return 0
        sleep 0.5
    done
    return 1
}

# wait_port PORT SECONDS: until something listens on 127.0.0.1:PORT.
wait_port() {
    local deadline=$((SECONDS + $2))
    while [ $SECONDS -lt $deadline ]; do
        (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null && return 0
        sleep 0.2
    done
    return 1
}

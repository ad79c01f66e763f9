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

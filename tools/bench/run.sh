#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the benchmarks and the camera simulator in Release, in build-bench/,
# runs them and prints one Markdown table (progress goes to stderr).
# Usage: tools/bench/run.sh [--rounds N] [--seconds S] [--latency-seconds S] [--ffmpeg none]
#        tools/bench/run.sh --only-kinds [--kinds PATTERN] [--rounds N] [--latency-seconds S]
#        (each kind of frame at 30 fps against libjpeg-turbo's whole decode, alone)
# The machine is best left idle meanwhile: the numbers are CPU times and
# latencies, and a busy neighbour shows in both.
set -euo pipefail
cd "$(dirname "$0")/../.."

build="build-bench" # the preset bench's folder
tools/deps.sh bench
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$(nproc)" --target orvex-bench-stream orvex-bench-e2e orvex-camsim >&2

# The table of one part alone needs no stream benchmark.
for arg in "$@"; do
    case "$arg" in
    --only-kinds | --only-large)
        exec "$build/tools/bench/orvex-bench-e2e" --camsim "$build/tools/camsim/orvex-camsim" "$@"
        ;;
    esac
done

json="$(mktemp)"
trap 'rm -f "$json"' EXIT
echo "stream benchmark..." >&2
"$build/tools/bench/orvex-bench-stream" --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$json" --benchmark_out_format=json >&2
"$build/tools/bench/orvex-bench-e2e" --camsim "$build/tools/camsim/orvex-camsim" \
    --stream-json "$json" "$@"

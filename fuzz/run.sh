#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the stream fuzzer with clang and runs it for SECONDS (default 60).
# Exits non-zero when the fuzzer finds a crash, a sanitizer report, an input
# slower than 2 s or one that needs more than 512 MB.
#
# usage: fuzz/run.sh [SECONDS] [extra libFuzzer options...]
# environment: ORVEX_FUZZ_BUILD  build directory (default <repo>/build-fuzz)
#              ORVEX_FUZZ_WORK   working corpus, kept between runs
#                                (default <repo>/fuzz/corpus-work)
#              ORVEX_FUZZ_JOBS   parallel compile jobs (default 2)
set -eu

seconds=${1:-60}
[ $# -gt 0 ] && shift

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVEX_FUZZ_BUILD:-$repo/build-fuzz}
work=${ORVEX_FUZZ_WORK:-$repo/fuzz/corpus-work}
jobs=${ORVEX_FUZZ_JOBS:-2}

# The preset fuzz, in CMakePresets.json; libFuzzer needs clang.
if [ ! -f "$build/CMakeCache.txt" ]; then
    CXX=${CXX:-clang++} cmake -S "$repo" --preset fuzz -B "$build" >/dev/null
fi
cmake --build "$build" -j"$jobs" --target orvex-stream-fuzzer

# The fuzzer arms snapshots, which land next to its binary; it removes its
# own, but run it from a scratch copy so nothing ever lands in the build tree.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/orvex-fuzz.XXXXXX")

# What the fuzzer found is kept however the run ends, Ctrl-C included.
# shellcheck disable=SC2317 # called from the EXIT trap
keep_findings() {
    [ -n "$(ls -A "$scratch/artifacts" 2>/dev/null)" ] || return 0
    mkdir -p "$repo/fuzz/findings"
    cp "$scratch/artifacts/"* "$repo/fuzz/findings/"
    echo "fuzz: inputs copied to $repo/fuzz/findings/" >&2
}
trap 'keep_findings; rm -rf "$scratch"' EXIT
# A trap that did not exit would let the script carry on after Ctrl-C.
trap 'exit 130' INT
trap 'exit 143' TERM
cp "$build/fuzz/orvex-stream-fuzzer" "$scratch/"
mkdir -p "$work" "$scratch/artifacts"

# The 512 MB limit is for the viewer: ASan's default 256 MB quarantine of
# freed blocks would otherwise count against it after one large frame.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=64}"
# UBSan findings must stop the run like ASan's do.
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$repo/fuzz/lsan.supp:print_suppressions=0}"
export QT_QPA_PLATFORM=offscreen

status=0
"$scratch/orvex-stream-fuzzer" \
    -max_total_time="$seconds" -rss_limit_mb=512 -timeout=2 -max_len=65536 \
    -dict="$repo/fuzz/stream.dict" -artifact_prefix="$scratch/artifacts/" \
    -print_final_stats=1 "$@" "$work" "$repo/fuzz/corpus" || status=$?

if [ -n "$(ls -A "$scratch/artifacts")" ]; then
    # A slow-unit file alone is no finding: past -timeout the fuzzer stops
    # with a timeout- file, so a slow unit only means the process was held up.
    for artifact in "$scratch/artifacts/"*; do
        case ${artifact##*/} in
        slow-unit-*) ;;
        *) [ "$status" -eq 0 ] && status=1 ;;
        esac
    done
fi
exit "$status"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Orvex with its tests and runs them all, headless.
# Usage: tools/test.sh [--sanitize | --tsan] [--qt6]
#   (none)      the preset release, in build/
#   --sanitize  under AddressSanitizer and UndefinedBehaviorSanitizer: asan, in build-asan/
#   --tsan      under ThreadSanitizer: tsan, in build-tsan/
#   --qt6       against Qt 6 instead of Qt 5: qt6, qt6-asan or qt6-tsan, in build-qt6*/
# Environment: ORVEX_WERROR=ON turns warnings into errors (CI does this);
#              ORVEX_QT_MAJOR=6 does what --qt6 does.
set -euo pipefail
cd "$(dirname "$0")/.."

qt=${ORVEX_QT_MAJOR:-5}
sanitizer=
for arg in "$@"; do
    case "$arg" in
    --sanitize) sanitizer=asan ;;
    --tsan) sanitizer=tsan ;;
    --qt6) qt=6 ;;
    *)
        echo "usage: tools/test.sh [--sanitize | --tsan] [--qt6]" >&2
        exit 2
        ;;
    esac
done
case "$qt" in
5) needs=(test) ;;
6) needs=(test qt6) ;;
*)
    echo "test.sh: ORVEX_QT_MAJOR must be 5 or 6, not '$qt'" >&2
    exit 2
    ;;
esac
# The build's options are the preset's, in CMakePresets.json.
case "$qt,$sanitizer" in
5,) preset=release ;;
6,) preset=qt6 ;;
5,*) preset=$sanitizer ;;
6,*) preset=qt6-$sanitizer ;;
esac

tools/deps.sh "${needs[@]}"
cmake --preset "$preset" -DORVEX_WERROR="${ORVEX_WERROR:-OFF}" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
ctest --preset "$preset" -j"$(nproc)"

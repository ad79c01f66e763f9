#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Orvex with its tests and runs them all, headless.
# Usage: tools/test.sh [--sanitize | --tsan] [--qt6]
#   --sanitize  under AddressSanitizer and UndefinedBehaviorSanitizer, in build-asan/
#   --tsan      under ThreadSanitizer, in build-tsan/
#   --qt6       against Qt 6 instead of Qt 5, in build-qt6/ (or build-qt6-asan/, build-qt6-tsan/)
# Environment: ORVEX_WERROR=ON turns warnings into errors (CI does this);
#              ORVEX_QT_MAJOR=6 does what --qt6 does.
set -euo pipefail
cd "$(dirname "$0")/.."

qt=${ORVEX_QT_MAJOR:-5}
sanitize=
for arg in "$@"; do
    case "$arg" in
    --sanitize) sanitize=address ;;
    --tsan) sanitize=thread ;;
    --qt6) qt=6 ;;
    *)
        echo "usage: tools/test.sh [--sanitize | --tsan] [--qt6]" >&2
        exit 2
        ;;
    esac
done
case "$qt" in
5) build=build needs=(test) ;;
6) build=build-qt6 needs=(test qt6) ;;
*)
    echo "test.sh: ORVEX_QT_MAJOR must be 5 or 6, not '$qt'" >&2
    exit 2
    ;;
esac

options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$sanitize" in
address)
    build=$build-asan
    options=(-DCMAKE_BUILD_TYPE=Debug -DORVEX_SANITIZE=ON)
    ;;
thread)
    build=$build-tsan
    options=(-DCMAKE_BUILD_TYPE=Debug -DORVEX_SANITIZE_THREAD=ON)
    ;;
esac

tools/deps.sh "${needs[@]}"
cmake -S . -B "$build" "${options[@]}" -DORVEX_QT_MAJOR="$qt" \
    -DORVEX_WERROR="${ORVEX_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"

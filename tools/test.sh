#!/usr/bin/env bash
# Builds Orvex with its tests and runs them all, headless.
# Usage: tools/test.sh [--sanitize]
# Environment: ORVEX_WERROR=ON turns warnings into errors (CI does this).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
    build=build-asan
    options=(-DCMAKE_BUILD_TYPE=Debug -DORVEX_SANITIZE=ON)
fi

tools/deps.sh test
cmake -S . -B "$build" "${options[@]}" -DORVEX_WERROR="${ORVEX_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"

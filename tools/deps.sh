#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian/Ubuntu packages Orvex needs that are not there yet.
# Usage: tools/deps.sh [build|test|format|lint|fuzz|bench|qt6]...   (default: build)
set -euo pipefail

packages=(build-essential cmake qtbase5-dev libjpeg-dev)
for need in "${@:-build}"; do
    case "$need" in
    build) ;;
    # The display-scale check runs the real program on a virtual X display;
    # nft drops a connection's packets in the keepalive test's own namespace.
    test) packages+=(xvfb x11-xserver-utils x11-utils xdotool imagemagick python3 fonts-dejavu-core
        nftables) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    format) packages+=(clang-format git) ;;
    lint) packages+=(shellcheck git) ;;
    bench) packages+=(libbenchmark-dev libturbojpeg0-dev ffmpeg) ;;
    # Qt 6's JPEG, offscreen and xcb plugins come with its GUI library.
    qt6) packages+=(qt6-base-dev) ;;
    *)
        echo "deps.sh: unknown need '$need'" >&2
        exit 2
        ;;
    esac
done

exec "$(dirname "$0")/install-packages.sh" --for deps.sh "${packages[@]}"

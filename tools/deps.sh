#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages Orvex needs that are not there yet.
# Usage: tools/deps.sh [build|test|format|fuzz|bench|qt6]...   (default: build)
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
    bench) packages+=(libbenchmark-dev libturbojpeg0-dev ffmpeg) ;;
    # Qt 6's JPEG, offscreen and xcb plugins come with its GUI library.
    qt6) packages+=(qt6-base-dev) ;;
    *)
        echo "deps.sh: unknown need '$need'" >&2
        exit 2
        ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

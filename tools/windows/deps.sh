#!/usr/bin/env bash
# Installs the Debian packages the Windows build and its tests under Wine
# need (cross compilers, Wine, a virtual display), where they are missing.
# Usage: tools/windows/deps.sh
set -euo pipefail

packages=(cmake make g++ perl python3 dpkg-dev file zip unzip
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386 xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
# Wine runs 32-bit Windows programs with its i386 half.
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

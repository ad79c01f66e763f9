#!/usr/bin/env bash
# Installs the Debian packages the Windows build and its tests under Wine
# need (cross compilers, Wine, a virtual display), where they are missing.
# Wine's 32-bit half, and with it the i386 architecture, only where the
# kernel runs 32-bit programs: elsewhere it cannot start, and its i386
# packages would only make every later apt-get update depend on one more
# index.
# Usage: tools/windows/deps.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(cmake make g++ perl python3 dpkg-dev file zip unzip nasm
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core)

if reason=$("$here/runs-32bit.sh"); then
    packages+=(wine32:i386)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        sudo=()
        [ "$(id -u)" -eq 0 ] || sudo=(sudo)
        "${sudo[@]}" dpkg --add-architecture i386
    fi
else
    # The 32-bit programs are then tested in an emulated i386 guest.
    echo "windows/deps.sh: not installing Wine's 32-bit half: $reason"
    packages+=(qemu-system-x86 qemu-user-static debootstrap e2fsprogs)
fi
exec "$here/../install-packages.sh" --for windows/deps.sh "${packages[@]}"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the Windows build and its tests under Wine
# need (cross compilers, Wine, a virtual display), where they are missing.
#
# Wine's 32-bit half, and with it the i386 architecture, only where the
# kernel runs 32-bit programs: elsewhere it cannot start, and its i386
# packages would only make every later apt-get update depend on one more
# index. Where it cannot be had, or cannot run, the 32-bit programs are
# tested in an emulated i386 guest instead (tools/windows/guest.sh), and
# what that guest is made with is installed.
# Usage: tools/windows/deps.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(cmake make g++ perl python3 dpkg-dev file zip unzip nasm nsis
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core)
guest=(qemu-system-x86 qemu-user-static debootstrap e2fsprogs util-linux)

install() { "$here/../install-packages.sh" --for windows/deps.sh "$@"; }

if ! reason=$("$here/runs-32bit.sh"); then
    echo "windows/deps.sh: not installing Wine's 32-bit half: $reason"
    install "${packages[@]}" "${guest[@]}"
    exit
fi

install "${packages[@]}"
# Where it fails, the i386 architecture it brings in goes again.
install wine32:i386 && exit 0
# Typically its i386 libraries must match the amd64 ones of the security
# archive, whose i386 index a mirror in mid-sync may lack.
echo "windows/deps.sh: without Wine's 32-bit half, the 32-bit programs are tested in an emulated i386 guest"
install "${guest[@]}"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The image libraries the Windows programs decode camera bytes with, as
# Debian 12 ships them: Debian's source packages of libjpeg-turbo (its SIMD
# code assembled with nasm) and zlib, Debian's patches applied, cross-built
# as static libraries for mingw-w64. Linux builds use the very same releases
# from Debian's binary packages, which is what the fuzzer and the sanitizers
# exercise; nobody patches the copies bundled in Qt's source.
#
# Usage: tools/windows/libs.sh sources              one line per library:
#                                                   its source package folder
#        tools/windows/libs.sh i686|x86_64 PREFIX   builds and installs them
#                                                   into PREFIX/include, /lib
# Progress goes to stderr.
set -euo pipefail
shopt -s inherit_errexit
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

# Debian 12's upstream releases. A Debian revision of them (a security fix)
# is taken up when its source is fetched anew (see sources.sh).
libraries=(libjpeg-turbo:2.1.5 zlib:1.2.13)

what=${1:?usage: libs.sh sources | libs.sh i686|x86_64 PREFIX}
if [ "$what" = sources ]; then
    for library in "${libraries[@]}"; do
        "$here/sources.sh" "${library%%:*}" "${library#*:}" | tail -n1
    done
    exit 0
fi
case "$what" in
i686 | x86_64) ;;
*)
    echo "libs.sh: unknown architecture '$what'" >&2
    exit 2
    ;;
esac
arch=$what
prefix=${2:?usage: libs.sh i686|x86_64 PREFIX}
triple=$arch-w64-mingw32
jobs=${ORVEX_QT_JOBS:-2}

work=$(mktemp -d "${TMPDIR:-/tmp}/orvex-libs.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$prefix/include" "$prefix/lib"

# unpack <package> <version>: the source with Debian's patches, in
# $work/<package>; sets $dsc.
unpack() {
    local dir
    dir=$("$here/sources.sh" "$1" "$2" | tail -n1)
    dsc=$(cat "$dir/.orvex-complete")
    dpkg-source --no-check -x "$dir/$dsc" "$work/$1" >&2
    # The build date libjpeg-turbo embeds, from Debian's changelog: the same
    # source gives the same library.
    SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$work/$1/debian/changelog" -S Timestamp)
    export SOURCE_DATE_EPOCH
}

for library in "${libraries[@]}"; do
    package=${library%%:*}
    unpack "$package" "${library#*:}"
    src=$work/$package
    echo "Building $package for $arch" >&2
    case "$package" in
    libjpeg-turbo)
        # REQUIRE_SIMD: a build that quietly lost its SIMD code would decode
        # several times slower.
        cmake -S "$src" -B "$work/build-$package" \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
            -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
            -DWITH_SIMD=ON -DREQUIRE_SIMD=ON >&2
        cmake --build "$work/build-$package" --target jpeg-static -j"$jobs" >&2
        cp "$work/build-$package/libjpeg.a" "$prefix/lib/"
        cp "$src"/{jpeglib.h,jerror.h,jmorecfg.h} "$work/build-$package/jconfig.h" "$prefix/include/"
        ;;
    zlib)
        (cd "$src" && CHOST=$triple CC=$triple-gcc-posix AR=$triple-ar RANLIB=$triple-ranlib \
            CFLAGS="-O3 -Wall -D_REENTRANT" ./configure --static --prefix="$prefix" >&2 &&
            make -j"$jobs" libz.a >&2)
        cp "$src/libz.a" "$prefix/lib/"
        cp "$src"/{zlib.h,zconf.h} "$prefix/include/"
        ;;
    esac
    # For the zip's notices: the licence and the exact source package.
    notes=$prefix/share/orvex-libs/$package
    mkdir -p "$notes"
    cp "$src"/LICENSE* "$notes/"
    echo "${dsc%.dsc}" >"$notes/source"
done

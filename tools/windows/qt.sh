#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds a static release Qt (qtbase only) for a mingw-w64 cross target from
# Debian's qtbase source package, and caches the installed result.
# Usage: tools/windows/qt.sh i686|x86_64   prints the installed Qt's prefix
#        tools/windows/qt.sh source        prints the folder holding the
#                                          source package (.dsc and tarballs)
# Only the last line of output is the answer; progress goes to stderr.
#
# A built Qt is cached, keyed by its configure options, the cross compiler's
# version and the exact source packages it is built from (sources.sh caches
# those). The stamp inside an entry is written last: an entry without it is
# half-written and never used.
set -euo pipefail
# Also inside $(...), where bash would otherwise go on past a failure: a
# download that failed half-way must never be stamped complete.
shopt -s inherit_errexit

what=${1:?usage: qt.sh i686|x86_64|source}
case "$what" in
i686 | x86_64 | source) ;;
*)
    echo "qt.sh: unknown architecture '$what'" >&2
    exit 2
    ;;
esac

qt_version=5.15.8
cache=${XDG_CACHE_HOME:-$HOME/.cache}/orvex
mkdir -p "$cache"

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$("$here/sources.sh" qtbase-opensource-src "$qt_version" | tail -n1)
if [ "$what" = source ]; then
    echo "$source_dir"
    exit 0
fi

arch=$what
cross=$arch-w64-mingw32-
jobs=${ORVEX_QT_JOBS:-2}
# Debian's own libjpeg-turbo and zlib (tools/windows/libs.sh) are built into
# the same prefix first and found there; PNG, GIF and ICO are left out: the
# programs read and write JPEG only.
options=(
    -xplatform win32-g++ -device-option "CROSS_COMPILE=$cross"
    -static -static-runtime -release -opensource -confirm-license
    -nomake examples -nomake tests
    -no-opengl -no-direct2d -no-openssl -no-dbus -no-icu -no-fontconfig
    -system-zlib -system-libjpeg -no-libpng -no-gif -no-ico
    -qt-pcre -qt-freetype -qt-harfbuzz
    -no-feature-sql -no-feature-xml -no-feature-concurrent -no-feature-printer
    -no-feature-vulkan -no-feature-tabletevent
)

compiler=$("${cross}g++" --version | head -n1)
# The exact source packages, Qt's and the libraries', and how the libraries
# are built: a new Debian revision of any of them makes a new entry.
sources=$(cat "$source_dir/.orvex-complete"
    for dir in $("$here/libs.sh" sources); do cat "$dir/.orvex-complete"; done)
# The licence line says nothing of how the libraries are built.
key=$(printf '%s\n' "$qt_version" "$compiler" "${options[@]}" "$sources" |
    cat - <(grep -v '^# SPDX-License-Identifier:' "$here/libs.sh") | sha256sum | cut -c1-16)
prefix=$cache/qt-$qt_version-$arch-$key
stamp=$prefix/.orvex-complete

if [ -f "$stamp" ]; then
    echo "Qt $qt_version for $arch from the cache: $prefix" >&2
    echo "$prefix"
    exit 0
fi

# Built in place, since Qt's build files name the libraries' folder: an
# interrupted build leaves an entry without its stamp, removed here the
# next time. The lock keeps two builds of one entry apart.
exec 9>"$prefix.lock"
flock 9
if [ -f "$stamp" ]; then
    echo "$prefix"
    exit 0
fi
rm -rf "$prefix"
work=$(mktemp -d "$cache/work-$arch.XXXXXX")
trap 'rm -rf "$work"' EXIT
start=$SECONDS
"$here/libs.sh" "$arch" "$prefix"
dpkg-source --no-check -x "$source_dir"/qtbase-opensource-src_*.dsc "$work/src" >&2

echo "Configuring Qt $qt_version for $arch" >&2
mkdir -p "$work/build"
(cd "$work/build" && "$work/src/configure" -prefix "$prefix" "${options[@]}" \
    -I "$prefix/include" -L "$prefix/lib" >&2)
echo "Building Qt (make -j$jobs)" >&2
make -C "$work/build" -j"$jobs" >&2
make -C "$work/build" install >&2

printf '%s\nbuilt in %s s\n' "$sources" "$((SECONDS - start))" >"$stamp.tmp"
mv "$stamp.tmp" "$stamp"
echo "Qt $qt_version for $arch built in $((SECONDS - start)) s: $prefix" >&2
echo "$prefix"

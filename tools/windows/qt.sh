#!/usr/bin/env bash
# Builds a static release Qt (qtbase only) for a mingw-w64 cross target from
# Debian's qtbase source package, and caches the installed result.
# Usage: tools/windows/qt.sh i686|x86_64   prints the installed Qt's prefix
#        tools/windows/qt.sh source        prints the folder holding the
#                                          source package (.dsc and tarballs)
# Only the last line of output is the answer; progress goes to stderr.
#
# Cache entries are keyed: the source by the Qt version, a built Qt also by
# its configure options and the cross compiler's version. Each entry is made
# beside its final place and renamed into it at the end; the stamp inside is
# written last, so an entry without it is half-written and never used.
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

source_dir=$("$(dirname "$0")/sources.sh" qtbase-opensource-src "$qt_version" | tail -n1)
if [ "$what" = source ]; then
    echo "$source_dir"
    exit 0
fi

arch=$what
cross=$arch-w64-mingw32-
jobs=${ORVEX_QT_JOBS:-2}
options=(
    -xplatform win32-g++ -device-option "CROSS_COMPILE=$cross"
    -static -static-runtime -release -opensource -confirm-license
    -nomake examples -nomake tests
    -no-opengl -no-direct2d -no-openssl -no-dbus -no-icu -no-fontconfig
    -qt-zlib -qt-libjpeg -qt-libpng -qt-pcre -qt-freetype -qt-harfbuzz
    -no-feature-sql -no-feature-xml -no-feature-concurrent -no-feature-printer
    -no-feature-vulkan -no-feature-tabletevent
)

compiler=$("${cross}g++" --version | head -n1)
key=$(printf '%s\n' "$qt_version" "$compiler" "${options[@]}" | sha256sum | cut -c1-16)
prefix=$cache/qt-$qt_version-$arch-$key
stamp=$prefix/.orvex-complete

if [ -f "$stamp" ]; then
    echo "Qt $qt_version for $arch from the cache: $prefix" >&2
    echo "$prefix"
    exit 0
fi

work=$(mktemp -d "$cache/work-$arch.XXXXXX")
trap 'rm -rf "$work"' EXIT
dpkg-source --no-check -x "$source_dir"/qtbase-opensource-src_*.dsc "$work/src" >&2

echo "Configuring Qt $qt_version for $arch" >&2
mkdir -p "$work/build"
start=$SECONDS
(cd "$work/build" && "$work/src/configure" -prefix "$prefix" "${options[@]}" >&2)
echo "Building Qt (make -j$jobs)" >&2
make -C "$work/build" -j"$jobs" >&2
make -C "$work/build" install INSTALL_ROOT="$work/stage" >&2

rm -rf "$prefix"
mv "$work/stage$prefix" "$prefix"
built_from=$(cat "$source_dir/.orvex-complete")
echo "$built_from built in $((SECONDS - start)) s" >"$stamp.tmp"
mv "$stamp.tmp" "$stamp"
echo "Qt $qt_version for $arch built in $((SECONDS - start)) s: $prefix" >&2
echo "$prefix"
